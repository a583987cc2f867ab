#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/system_text.h"
#include "tests/engine/engine_test_support.h"

namespace {

using engine_test::FixedClock;
using engine_test::ReadBytes;
using engine_test::TempFolder;
using engine_test::Texts;
using engine_test::Utf16Le;
using engine_test::WriteBytes;

std::string U32(uint32_t v) {  // little-endian
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

// One SLW1 item as it stands in a file.
std::string Slw1Item(std::u16string_view text, uint32_t tag) {
  return U32(static_cast<uint32_t>(text.size() + 1)) + U32(tag) + Utf16Le(text) +
         std::string(2, '\0');
}

TEST(BufferedStringListW, KeepsTextsTagsAndChangesInOrderAndFindsIgnoringCase) {
  EXPECT_THROW(BufferedStringListW(nullptr, 8), std::invalid_argument);
  EXPECT_THROW(BufferedStringListW("", 8), std::invalid_argument);
  BufferedStringListW list("IgnoreList", 2);
  EXPECT_EQ(list.name(), "IgnoreList");
  EXPECT_EQ(list.Add(u"", 1), 0u);
  EXPECT_EQ(list.Add(std::u16string_view(u"ab\0cd", 5), 7), 3u);  // cut at the zero
  list.Add(u"Second", 9);
  list.Add(u"ab", 0);                                                            // kept twice
  for (int i = 0; i < 100; ++i) list.Add(u"grow" + std::u16string(i, u'x'), i);  // past the hint
  list.Touch();
  EXPECT_EQ(list.ChangeCount(), 104u);
  EXPECT_EQ(list.TagAt(1), 9u);
  EXPECT_EQ(list.LengthAt(102), 104u);
  EXPECT_EQ(list.At(-1), nullptr);
  EXPECT_EQ(list.TagAt(103), 0u);
  // The last match wins; lookups follow removals (which close the gap) and rewrites.
  EXPECT_EQ(list.Find(u"AB"), 2);
  EXPECT_FALSE(list.Remove(103));
  EXPECT_TRUE(list.Remove(2));
  EXPECT_EQ(list.Find(u"aB"), 0);
  EXPECT_TRUE(list.Overwrite(1, u"Thirdx"));
  EXPECT_EQ(list.Find(u"second"), -1);
  EXPECT_FALSE(list.Overwrite(102, u"x"));
  // Rewrites take index slots of their own until the index is rebuilt.
  BufferedStringListW small("IgnoreList", 4);
  small.Add(u"0x00000000", 0);
  for (char16_t digit = u'1'; digit <= u'9'; ++digit) {
    ASSERT_TRUE(small.Overwrite(0, u"0x0000000" + std::u16string(1, digit)));
    EXPECT_EQ(small.Find(u"0X0000000" + std::u16string(1, digit)), 0);
  }
}

TEST(BufferedStringListW, FindAgreesWithABackwardSearchThroughChanges) {
  // Few distinct texts in many spellings, so that hashes and texts repeat.
  std::mt19937 random(20140131);
  const std::u16string letters = u"aAbB\u00e4\u00c4";
  auto randomText = [&](size_t n) {
    std::u16string text;
    while (text.size() < n) text.push_back(letters[random() % letters.size()]);
    return text;
  };
  BufferedStringListW list("IgnoreList", 4);
  std::vector<std::u16string> model;
  for (int step = 0; step < 3000; ++step) {
    const int action = random() % 10;
    const int32_t index = model.empty() ? -1 : static_cast<int32_t>(random() % model.size());
    if (action < 5 || index < 0) {
      model.push_back(randomText(1 + random() % 3));
      list.Add(model.back(), step);
    } else if (action < 7) {
      ASSERT_TRUE(list.Remove(index));
      model.erase(model.begin() + index);
    } else if (action < 8) {  // rewrites in place keep the length, as the ignore records do
      model[index] = randomText(model[index].size());
      ASSERT_TRUE(list.Overwrite(index, model[index]));
    } else {
      const std::u16string query = randomText(1 + random() % 3);
      int32_t expected = static_cast<int32_t>(model.size()) - 1;
      while (expected >= 0 && !std::ranges::equal(model[expected], query, {}, platform::CharLower,
                                                  platform::CharLower))
        --expected;
      ASSERT_EQ(list.Find(query), expected) << "step " << step;
    }
  }
  EXPECT_EQ(Texts(list), model);
}

class SlwFileTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  FixedClock clock_;
  std::u16string file_ = folder_.File(u"IgnoreList.slw1");
};

TEST_F(SlwFileTest, SavesTheDocumentedBytesRoundTripsAndSkipsSavesWithoutChanges) {
  BufferedStringListW list("IgnoreList", 256);
  EXPECT_EQ(list.Save(file_), 0u);  // nothing to save: no file
  EXPECT_EQ(ReadBytes(file_), "<missing>");
  list.Add(u"Ab", 7);
  list.Add(u"\u00e4", 0x01020304);
  EXPECT_EQ(list.Save(file_), 2u);
  // The count, then each item: its length with the terminator, its tag, its UTF-16 text.
  const char bytes[] = "SLW1\2\0\0\0\3\0\0\0\7\0\0\0A\0b\0\0\0\2\0\0\0\4\3\2\1\xe4\0\0\0";
  EXPECT_EQ(ReadBytes(file_), std::string(bytes, sizeof(bytes) - 1));
  EXPECT_NE(list.fileTime(), 0u);
  list.Add(std::u16string(20000, u'k'), 0xFFFFFFFF);
  EXPECT_EQ(list.Save(file_), 3u);
  BufferedStringListW loaded("IgnoreList", 256);
  EXPECT_EQ(loaded.Load(file_, false), 3u);
  EXPECT_EQ(Texts(loaded), Texts(list));
  EXPECT_EQ(loaded.TagAt(2), 0xFFFFFFFFu);
  EXPECT_EQ(loaded.ChangeCount(), 0u);  // a load into an unchanged list
  // Unchanged: reported, not written (the file is gone and stays gone).
  ASSERT_TRUE(platform::FileSystem::Default()->DeleteFile(file_));
  EXPECT_EQ(loaded.Save(file_), 3u);
  EXPECT_EQ(ReadBytes(file_), "<missing>");
  // A load into a changed list counts its additions.
  list.Save(file_);
  BufferedStringListW changed("IgnoreList", 256);
  changed.Add(u"mine", 0);
  EXPECT_EQ(changed.Load(file_, false), 3u);
  EXPECT_EQ(changed.ChangeCount(), 4u);
}

TEST_F(SlwFileTest, ASaveMergesAFileThatAnotherWriterChanged) {
  const std::u16string record = u"0x00024D5B, 0x00000001, 0x01234567";
  BufferedStringListW ours("IgnoreList", 256), theirs("IgnoreList", 256);
  ours.Add(u"One", 0);
  ours.Add(record, 0);
  ASSERT_EQ(ours.Save(file_), 2u);
  ASSERT_EQ(theirs.Load(file_, false), 2u);
  // Let the file's time move on, as another process's later save does.
  platform::System::Default()->Sleep(50);
  theirs.Add(u"Two", 0);
  theirs.Add(record, 0);
  ASSERT_EQ(theirs.Save(file_), 4u);
  ours.Add(u"Three", 0);
  ours.Add(record, 0);
  EXPECT_EQ(ours.Save(file_), 6u);
  // Pairs stay together although every record reads the same.
  const std::vector<std::u16string> expected = {u"One", record, u"Three", record, u"Two", record};
  EXPECT_EQ(Texts(ours), expected);
  BufferedStringListW reread("IgnoreList", 256);
  EXPECT_EQ(reread.Load(file_, false), 6u);
  EXPECT_EQ(Texts(reread), expected);
}

TEST_F(SlwFileTest, MalformedFilesLoadWhatIsWhole) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::u16string> texts;
  } cases[] = {
      {"wrong magic", "SLW2" + U32(1) + Slw1Item(u"a", 0), {}},
      {"short head", "SLW", {}},
      {"empty", "", {}},
      {"count larger than the items",
       "SLW1" + U32(5) + Slw1Item(u"a", 0) + Slw1Item(u"b", 0),
       {u"a", u"b"}},
      {"cut inside a text",
       "SLW1" + U32(2) + Slw1Item(u"a", 0) + Slw1Item(u"bcd", 0).substr(0, 12),
       {u"a"}},
      {"an overlong item is stepped over",
       "SLW1" + U32(2) + U32(40000) + U32(0) + std::string(80000, 'z') + Slw1Item(u"after", 0),
       {u"after"}},
      {"empty item and a text without terminator",
       "SLW1" + U32(3) + U32(0) + U32(0) + U32(1) + U32(0) + std::string(2, '\0') + U32(2) +
           U32(0) + Utf16Le(u"xy"),
       {u"x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(file_, c.bytes);
    BufferedStringListW list("IgnoreList", 256);
    list.Load(file_, false);
    EXPECT_EQ(Texts(list), c.texts);
    EXPECT_EQ(list.ChangeCount(), 0u);
  }
}

// Opens fail while failOpens is not 0 (-1: always), as when the file is held; writes may be cut.
struct FlakyFileSystem : platform::FileSystemWrapper {
  FlakyFileSystem() : FileSystemWrapper(platform::FileSystem::Default()) {}
  int failOpens = 0, opens = 0;
  bool shortWrites = false;
  platform::FileHandle CreateFile(std::u16string_view path, uint32_t access, uint32_t share,
                                  uint32_t disposition) override {
    ++opens;
    if (failOpens == 0) return FileSystemWrapper::CreateFile(path, access, share, disposition);
    if (failOpens > 0) --failOpens;
    SetLastError(platform::kErrorSharingViolation);
    return nullptr;
  }
  bool WriteFile(platform::FileHandle file, const void* data, uint32_t size,
                 uint32_t* written) override {
    return FileSystemWrapper::WriteFile(file, data, shortWrites && size > 1 ? size / 2 : size,
                                        written);
  }
};

TEST_F(SlwFileTest, OpensAreRetriedUnlessTheFileIsMissingAndAShortWriteFails) {
  FlakyFileSystem fs;
  BufferedStringListW list("IgnoreList", 256, &fs, &clock_);
  EXPECT_EQ(list.Load(folder_.File(u"absent.slw1"), false), 0u);
  EXPECT_EQ(list.Load(folder_.File(u"nofolder\\absent.slw1"), false), 0u);
  EXPECT_EQ(clock_.sleeps, 0);

  WriteBytes(file_, "SLW1" + U32(1) + Slw1Item(u"a", 0));
  fs.failOpens = 3;  // held by another process for a moment
  EXPECT_EQ(list.Load(file_, false), 1u);
  EXPECT_EQ(clock_.sleeps, 3);
  EXPECT_EQ(clock_.sleptMs, 30u);

  fs.failOpens = -1;
  fs.opens = 0;
  clock_.sleeps = 0;
  list.Touch();
  EXPECT_EQ(list.Save(file_), 0u);
  EXPECT_EQ(fs.opens, 101);  // the time check, then 100 attempts
  EXPECT_EQ(clock_.sleeps, 99);
  fs.failOpens = 0;
  fs.shortWrites = true;
  EXPECT_EQ(list.Save(file_), 0u);
}

}  // namespace
