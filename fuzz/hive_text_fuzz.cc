// Reads arbitrary bytes as Wine hive text and checks that the reader does not
// depend on how the text is cut into pieces, and that a hive written anew
// reads back cleanly and writes the same text again. A text that read
// cleanly is also written back with its untouched blocks copied, and that
// text must read cleanly too.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/wineprefix/hive_text.h"

namespace {

using namespace platform::memory;

constexpr uint64_t kNow = 0x01da000000000000ull;

std::unique_ptr<Key> NewHive() {
  auto root = std::make_unique<Key>();
  root->flags = kKeyHiveRoot;
  root->name = u"Machine";
  return root;
}

class StringSource : public HiveSource {
 public:
  explicit StringSource(std::string_view text) : text_(text) {}
  bool Read(uint64_t offset, size_t size, char* out) override {
    if (offset > text_.size() || size > text_.size() - offset) return false;
    text_.copy(out, size, offset);
    return true;
  }

 private:
  std::string_view text_;
};

class StringSink : public HiveSink {
 public:
  bool Write(const char* data, size_t size) override {
    text.append(data, size);
    return true;
  }
  std::string text;
};

void TouchAll(Key* key) {
  key->flags |= kKeyDirty;
  for (auto& child : key->children) TouchAll(child.get());
}

// The hive written with every key touched: Wine's layout from the tree alone.
std::string WriteAnew(Key* root, const std::string& arch) {
  TouchAll(root);
  StringSink sink;
  const HiveWriteResult written = WriteHive(root, "REGISTRY\\\\Machine", arch, 0, nullptr, &sink);
  fuzz::Check(written.ok && written.size == sink.text.size(), "the hive is written");
  return sink.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  auto whole = NewHive();
  const HiveReadResult read = ReadHive(text, whole.get(), "t.reg", kNow);
  fuzz::Check(read.clean == (read.isRegistryFile && read.problems.empty()), "clean means clean");
  fuzz::Check(read.prologueLength <= size, "the prologue lies in the text");

  // In three pieces, cut where the text's own bytes say.
  size_t cut1 = 0, cut2 = 0;
  if (size > 0) {
    cut1 = data[0] % (size + 1);
    cut2 = cut1 + data[size - 1] % (size - cut1 + 1);
  }
  auto pieces = NewHive();
  HiveReader reader(pieces.get(), "t.reg", kNow);
  reader.Feed(text.substr(0, cut1));
  reader.Feed(text.substr(cut1, cut2 - cut1));
  reader.Feed(text.substr(cut2));
  const HiveReadResult pieceRead = reader.Finish();
  fuzz::Check(pieceRead.problems == read.problems, "pieces give the same problems");
  fuzz::Check(pieceRead.prologueLength == read.prologueLength, "pieces give the same prologue");
  const HiveReadResult checked = ReadHive(text, nullptr, "t.reg", kNow);
  fuzz::Check(checked.problems == read.problems && checked.clean == read.clean,
              "checking the text alone finds the same problems");

  if (!read.isRegistryFile) return 0;

  if (read.clean) {
    // Untouched blocks copied from the text as read.
    StringSource source(text);
    StringSink sink;
    const HiveWriteResult copied = WriteHive(whole.get(), "REGISTRY\\\\Machine", read.arch,
                                             read.prologueLength, &source, &sink);
    fuzz::Check(copied.ok, "the hive is written from its source");
    auto again = NewHive();
    fuzz::Check(ReadHive(sink.text, again.get(), "t.reg", kNow).clean,
                "a copied hive reads cleanly");
  }

  const std::string first = WriteAnew(whole.get(), read.arch);
  fuzz::Check(first == WriteAnew(pieces.get(), pieceRead.arch), "pieces give the same tree");
  auto back = NewHive();
  const HiveReadResult reread = ReadHive(first, back.get(), "t.reg", kNow);
  fuzz::Check(reread.clean, "a hive written anew reads cleanly");
  fuzz::Check(WriteAnew(back.get(), reread.arch) == first, "and writes the same text");
  return 0;
}
