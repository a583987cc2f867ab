// The scanner tests' machine: the platform's registry with .reg fixtures, real
// files, an engine with lists and a backup folder, a 64-bit system.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"
#include "modules/RegistryCleanerModule/dll/engine_state.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/path_resolution.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "modules/RegistryCleanerModule/dll/scanners/scanners.h"
#include "platform/reg_file.h"
#include "platform/unicode.h"
#include "tests/engine/engine_test_support.h"
#include "tests/platform/registry_values.h"
#include "tests/platform/temp_tree.h"
#ifndef _WIN32
#include "platform/wineprefix/prefix_registry.h"
#endif

namespace scanner_test {

constexpr uint32_t k64 = platform::kKeyAllAccess | platform::kKeyWow64_64Key;

inline std::string Utf8(std::u16string_view text) { return platform::U16ToUtf8(text); }
inline std::u16string Join(std::u16string_view a, std::u16string_view b) {
  return std::u16string(a) + u"\\" + std::u16string(b);
}

// "hex(N):" bytes of UTF-16 text with its NUL.
inline std::string HexText(int type, std::u16string_view text) {
  std::string out = "hex(" + std::to_string(type) + "):";
  char byte[8];
  for (size_t i = 0; i < text.size(); ++i) {
    std::snprintf(byte, sizeof(byte), "%02x,%02x", text[i] & 0xFF, text[i] >> 8);
    out += (i ? "," : "") + std::string(byte);
  }
  return out + ",00,00";
}

inline bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ScannerFixture : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.ok());
#ifndef _WIN32
    registry_ = std::make_unique<platform::posix::PrefixRegistry>(tree_.prefix());
#endif
    facts_.emplace(true, true, 2, registry_.get());
    SetPathResolverFacts(ResolverFacts{true, true, 2});
    AbortRequested = 0;
    TotalKeyCount = 0;
    engine_.blackList = std::make_unique<BufferedStringListW>("BlackList", 64);
    engine_.ignoreList = std::make_unique<BufferedStringListW>("IgnoreList", 256);
    engine_.runBackupFolder = backups_.path();
  }
  void TearDown() override {
    if (!cleanup_.empty()) Import(cleanup_);
    facts_.reset();
    SetPathResolverFacts(ResolverFacts{Is64BitOs, IsWow64, OsLevel});
    AbortRequested = 0;
  }

  // A path below the tree as a .reg string writes it.
  std::string Reg(std::u16string_view relative) {
    std::string out;
    for (char c : Utf8(tree_.Path(relative)))
      out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
  }
  // Imports .reg text (header optional) in the 64-bit view, as UTF-16.
  void Import(const std::string& text) {
    const std::string reg =
        text.starts_with("Windows") ? text : "Windows Registry Editor Version 5.00\r\n" + text;
    const platform::RegImportResult result = platform::ImportRegFile(
        EngineRegistry(), "\xFF\xFE" + engine_test::Utf16Le(platform::Utf8ToU16(reg)), k64);
    ASSERT_TRUE(result.recognized);
    ASSERT_EQ(result.writeError, 0u);
  }
  // Imports .reg text; each key it made (the first on each path not there
  // before) goes at the end, as Wine's registry outlives the test.
  void ImportOwned(const std::string& text) {
    const std::string lines = "\n" + text;
    for (size_t at = 0; (at = lines.find("\n[HKEY_", at)) != std::string::npos; ++at) {
      const std::string key = lines.substr(at + 2, lines.find(']', at) - at - 2);
      const platform::HKey root = key.starts_with("HKEY_CURRENT_USER")
                                      ? platform::kHkeyCurrentUser
                                      : platform::kHkeyLocalMachine;
      for (size_t slash = key.find('\\'); slash != std::string::npos;) {
        slash = key.find('\\', slash + 1);
        const std::string made = key.substr(0, slash);
        if (Exists(root, platform::Utf8ToU16(made.substr(made.find('\\') + 1)))) continue;
        if (cleanup_.find("[-" + made + "]") == std::string::npos)
          cleanup_ += "[-" + made + "]\r\n";
        break;
      }
    }
    Import(text);
  }
  bool Exists(platform::HKey root, std::u16string_view path, std::u16string_view value = u"") {
    const std::u16string found = registry_test::GetString(
        EngineRegistry(), root, path, value, platform::kKeyRead | platform::kKeyWow64_64Key);
    return found != u"<no key>" && (value.empty() || found != u"<no value>");
  }
  // A scanner's answer less what the machine gave before the import (Baseline).
  uint32_t Run(Scanner scanner, uint32_t mode) {
    engine_.mode = mode;
    return scanner(&engine_) - baseline_[{scanner, mode == KeyCount ? KeyCount : Scan}];
  }
  void Baseline(Scanner scanner) {
    for (const uint32_t mode : {KeyCount, Scan}) {
      engine_.mode = mode;
      baseline_[{scanner, mode}] = scanner(&engine_);
    }
  }
  std::string BackupText(std::u16string_view category) {
    const std::string bytes =
        engine_test::ReadBytes(backups_.File(std::u16string(category) + u".reg"));
    if (bytes.size() < 2) return bytes;
    return Utf8(std::u16string(reinterpret_cast<const char16_t*>(bytes.data() + 2),
                               (bytes.size() - 2) / 2));
  }

  TempTree tree_;
  engine_test::TempFolder backups_;
  std::unique_ptr<platform::Registry> registry_;  // the prefix's (POSIX)
  RegCleanerEngine engine_;
  std::map<std::pair<Scanner, uint32_t>, uint32_t> baseline_;  // by scanner and mode
  std::string cleanup_;
  std::optional<engine_test::FactsScope> facts_;
};

}  // namespace scanner_test
