// Reads arbitrary bytes as a black or white list file and checks that every
// entry line gives its two items, none empty, and that a file read without a
// byte-order mark reads the same with one.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"
#include "modules/RegistryCleanerModule/dll/reg_list_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ScratchFolder& scratch = fuzz::ScratchFolder::Get();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  BufferedStringListW list("BlackList", 16);
  const int32_t entries = ReadRegListFile(&list, scratch.Write("list.txt", bytes));
  fuzz::Check(entries >= 0 && list.Count() == 2 * entries, "two items per entry");
  for (int32_t i = 0; i < list.Count(); ++i) {
    fuzz::Check(list.LengthAt(i) >= 2, "no item is empty");
  }

  if (entries == 0 || bytes.starts_with("\xFF\xFE")) return 0;
  BufferedStringListW marked("BlackList", 16);
  fuzz::Check(ReadRegListFile(&marked, scratch.Write("marked.txt", "\xFF\xFE" + bytes)) == entries,
              "a byte-order mark changes nothing");
  for (int32_t i = 0; i < list.Count(); ++i) {
    fuzz::Check(std::u16string_view(list.At(i)) == marked.At(i), "the same items with the mark");
  }
  return 0;
}
