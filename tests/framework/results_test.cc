#include "framework/results.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/check_module.h"
#include "platform/unicode.h"

namespace {

// A module whose work does nothing; the tests fill its sub-results directly.
class SubResultsModule : public CCheckModule {
 public:
  void DoCheck() override {}
  void DoResolve() override {}
  void Add(double level, std::u16string text) { subResults.push_back({level, std::move(text)}); }
};

std::string Utf8(std::u16string_view text) { return platform::U16ToUtf8(text); }

TEST(SubResultsTest, JsonText) {
  struct Case {
    std::vector<SubResult> list;
    const char* text;
  } cases[] = {
      {{}, "[]"},
      {{{2.0, u"a"}}, R"([{"SubResultLevel":2.000000,"SubResultText":"a"}])"},
      {{{0.5, u"x"}, {-1.25, u""}},
       R"([{"SubResultLevel":0.500000,"SubResultText":"x"},)"
       R"({"SubResultLevel":-1.250000,"SubResultText":""}])"},
      // Escaped as strings are: the short escapes only, other control
      // characters and non-ASCII text copied.
      {{{100.0, u"q\"b\\n\nt\tc\x01\u00e9"}},
       "[{\"SubResultLevel\":100.000000,\"SubResultText\":\"q\\\"b\\\\n\\nt\\tc\x01\u00e9\"}]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8(SubResultsAsJson(c.list)), c.text);
  }
}

TEST(SubResultsTest, CopyOutAtTheBufferEdges) {
  SubResultsModule module;
  // Nothing written without a buffer or a size; the answer counts a terminator.
  EXPECT_EQ(module.GetSubResultsAsJSON(nullptr, 10), 3);
  char16_t buffer[64];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(module.GetSubResultsAsJSON(buffer, 0), 3);
  EXPECT_EQ(buffer[0], u'#');
  // After a copy: the whole length, without the terminator.
  EXPECT_EQ(module.GetSubResultsAsJSON(buffer, 10), 2);
  EXPECT_EQ(std::u16string(buffer), u"[]");
  EXPECT_EQ(module.GetSubResultsAsJSON(buffer, 3), 2);
  EXPECT_EQ(std::u16string(buffer), u"[]");
  EXPECT_EQ(module.GetSubResultsAsJSON(buffer, 2), 2);
  EXPECT_EQ(std::u16string(buffer), u"[");
  EXPECT_EQ(module.GetSubResultsAsJSON(buffer, 1), 2);
  EXPECT_EQ(buffer[0], 0);

  module.Add(2.0, u"a");
  const std::u16string full = u"[{\"SubResultLevel\":2.000000,\"SubResultText\":\"a\"}]";
  const int length = static_cast<int>(full.size());
  EXPECT_EQ(module.GetSubResultsAsJSON(nullptr, 0), length + 1);
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(module.GetSubResultsAsJSON(buffer, length), length);
  EXPECT_EQ(std::u16string(buffer), full.substr(0, full.size() - 1));
  EXPECT_EQ(module.GetSubResultsAsJSON(buffer, length + 1), length);
  EXPECT_EQ(std::u16string(buffer), full);
  EXPECT_EQ(buffer[length + 1], u'#');
}

}  // namespace
