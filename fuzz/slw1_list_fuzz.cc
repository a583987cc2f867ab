// Loads arbitrary bytes as an SLW1 list file (the engine's black, white and
// ignore lists) and checks that the list saves and loads back to the same
// items, that every item is found by its own text (also as a pattern: "?"
// and "*" in an item match themselves), and that a merging load adds no more
// than a plain one.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"
#include "modules/RegistryCleanerModule/dll/registry_toolkit/case_folding.h"

namespace {

std::u16string_view TextAt(const BufferedStringListW& list, int32_t index) {
  return std::u16string_view(list.At(index), list.LengthAt(index) - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool folding = (BuildCaseFoldingTable(), true);
  (void)folding;
  fuzz::ScratchFolder& scratch = fuzz::ScratchFolder::Get();
  const std::u16string input =
      scratch.Write("input.slw", std::string_view(reinterpret_cast<const char*>(data), size));

  BufferedStringListW list("IgnoreList", 16);
  const uint32_t added = list.Load(input, false);
  fuzz::Check(static_cast<uint32_t>(list.Count()) == added, "every item added is counted");
  fuzz::Check(list.ChangeCount() == 0, "a load into an unchanged list leaves it unchanged");
  for (int32_t i = 0; i < list.Count(); ++i) {
    fuzz::Check(list.LengthAt(i) >= 2 && list.At(i)[list.LengthAt(i) - 1] == 0,
                "an item is a text with its terminator");
    fuzz::Check(list.Find(TextAt(list, i)) >= i, "an item is found by its text");
    fuzz::Check(list.FindSameLength(TextAt(list, i)) >= i, "an item matches its own text");
  }

  BufferedStringListW merged("IgnoreList", 16);
  fuzz::Check(merged.Load(input, true) <= added, "a merging load adds no more");

  if (list.Count() == 0) return 0;
  scratch.Remove("saved.slw");
  const std::u16string saved = scratch.WindowsPath("saved.slw");
  list.Touch();
  fuzz::Check(list.Save(saved) == added, "every item is saved");
  BufferedStringListW back("IgnoreList", 16);
  fuzz::Check(back.Load(saved, false) == added, "every item loads back");
  for (int32_t i = 0; i < list.Count(); ++i) {
    fuzz::Check(TextAt(back, i) == TextAt(list, i) && back.TagAt(i) == list.TagAt(i),
                "the same item loads back");
  }
  return 0;
}
