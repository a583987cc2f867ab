#include "modules/RegistryCleanerModule/dll/my_logfile.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/system_text.h"
#include "tests/engine/engine_test_support.h"

namespace {

using engine_test::FixedClock;
using engine_test::ReadBytes;
using engine_test::TempFolder;

constexpr uint32_t kEngineLogBuffer = 0x400000;
constexpr uint32_t kEngineLogFlags = MyLogfile::kCloseAfterWrite;
constexpr uint32_t kEngineLogLimit = 0xc800000;

class MyLogfileTest : public ::testing::Test {
 protected:
  std::unique_ptr<MyLogfile> NewLog(const std::string& name, uint32_t buffer = kEngineLogBuffer,
                                    uint32_t flags = kEngineLogFlags) {
    return std::make_unique<MyLogfile>(folder_.AnsiFile(name).c_str(), buffer, flags,
                                       kEngineLogLimit, platform::FileSystem::Default(), &clock_);
  }
  std::string Contents(const std::string& name) {
    return ReadBytes(folder_.File(std::u16string(name.begin(), name.end())));
  }

  TempFolder folder_;
  FixedClock clock_;
};

TEST_F(MyLogfileTest, EveryPrefixStyleReadsAsDocumented) {
  const std::string lines[] = {
      "Start: RegCleanerThread, mode: Scan\r\n",
      "09:05:07,123 -> Start: RegCleanerThread, mode: Scan\r\n",
      "09:05:07,123 lv:06 -> Start: RegCleanerThread, mode: Scan\r\n",
      "2014-01-31 09:05:07,123 -> Start: RegCleanerThread, mode: Scan\r\n",
      "2014-01-31 09:05:07,123 lv:06 -> Start: RegCleanerThread, mode: Scan\r\n"};
  auto log = NewLog("styles.log");
  for (int style = 0; style < 5; ++style) {
    log->SetPrefixStyle(style);
    EXPECT_EQ(log->Printf(6, "Start: %ls, mode: %ls", u"RegCleanerThread", u"Scan"),
              static_cast<int>(lines[style].size()));
  }
  log->Flush();
  EXPECT_EQ(Contents("styles.log"), lines[0] + lines[1] + lines[2] + lines[3] + lines[4]);
}

// The process-wide log too, which goes with its object.
TEST_F(MyLogfileTest, ALineAtTheLevelIsWrittenAndOneAboveIsNot) {
  EXPECT_EQ(EngineLogPrintf(3, "nowhere"), 0);
  auto log = NewLog("level.log");
  SetEngineLog(log.get());
  EXPECT_EQ(log->Level(), 12);
  EXPECT_GT(EngineLogPrintf(12, "twelve"), 0);
  EXPECT_EQ(EngineLogPrintf(13, "thirteen"), 0);
  log->SetLevel(6);
  EXPECT_GT(log->Printf(3, "Host: %ls", u"x"), 0);
  EXPECT_EQ(log->Printf(7, "Missing: %ls", u"y"), 0);
  log->SetLevel(-1);  // signed: nothing passes, not even level 0
  EXPECT_EQ(log->Printf(0, "zero"), 0);
  log->Flush();
  EXPECT_EQ(Contents("level.log"),
            "2014-01-31 09:05:07,123 lv:12 -> twelve\r\n"
            "2014-01-31 09:05:07,123 lv:03 -> Host: x\r\n");
  log.reset();
  EXPECT_EQ(EngineLog(), nullptr);
}

// Narrow conversions follow printf; wide text goes to the ANSI code page (on POSIX UTF-8).
TEST_F(MyLogfileTest, ConversionsFollowPrintfWithWideTextInTheAnsiCodePage) {
  auto log = NewLog("conversions.log");
  log->SetPrefixStyle(0);
  log->Printf(3, "%d|%5.2f|%08X|%s|%c|%lld|%zu|%u|%-4d|%+d|%%|%.3s|%*d|%s", -42, 3.14159, 0xBEEFu,
              "text", 'Z', -1234567890123ll, static_cast<size_t>(7), 4000000000u, 5, 9, "abcdef", 4,
              12, static_cast<const char*>(nullptr));
  log->Printf(3, "Key: %ls|%-6ls|%6.2ls|%ls", u"Caf\u00e9 \u03a9", u"ab", u"xyz", nullptr);
  log->Printf(3, "%S and %lc", u"\u00e9t\u00e9", u'\u00e9');
  log->Flush();
  const std::string expected =
      "-42| 3.14|0000BEEF|text|Z|-1234567890123|7|4000000000|5   |+9|%|abc|  12|(null)\r\nKey: " +
      platform::U16ToAnsi(u"Caf\u00e9 \u03a9") + "|ab    |    xy|(null)\r\n" +
      platform::U16ToAnsi(u"\u00e9t\u00e9") + " and " + platform::U16ToAnsi(u"\u00e9") + "\r\n";
  EXPECT_EQ(Contents("conversions.log"), expected);
#ifndef _WIN32
  EXPECT_EQ(platform::U16ToAnsi(u"Caf\u00e9 \u03a9"), "Caf\xC3\xA9 \xCE\xA9");
#endif
}

// A format that cannot be served is logged as it stands; an overlong line is cut.
TEST_F(MyLogfileTest, AFormatThatCannotBeServedIsLoggedAsItStandsAndOverlongLinesAreCut) {
  auto log = NewLog("fault.log");
  log->Printf(4, "Broken %y format %d", 5);
  log->Printf(4, "");
  log->Printf(4, nullptr);
  log->Printf(4, "count%n", nullptr);
  log->PrintfRaw(nullptr);
  log->PrintfRaw("[%q]");
  log->Flush();
  EXPECT_EQ(Contents("fault.log"),
            "2014-01-31 09:05:07,123 lv:04 -> Broken %y format %d\r\n"
            "2014-01-31 09:05:07,123 lv:04 -> \r\n"
            "2014-01-31 09:05:07,123 lv:04 -> MyLogfile::FormatStringError1\r\n"
            "2014-01-31 09:05:07,123 lv:04 -> count%n\r\n"
            "MyLogfile::FormatStringError2[%q]");
  auto big = NewLog("long.log");
  EXPECT_EQ(big->Printf(6, "%s", std::string(3 * 1024 * 1024, 'x').c_str()),
            static_cast<int>(MyLogfile::kFormatLimit - 1));
  big->Flush();
  const std::string text = Contents("long.log");
  ASSERT_EQ(text.size(), MyLogfile::kFormatLimit - 1);
  EXPECT_EQ(text.substr(text.size() - 3), "x\r\n");
}

TEST_F(MyLogfileTest, LinesStayInTheBufferUntilFlushOrWhileNoFileOpens) {
  auto log = NewLog("buffer.log");
  log->Printf(6, "one");
  log->Printf(6, "two");
  EXPECT_EQ(Contents("buffer.log"), "");
  EXPECT_FALSE(log->IsOpen());  // closed between writes
  EXPECT_EQ(log->Flush(), 76u);
  EXPECT_EQ(log->SizeWithBuffer(), 76);
  EXPECT_EQ(log->Flush(), 0u);
  // Each line flushed at once; without close-after-write the file stays open, shared for reading.
  auto each = NewLog("each.log", kEngineLogBuffer, platform::kFileShareRead);
  each->SetFlushEachLine(true);
  each->PrintfRaw("@echo off%s", "\r\n");
  EXPECT_EQ(Contents("each.log"), "@echo off\r\n");
  // A file that cannot be opened keeps the lines buffered.
  auto lost = NewLog("missing\\x.log");
  EXPECT_FALSE(lost->EverOpened());
  EXPECT_EQ(clock_.sleeps, 199);  // 200 attempts, 10 ms apart
  EXPECT_EQ(clock_.sleptMs, 1990u);
  EXPECT_GT(lost->Printf(3, "kept"), 0);
  EXPECT_EQ(lost->Flush(), 0u);
  EXPECT_EQ(lost->SizeWithBuffer(), 39);
}

TEST_F(MyLogfileTest, AFullBufferIsWrittenOutBeforeTheNextText) {
  auto log = NewLog("small.log", 16);  // room for 15 bytes and a terminator
  log->WriteText("0123456789");
  EXPECT_EQ(log->WriteText("abcde"), 5);  // 10 + 5 + 1 fits exactly
  EXPECT_EQ(Contents("small.log"), "");
  log->WriteText("X");  // does not fit: the buffer goes out first
  EXPECT_EQ(Contents("small.log"), "0123456789abcde");
  // A text larger than the whole buffer goes straight to the file.
  EXPECT_EQ(log->WriteText("this text is longer than sixteen"), 32);
  EXPECT_EQ(log->WriteText(""), 0);
  log->WriteText("tail");
  log.reset();  // destruction writes the rest
  EXPECT_EQ(Contents("small.log"), "0123456789abcdeXthis text is longer than sixteentail");
}

TEST_F(MyLogfileTest, TwoLogsOnOneFileAppendInFlushOrder) {
  NewLog("shared.log")->WriteText("start\r\n");
  auto first = NewLog("shared.log");
  auto second = NewLog("shared.log");
  first->WriteText("a1\r\n");
  second->WriteText("b1\r\n");
  first->Flush();
  second->Flush();
  first->WriteText("a2\r\n");
  first->Flush();
  EXPECT_EQ(Contents("shared.log"), "start\r\na1\r\nb1\r\na2\r\n");
}

TEST_F(MyLogfileTest, LinesFromTwoThreadsStayWhole) {
  // The real clock: a thread that finds the lock taken waits 1 ms per try.
  auto log = std::make_unique<MyLogfile>(folder_.AnsiFile("threads.log").c_str(), kEngineLogBuffer,
                                         kEngineLogFlags, kEngineLogLimit);
  log->SetPrefixStyle(0);
  auto work = [&log](const char* who) {
    for (int i = 0; i < 500; ++i) log->Printf(6, "%s line %03d", who, i);
  };
  std::thread a(work, "worker");
  std::thread b(work, "module");
  a.join();
  b.join();
  log->Flush();
  // Every line whole: 15 characters and its line break.
  const std::string text = Contents("threads.log");
  ASSERT_EQ(text.size(), 1000u * 17);
  for (size_t pos = 0; pos < text.size(); pos += 17) ASSERT_EQ(text.substr(pos + 15, 2), "\r\n");
}

}  // namespace
