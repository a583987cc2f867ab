#include "modules/RegistryCleanerModule/dll/log_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/system_text.h"

namespace {

struct Spec {
  std::string flags;
  bool leftAlign = false;
  bool hasWidth = false;
  size_t width = 0;
  bool hasPrecision = false;
  size_t precision = 0;
  std::string length;  // "", "hh", "h", "l", "ll", "j", "z", "t", "L"
  char conversion = 0;
};

// Appends text padded to the spec's width, without going past limit.
void AppendPadded(const Spec& spec, std::string_view text, size_t limit, std::string* out) {
  const size_t pad = spec.hasWidth && spec.width > text.size() ? spec.width - text.size() : 0;
  auto room = [&] { return out->size() < limit ? limit - out->size() : 0; };
  if (!spec.leftAlign) out->append(std::min(pad, room()), ' ');
  out->append(text.substr(0, std::min(text.size(), room())));
  if (spec.leftAlign) out->append(std::min(pad, room()), ' ');
}

std::u16string_view WideArgument(const char16_t* text, const Spec& spec) {
  if (text == nullptr) return u"(null)";
  size_t n = 0;
  while (text[n] != 0 && (!spec.hasPrecision || n < spec.precision)) ++n;
  return std::u16string_view(text, n);
}

// Formats one numeric conversion through the C library.
template <typename T>
void AppendNumber(const Spec& spec, T value, size_t limit, std::string* out) {
  char format[64];
  std::snprintf(format, sizeof(format), "%%%s", spec.flags.c_str());
  // At most 5 flags, two numbers clamped to the limit and 3 more letters:
  // the specification always fits.
  size_t used = std::strlen(format);
  if (spec.hasWidth) {
    std::snprintf(format + used, sizeof(format) - used, "%zu", spec.width);
    used = std::strlen(format);
  }
  if (spec.hasPrecision) {
    std::snprintf(format + used, sizeof(format) - used, ".%zu", spec.precision);
    used = std::strlen(format);
  }
  std::snprintf(format + used, sizeof(format) - used, "%s%c", spec.length.c_str(), spec.conversion);
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
    Spec spec;
    while (*p != 0 && std::strchr("-+ #0", *p) != nullptr) {
      if (*p == '-') spec.leftAlign = true;
      // Each flag once: repeats mean nothing more to printf.
      if (spec.flags.find(*p) == std::string::npos) spec.flags.push_back(*p);
      ++p;
    }
    if (*p == '*') {
      const int width = va_arg(args, int);
      if (width < 0) {
        spec.leftAlign = true;
        if (spec.flags.find('-') == std::string::npos) spec.flags.push_back('-');
      }
      spec.hasWidth = true;
      spec.width = clampSize(width < 0 ? -static_cast<long long>(width) : width);
      ++p;
    } else if (*p >= '0' && *p <= '9') {
      long long width = 0;
      while (*p >= '0' && *p <= '9') width = std::min(width * 10 + (*p++ - '0'), 1ll << 40);
      spec.hasWidth = true;
      spec.width = clampSize(width);
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
      spec.hasPrecision = precision >= 0;  // a negative precision counts as none
      spec.precision = clampSize(precision);
    }
    if ((p[0] == 'h' && p[1] == 'h') || (p[0] == 'l' && p[1] == 'l')) {
      spec.length.assign(2, *p);  // "hh" or "ll"
      p += 2;
    } else if (*p != 0 && std::strchr("hljztL", *p) != nullptr) {
      spec.length.assign(1, *p);
      ++p;
    }
    spec.conversion = *p;
    if (spec.conversion == 0) return false;
    ++p;
    const std::string& len = spec.length;
    switch (spec.conversion) {
      case 'd':
      case 'i':
        if (len == "l") {
          AppendNumber(spec, va_arg(args, long), limit, out);
        } else if (len == "ll") {
          AppendNumber(spec, va_arg(args, long long), limit, out);
        } else if (len == "j") {
          AppendNumber(spec, va_arg(args, intmax_t), limit, out);
        } else if (len == "z" || len == "t") {
          AppendNumber(spec, va_arg(args, ptrdiff_t), limit, out);
        } else if (len.empty() || len == "h" || len == "hh") {
          AppendNumber(spec, va_arg(args, int), limit, out);
        } else {
          return false;
        }
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        if (len == "l") {
          AppendNumber(spec, va_arg(args, unsigned long), limit, out);
        } else if (len == "ll") {
          AppendNumber(spec, va_arg(args, unsigned long long), limit, out);
        } else if (len == "j") {
          AppendNumber(spec, va_arg(args, uintmax_t), limit, out);
        } else if (len == "z" || len == "t") {
          AppendNumber(spec, va_arg(args, size_t), limit, out);
        } else if (len.empty() || len == "h" || len == "hh") {
          AppendNumber(spec, va_arg(args, unsigned int), limit, out);
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
          AppendNumber(spec, va_arg(args, long double), limit, out);
        } else if (len.empty() || len == "l") {
          spec.length.clear();
          AppendNumber(spec, va_arg(args, double), limit, out);
        } else {
          return false;
        }
        break;
      case 'p':
        if (!len.empty()) return false;
        AppendNumber(spec, va_arg(args, void*), limit, out);
        break;
      case 'c':
        if (len == "l") {
          const char16_t unit = static_cast<char16_t>(va_arg(args, int));
          AppendPadded(spec, platform::U16ToAnsi(std::u16string_view(&unit, 1)), limit, out);
        } else if (len.empty()) {
          const char c = static_cast<char>(va_arg(args, int));
          AppendPadded(spec, std::string_view(&c, 1), limit, out);
        } else {
          return false;
        }
        break;
      case 's':
      case 'S':
        if (len == "l" || spec.conversion == 'S') {
          if (!len.empty() && len != "l") return false;
          const char16_t* text = va_arg(args, const char16_t*);
          AppendPadded(spec, platform::U16ToAnsi(WideArgument(text, spec)), limit, out);
        } else if (len.empty() || len == "h") {
          const char* text = va_arg(args, const char*);
          std::string_view view = text == nullptr ? std::string_view("(null)") : text;
          if (spec.hasPrecision && text != nullptr) {
            size_t n = 0;
            while (n < spec.precision && text[n] != 0) ++n;
            view = std::string_view(text, n);
          }
          AppendPadded(spec, view, limit, out);
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
