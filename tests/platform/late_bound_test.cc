// The fallbacks of the functions Windows binaries look up at run time, against
// the real functions where the system (Wine here) has them.
#include <gtest/gtest.h>

#ifndef _WIN32
TEST(LateBound, WindowsOnly) { GTEST_SKIP() << "the Windows loader's fallbacks: Win32 backend"; }
#else
#include <string>
#include <vector>

#include "platform/win32/late_bound.h"

namespace {

TEST(LateBound, TickCountFallbackCarriesPastTheWrap) {
  EXPECT_EQ(platform::ExtendTickCount(0, 5), 5u);
  EXPECT_EQ(platform::ExtendTickCount(0xFFFFFFF0u, 0x10u), 0x100000010u);
  EXPECT_EQ(platform::ExtendTickCount(0x2FFFFFFF0u, 0xFFFFFFF5u), 0x2FFFFFFF5u);
  EXPECT_EQ(platform::ExtendTickCount(0x2FFFFFFF0u, 0x3u), 0x300000003u);
  const uint64_t first = platform::TickCount64FromTickCount();
  EXPECT_LE(first, platform::TickCount64FromTickCount());
  EXPECT_LE(platform::TickCount64(), platform::TickCount64());
}

TEST(LateBound, CompareFallbackOrdersAsCompareStringOrdinal) {
  using Fn = int(WINAPI*)(LPCWSTR, int, LPCWSTR, int, BOOL);
  const Fn real = platform::LateBound<Fn>(L"kernel32.dll", "CompareStringOrdinal");
  ASSERT_NE(real, nullptr) << "this system has CompareStringOrdinal";
  const std::vector<std::wstring> texts = {
      L"",           L"explorer.exe", L"EXPLORER.EXE", L"Explorer.ex",           L"explorer.exe ",
      L"\u00c4rger", L"\u00e4rger",   L"\u03a3\u03c3", L"\u03c3\u03c3",          L"\u00df",
      L"SS",         L"\U0001F600",   L"\uffff",       std::wstring(L"a\0b", 3), L"[_]"};
  for (const std::wstring& a : texts) {
    for (const std::wstring& b : texts) {
      for (const bool ignoreCase : {false, true}) {
        const int size = static_cast<int>(a.size()), other = static_cast<int>(b.size());
        EXPECT_EQ(platform::CompareOrdinalFallback(a.c_str(), size, b.c_str(), other, ignoreCase),
                  real(a.c_str(), size, b.c_str(), other, ignoreCase))
            << "ignoreCase " << ignoreCase << " of text " << &a - texts.data() << " and "
            << &b - texts.data();
      }
    }
  }
  EXPECT_EQ(platform::CompareOrdinalFallback(L"abc", -1, L"ABC", 3, true), CSTR_EQUAL);
  EXPECT_EQ(platform::CompareOrdinal(L"Regclean.EXE", -1, L"regclean.exe", -1, true), CSTR_EQUAL);
  EXPECT_EQ(platform::CompareOrdinalFallback(nullptr, 1, L"a", 1, false), 0);
}

}  // namespace
#endif
