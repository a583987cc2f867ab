// The pieces of the JSON writer (JsonValue::ToText) that stand on their own:
// quoting of strings and names, and the printf-style formatting of floats.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Appends text quoted and escaped as the writer writes a string value
// (isName false) or a member name (isName true) under flags.
void QuoteJsonString(std::u16string& out, std::u16string_view text, uint32_t flags, bool isName);

// The float format after settling: without options "%.*f" with precision 6;
// otherwise the options' format (null: "%.*f", or "%f" for a negative
// precision) with ".*" added for a precision of 0 or more and its star
// dropped for a negative one.
struct JsonNumberFormat {
  std::u16string format;
  int32_t precision = 6;
};
JsonNumberFormat SettleJsonNumberFormat(const char16_t* format, int32_t precision);

// Appends number printed as the C runtime's wide printf prints it with format,
// given precision as the first argument when it is 0 or more. The text is cut
// to what a buffer of max(precision, 0) + 310 units (terminator included)
// holds. Conversions that cannot take a number (%s, %c, %p, %n) and
// conversions without an argument left print nothing; a malformed conversion
// is copied as it stands.
void FormatJsonNumber(std::u16string& out, std::u16string_view format, int32_t precision,
                      double number);
