#include "modules/RegistryCleanerModule/dll/log_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/system_text.h"

namespace {

struct Conversion {
  std::string flags;
  bool leftAlign = false;
  bool hasWidth = false;
  size_t width = 0;
  bool hasPrecision = false;
  size_t precision = 0;
  std::string length;  // "", "hh", "h", "l", "ll", "j", "z", "t", "L"
  char conversion = 0;
};

// Appends text padded to the conversion's width, without going past limit.
void AppendPadded(const Conversion& conv, std::string_view text, size_t limit, std::string* out) {
  const size_t pad = conv.hasWidth && conv.width > text.size() ? conv.width - text.size() : 0;
  auto room = [&] { return out->size() < limit ? limit - out->size() : 0; };
  if (!conv.leftAlign) out->append(std::min(pad, room()), ' ');
  out->append(text.substr(0, std::min(text.size(), room())));
  if (conv.leftAlign) out->append(std::min(pad, room()), ' ');
}

std::u16string_view WideArgument(const char16_t* text, const Conversion& conv) {
  if (text == nullptr) return u"(null)";
  size_t n = 0;
  while (text[n] != 0 && (!conv.hasPrecision || n < conv.precision)) ++n;
  return std::u16string_view(text, n);
}

// Formats one numeric conversion through the C library.
template <typename T>
void AppendNumber(const Conversion& conv, T value, size_t limit, std::string* out) {
  char format[64];
  std::snprintf(format, sizeof(format), "%%%s", conv.flags.c_str());
  // At most 5 flags, two numbers clamped to the limit and 3 more letters:
  // the whole conversion always fits.
  size_t used = std::strlen(format);
  if (conv.hasWidth) {
    std::snprintf(format + used, sizeof(format) - used, "%zu", conv.width);
    used = std::strlen(format);
  }
  if (conv.hasPrecision) {
    std::snprintf(format + used, sizeof(format) - used, ".%zu", conv.precision);
    used = std::strlen(format);
  }
  std::snprintf(format + used, sizeof(format) - used, "%s%c", conv.length.c_str(), conv.conversion);
  char small[128];
  const int n = std::snprintf(small, sizeof(small), format, value);
  if (n < 0) return;
  const size_t room = out->size() < limit ? limit - out->size() : 0;
  if (static_cast<size_t>(n) < sizeof(small)) {
    out->append(small, std::min(static_cast<size_t>(n), room));
    return;
  }
  std::string big(std::min(static_cast<size_t>(n), room) + 1, '\0');
  std::snprintf(big.data(), big.size(), format, value);
  big.pop_back();
  out->append(big);
}

}  // namespace

