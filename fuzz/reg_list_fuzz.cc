// Reads arbitrary bytes as a black or white list file and checks that every
// entry line gives its two items: a non-empty entry text and its parameter.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "modules/RegistryCleanerModule/dll/buffered_string_list_w.h"
#include "modules/RegistryCleanerModule/dll/reg_list_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string path = fuzz::ScratchFolder::Get().Write(
      "list.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  BufferedStringListW list("BlackList", 16);
  const int32_t entries = ReadRegListFile(&list, path);
  fuzz::Check(entries >= 0 && list.Count() == 2 * entries, "two items per entry");
  for (int32_t i = 0; i < list.Count(); ++i) {
    fuzz::Check(list.LengthAt(i) >= 2, "no item is empty");
  }
  return 0;
}
