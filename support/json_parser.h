// The JSON reader behind JsonValue::Parse: a single-pass, character-driven
// state machine that keeps its open containers in the root value's parse
// stack, and the conversions it applies to every scalar.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/json_value.h"

// Turns one scalar token into value: true, false, null, a quoted string, an
// integer with the narrowest signed tag (VT_I1 ... VT_I8), or a fractional
// number (VT_R4 when it lies within the positive normal float range, else
// VT_R8). Returns 1 when value holds the token's value, 0 when the token is
// not (or not yet) a value, -1 when it is malformed (an invalid escape, a
// leading zero that the flags do not allow).
int ConvertJsonToken(JsonValue& value, std::u16string_view token, uint32_t flags);

// Replaces the escapes \" \\ \b \f \n \r \t of text in place; \/ and \uXXXX
// are checked and left as written. Returns 1 when done, 0 when an escape is
// cut off at the end, -1 for an invalid escape (the text is then rewritten up
// to that escape only).
int UnescapeJsonString(std::u16string& text);

// The classes of characters the reader tells apart: whitespace (the Unicode
// White_Space characters) and control characters (C0, DEL and C1).
bool IsJsonWhitespace(char16_t c);
bool IsJsonControl(char16_t c);

// Reads as Parse does, but re-trims and re-converts a growing token at every
// character, the way the rules are stated. Quadratic in the length of a
// string; kept only so that tests and the fuzzer can hold Parse against it.
bool ParseJsonRescanning(JsonValue& value, std::u16string_view text, uint32_t flags,
                         JsonParseError* error);
