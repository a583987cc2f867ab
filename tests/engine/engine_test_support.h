// The engine tests' helpers: a throwaway folder, clocks, the machine's facts.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/registry_access.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace engine_test {

// A folder below Z:\tmp (/tmp, also under Wine), removed with its files.
class TempFolder {
 public:
  explicit TempFolder(platform::FileSystem* fs = platform::FileSystem::Default()) : fs_(fs) {
    std::random_device random;
    const std::string name =
        "Z:\\tmp\\regclean-test-" + std::to_string(random()) + "-" + std::to_string(random());
    path_.assign(name.begin(), name.end());
    EXPECT_TRUE(fs_->CreateDirectory(path_)) << "cannot create the test folder";
  }
  ~TempFolder() {
    std::vector<platform::DirectoryEntry> entries;
    if (fs_->ListDirectory(path_, &entries))
      for (const auto& entry : entries) fs_->DeleteFile(path_ + u"\\" + entry.name);
    fs_->RemoveDirectory(path_);
  }
  const std::u16string& path() const { return path_; }
  std::u16string File(std::u16string_view name) const {
    return path_ + u"\\" + std::u16string(name);
  }
  // The same path in the ANSI code page, for the log's constructor.
  std::string AnsiFile(std::string_view name) const {
    return std::string(path_.begin(), path_.end()) + "\\" + std::string(name);
  }

 private:
  platform::FileSystem* fs_;
  std::u16string path_;
};

inline std::string ReadBytes(std::u16string_view path) {
  std::string bytes;
  if (!platform::ReadWholeFile(platform::FileSystem::Default(), path, &bytes)) return "<missing>";
  return bytes;
}

inline void WriteBytes(std::u16string_view path, std::string_view bytes) {
  ASSERT_TRUE(platform::WriteWholeFile(platform::FileSystem::Default(), path, bytes));
}

// UTF-16 LE bytes of a text (every target is little-endian).
inline std::string Utf16Le(std::u16string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// A clock fixed at a local time and UTC file time; Sleep returns at once, counted.
class FixedClock : public platform::SystemWrapper {
 public:
  FixedClock() : SystemWrapper(platform::System::Default()) {}
  platform::LocalTime GetLocalTime() override { return localTime; }
  uint64_t GetSystemTimeAsFileTime() override { return fileTime; }
  void Sleep(uint32_t milliseconds) override {
    ++sleeps;
    sleptMs += milliseconds;
  }

  platform::LocalTime localTime{2014, 1, 5, 31, 9, 5, 7, 123};
  uint64_t fileTime = 0;
  std::atomic<int> sleeps{0};
  std::atomic<uint64_t> sleptMs{0};
};

// Is64BitOs, IsWow64, OsLevel and the engine's registry, put back at the end.
class FactsScope {
 public:
  FactsScope(bool is64, bool wow64, int level, platform::Registry* registry = nullptr)
      : saved_(Is64BitOs, IsWow64, OsLevel) {
    std::tie(Is64BitOs, IsWow64, OsLevel) = std::tuple(is64, wow64, level);
    SetEngineRegistry(registry);
  }
  ~FactsScope() {
    std::tie(Is64BitOs, IsWow64, OsLevel) = saved_;
    SetEngineRegistry(nullptr);
  }

 private:
  const std::tuple<bool, bool, int> saved_;
};

// A machine whose clock and uptime a test moves.
class Uptime : public platform::SystemWrapper {
 public:
  Uptime() : SystemWrapper(platform::System::Default()) {}
  uint64_t GetSystemTimeAsFileTime() override { return now; }
  uint64_t GetTickCount64() override { return uptimeMs; }
  uint64_t now = 0;
  uint64_t uptimeMs = 0;
};

inline std::vector<std::u16string> Texts(const BufferedStringListW& list) {
  std::vector<std::u16string> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.emplace_back(list.At(i));
  return out;
}

}  // namespace engine_test
