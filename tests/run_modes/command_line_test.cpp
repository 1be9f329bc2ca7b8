// Splitting the command line into UTF-8 arguments, and the conversions.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win/windows_api.h"

namespace flutter::testing {
namespace {

using Arguments = std::vector<std::string>;

TEST(SplitCommandLineArgumentsTest, DropsTheProgramName) {
  EXPECT_EQ(
      SplitCommandLineArguments(L"\"C:\\Program Files\\v\\varn_vpn.exe\""),
      Arguments{});
  EXPECT_EQ(
      SplitCommandLineArguments(L"varn_vpn.exe /service \"C:\\a b\\c.conf\""),
      (Arguments{"/service", "C:\\a b\\c.conf"}));
}

TEST(SplitCommandLineArgumentsTest, EmptyQuotedArgumentsKeepTheirPlace) {
  EXPECT_EQ(SplitCommandLineArguments(L"x.exe \"\" b \"\""),
            (Arguments{"", "b", ""}));
}

TEST(SplitCommandLineArgumentsTest, NonAsciiArrivesAsUtf8) {
  EXPECT_EQ(
      SplitCommandLineArguments(L"x.exe C:\\Users\\Ren\u00e9e\\\u4e2d.conf"),
      Arguments{"C:\\Users\\Ren\xC3\xA9"
                "e\\\xE4\xB8\xAD.conf"});
  // A character outside the basic plane, as a surrogate pair.
  EXPECT_EQ(SplitCommandLineArguments(L"x.exe \U0001F600"),
            Arguments{"\xF0\x9F\x98\x80"});
}

TEST(SplitCommandLineArgumentsTest, UnpairedSurrogateBecomesEmptyInPlace) {
  const wchar_t line[] = {L'x',   L' ', L'a', L' ', L'b',
                          0xD800, L'c', L' ', L'd', 0};
  EXPECT_EQ(SplitCommandLineArguments(line), (Arguments{"a", "", "d"}));
  const wchar_t trailing_low[] = {L'x', L' ', 0xDC00, L' ', L'z', 0};
  EXPECT_EQ(SplitCommandLineArguments(trailing_low), (Arguments{"", "z"}));
}

TEST(ReadCommandLineArgumentsTest, MatchesTheProcessCommandLine) {
  EXPECT_EQ(ReadCommandLineArguments(),
            SplitCommandLineArguments(::GetCommandLineW()));
}

TEST(WideToUtf8Test, ConvertsOrGivesEmpty) {
  EXPECT_EQ(WideToUtf8(nullptr), "");
  EXPECT_EQ(WideToUtf8(L""), "");
  EXPECT_EQ(WideToUtf8(L"/tunnel-install"), "/tunnel-install");
  EXPECT_EQ(WideToUtf8(L"\u00fc\u20ac"), "\xC3\xBC\xE2\x82\xAC");
  const wchar_t lone_high[] = {L'a', 0xD83D, 0};
  EXPECT_EQ(WideToUtf8(lone_high), "");
}

TEST(Utf8ToWideTest, ConvertsOrGivesEmpty) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide("S-1-5-21-1-2-3-1001"), L"S-1-5-21-1-2-3-1001");
  EXPECT_EQ(Utf8ToWide("\xC3\xBC\xF0\x9F\x98\x80"), L"\u00fc\U0001F600");
  EXPECT_EQ(Utf8ToWide("ab\xFF"), L"");        // not UTF-8
  EXPECT_EQ(Utf8ToWide("\xC3"), L"");          // truncated sequence
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"");  // encoded surrogate
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(ConversionTest, RoundTripsNonAsciiText) {
  const std::wstring text = L"C:\\Donn\u00e9es\\\u65e5\u672c\\\U0001F600.conf";
  EXPECT_EQ(Utf8ToWide(WideToUtf8(text.c_str())), text);
}

}  // namespace
}  // namespace flutter::testing
