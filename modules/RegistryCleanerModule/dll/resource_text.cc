#include "modules/RegistryCleanerModule/dll/resource_text.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace {

constexpr size_t kTextUnits = 1024;

// Replaces every "%" digits "%" with "%s".
std::u16string PlaceholdersToFormat(const std::u16string& text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == u'%') {
      size_t j = i + 1;
      while (j < text.size() && text[j] >= u'0' && text[j] <= u'9') ++j;
      if (j > i + 1 && j < text.size() && text[j] == u'%') {
        out += u"%s";
        i = j + 1;
        continue;
      }
    }
    out.push_back(text[i++]);
  }
  return out;
}

std::u16string Format(const std::u16string& format,
                      std::initializer_list<std::u16string_view> args) {
  std::u16string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size()) {
      if (format[i + 1] == u's') {
        if (next != args.end()) out.append(*next++);
        ++i;
        continue;
      }
      if (format[i + 1] == u'%') {
        out.push_back(u'%');
        ++i;
        continue;
      }
    }
    out.push_back(format[i]);
  }
  return out;
}

std::mutex g_rotationLock;

}  // namespace

const char16_t* LoadResourceText(platform::ResourceModule module, uint32_t id,
                                 std::initializer_list<std::u16string_view> args) {
  static char16_t buffers[16][kTextUnits];
  static unsigned next = 0;

  std::u16string text;
  if (!platform::LoadStringResource(module, id, &text)) {
    char missing[64];
    std::snprintf(missing, sizeof(missing), "String IDS %u not found in dll...", id);
    text.assign(missing, missing + std::char_traits<char>::length(missing));
  } else if (text.find(u'%') != std::u16string::npos) {
    text = Format(PlaceholdersToFormat(text), args);
  }
  std::lock_guard<std::mutex> lock(g_rotationLock);
  char16_t* buffer = buffers[next++ % 16];
  const size_t n = text.size() < kTextUnits ? text.size() : kTextUnits - 1;
  text.copy(buffer, n);
  buffer[n] = 0;
  return buffer;
}

const char16_t* FormatCount(int32_t value) {
  static char16_t buffers[16][64];
  static unsigned next = 0;
  char digits[16];
  const int n = std::snprintf(digits, sizeof(digits), "%d", value);
  std::lock_guard<std::mutex> lock(g_rotationLock);
  char16_t* buffer = buffers[next++ % 16];
  for (int i = 0; i < n; ++i) buffer[i] = static_cast<char16_t>(digits[i]);
  buffer[n] = 0;
  return buffer;
}
