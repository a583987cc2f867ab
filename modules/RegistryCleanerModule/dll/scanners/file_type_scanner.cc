// File name extensions registered as classes: an extension key that
// associates nothing usable any more (no class with a working verb or icon,
// no known or resolvable content type, no known or resolvable perceived
// type) is a problem. An extension with any subkey, or with more than one
// value, is always left alone.
#include <array>
#include <string>

#include "modules/RegistryCleanerModule/dll/registry_toolkit/class_checks.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanner_frame.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanners.h"

namespace {

constexpr uint32_t kTextBytes = 8192;

// The tests of one extension key share one text: a read that fails leaves
// the last text read in place, and the problem line shows it.
class ExtensionTests {
 public:
  ExtensionTests(platform::HKey key, uint32_t sam, bool want64)
      : key_(key), sam_(sam), want64_(want64) {}

  bool Valid() {
    if (Read(u"") && (CheckClass(sam_, text_) & kClassUsable) != 0) return true;
    if (Read(u"Content Type")) {
      const std::u16string contentType = text_;
      if (IsKnownContentType(contentType) != 0) return true;
      if (ExtensionWorks(contentType)) return true;
      const std::u16string clsid = MimeClsid(kClassRoots, sam_, contentType);
      if (!clsid.empty()) {
        const std::u16string server = InprocServerOf(kClassRoots, sam_, clsid);
        if (!server.empty()) {
          text_ = server;
          if (ResolveCommandToFile(&text_, kTextBytes / 2, want64_, true) != 0) return true;
        }
      }
    }
    if (Read(u"PerceivedType")) {
      const std::u16string perceivedType = text_;
      if (IsKnownPerceivedType(perceivedType) != 0) return true;
      if (ExtensionWorks(perceivedType)) return true;
    }
    return false;
  }
  const std::u16string& text() const { return text_; }

 private:
  // True when the value reads as text (which then replaces the shared text).
  bool Read(std::u16string_view name) {
    // Only the text read is kept: the room is not cleared first.
    std::array<char16_t, kTextBytes / 2> room;
    const uint32_t length = ReadStringValueUncleared(key_, u"", name, sam_, room.data(), kTextBytes);
    if (length == 0) return false;
    text_.assign(room.data(), length);
    return true;
  }
  // The MIME database names an extension for the type whose class works.
  bool ExtensionWorks(std::u16string_view type) {
    const std::u16string extension = MimeExtension(kClassRoots, sam_, type);
    return !extension.empty() && CheckClass(sam_, extension) != 0;
  }

  platform::HKey key_;
  uint32_t sam_;
  bool want64_;
  std::u16string text_;
};

// An extension key that associates nothing usable; line: its problem line.
bool UnusedExtension(const ScannerFrame& frame, const ScanRoot& scanRoot,
                     const std::u16string& extensionPath, std::u16string* line) {
  platform::Registry* registry = EngineRegistry();
  platform::HKey extension = platform::kNullKey;
  if (registry->RegOpenKeyExW(scanRoot.root, extensionPath, 0, frame.readMask(), &extension) != 0)
    return false;
  platform::RegKeyInfo info;
  const bool queried = registry->RegQueryKeyCounts(extension, &info.subKeys, &info.values) == 0;
  // Any subkey, or a second value, says the extension is still in use.
  if (!queried || info.subKeys > 0 || info.values > 1) {
    registry->RegCloseKey(extension);
    return false;
  }
  ExtensionTests tests(extension, frame.readMask(), scanRoot.view == 1);
  const bool valid = tests.Valid();
  registry->RegCloseKey(extension);
  if (valid) return false;
  *line = tests.text().empty() ? u"Missing Default Value" : u"Missing valid: " + tests.text();
  return true;
}

}  // namespace

uint32_t ScanFileTypes(RegCleanerEngine* engine) {
  ScannerFrame frame(engine, kFileTypeCategory, false);
  return frame.Run(kClassRoots, [&](uint32_t i, const ScanRoot& root) {
    frame.WalkExtensions(
        i, root, 0, [&](std::u16string_view, const std::u16string& path, std::u16string* line) {
          return UnusedExtension(frame, root, path, line);
        });
  });
}
