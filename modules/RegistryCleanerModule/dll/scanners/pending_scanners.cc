// The categories whose tests are not built yet: each runs the common frame
// (its start and stop lines, an empty backup file discarded) over no scan
// roots, so it counts and reports 0 until its own walk is added.
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanners.h"

namespace {

uint32_t ScanNothingYet(RegCleanerEngine* engine, const char16_t* category,
                        bool forgetLastSection) {
  ScannerFrame frame(engine, category, forgetLastSection);
  if (!frame.Begin()) return 0;
  return frame.End();
}

}  // namespace

uint32_t ScanFileTypes(RegCleanerEngine* engine) {
  return ScanNothingYet(engine, kFileTypeCategory, false);
}
uint32_t ScanExplorerFileExtensions(RegCleanerEngine* engine) {
  return ScanNothingYet(engine, kExplorerExtensionCategory, false);
}