bool FormatLogText(const char* format, va_list args, size_t limit, std::string* out) {
  if (format == nullptr) return false;
  // Widths past the limit could only produce text that is cut anyway.
  auto clampSize = [limit](long long v) {
    return static_cast<size_t>(v < 0 ? 0
                                     : (static_cast<unsigned long long>(v) > limit ? limit : v));
  };
  const char* p = format;
  while (*p != 0) {
    if (*p != '%') {
      const char* run = p;
      while (*p != 0 && *p != '%') ++p;
      const size_t room = out->size() < limit ? limit - out->size() : 0;
      out->append(run, std::min(static_cast<size_t>(p - run), room));
      continue;
    }
    ++p;
    if (*p == '%') {
      if (out->size() < limit) out->push_back('%');
      ++p;
      continue;
    }
    Conversion conv;
    while (*p != 0 && std::strchr("-+ #0", *p) != nullptr) {
      if (*p == '-') conv.leftAlign = true;
      // Each flag once: repeats mean nothing more to printf.
      if (conv.flags.find(*p) == std::string::npos) conv.flags.push_back(*p);
      ++p;
    }
    if (*p == '*') {
      const int width = va_arg(args, int);
      if (width < 0) {
        conv.leftAlign = true;
        if (conv.flags.find('-') == std::string::npos) conv.flags.push_back('-');
      }
      conv.hasWidth = true;
      conv.width = clampSize(width < 0 ? -static_cast<long long>(width) : width);
      ++p;
    } else if (*p >= '0' && *p <= '9') {
      long long width = 0;
      while (*p >= '0' && *p <= '9') width = std::min(width * 10 + (*p++ - '0'), 1ll << 40);
      conv.hasWidth = true;
      conv.width = clampSize(width);
    }
    if (*p == '.') {
      ++p;
      long long precision = 0;
      if (*p == '*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= '0' && *p <= '9')
          precision = std::min(precision * 10 + (*p++ - '0'), 1ll << 40);
      }
      conv.hasPrecision = precision >= 0;  // a negative precision counts as none
      conv.precision = clampSize(precision);
    }
    if ((p[0] == 'h' && p[1] == 'h') || (p[0] == 'l' && p[1] == 'l')) {
      conv.length.assign(2, *p);  // "hh" or "ll"
      p += 2;
    } else if (*p != 0 && std::strchr("hljztL", *p) != nullptr) {
      conv.length.assign(1, *p);
      ++p;
    }
    conv.conversion = *p;
    if (conv.conversion == 0) return false;
    ++p;
    const std::string& len = conv.length;
    switch (conv.conversion) {
      case 'd':
      case 'i':
        if (len == "l") {
          AppendNumber(conv, va_arg(args, long), limit, out);
        } else if (len == "ll") {
          AppendNumber(conv, va_arg(args, long long), limit, out);
        } else if (len == "j") {
          AppendNumber(conv, va_arg(args, intmax_t), limit, out);
        } else if (len == "z" || len == "t") {
          AppendNumber(conv, va_arg(args, ptrdiff_t), limit, out);
        } else if (len.empty() || len == "h" || len == "hh") {
          AppendNumber(conv, va_arg(args, int), limit, out);
        } else {
          return false;
        }
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        if (len == "l") {
          AppendNumber(conv, va_arg(args, unsigned long), limit, out);
        } else if (len == "ll") {
          AppendNumber(conv, va_arg(args, unsigned long long), limit, out);
        } else if (len == "j") {
          AppendNumber(conv, va_arg(args, uintmax_t), limit, out);
        } else if (len == "z" || len == "t") {
          AppendNumber(conv, va_arg(args, size_t), limit, out);
        } else if (len.empty() || len == "h" || len == "hh") {
          AppendNumber(conv, va_arg(args, unsigned int), limit, out);
        } else {
          return false;
        }
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (len == "L") {
          AppendNumber(conv, va_arg(args, long double), limit, out);
        } else if (len.empty() || len == "l") {
          conv.length.clear();
          AppendNumber(conv, va_arg(args, double), limit, out);
        } else {
          return false;
        }
        break;
      case 'p':
        if (!len.empty()) return false;
        AppendNumber(conv, va_arg(args, void*), limit, out);
        break;
      case 'c':
        if (len == "l") {
          const char16_t unit = static_cast<char16_t>(va_arg(args, int));
          AppendPadded(conv, platform::U16ToAnsi(std::u16string_view(&unit, 1)), limit, out);
        } else if (len.empty()) {
          const char c = static_cast<char>(va_arg(args, int));
          AppendPadded(conv, std::string_view(&c, 1), limit, out);
        } else {
          return false;
        }
        break;
      case 's':
      case 'S':
        if (len == "l" || conv.conversion == 'S') {
          if (!len.empty() && len != "l") return false;
          const char16_t* text = va_arg(args, const char16_t*);
          if (conv.hasWidth) {
            AppendPadded(conv, platform::U16ToAnsi(WideArgument(text, conv)), limit, out);
          } else {
            // Nothing to pad: converted onto the line, then cut at the limit.
            const size_t start = out->size();
            platform::AppendAnsi(out, WideArgument(text, conv));
            if (out->size() > limit) out->resize(std::max(start, limit));
          }
        } else if (len.empty() || len == "h") {
          const char* text = va_arg(args, const char*);
          std::string_view view = text == nullptr ? std::string_view("(null)") : text;
          if (conv.hasPrecision && text != nullptr) {
            size_t n = 0;
            while (n < conv.precision && text[n] != 0) ++n;
            view = std::string_view(text, n);
          }
          AppendPadded(conv, view, limit, out);
        } else {
          return false;
        }
        break;
      default:
        // "%n" writes through a pointer, and unknown letters would leave the
        // remaining arguments out of step: both are faults.
        return false;
    }
  }
  return true;
}
