// Where the module's own texts live: its built-in English string table.
#pragma once

#include "platform/resources.h"

// The resource module of this library itself (its STRINGTABLE on Windows,
// its compiled table elsewhere).
platform::ResourceModule OwnResourceModule();
