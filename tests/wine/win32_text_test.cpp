// The Win32 backend's pure helpers: the command-line tail of the entry
// point, and text conversion between code page 936 and UTF-16.

#include <gtest/gtest.h>

#include <string>

#include "command_line.h"
#include "win32_text.h"

namespace {

struct TailCase {
    const char* label;
    const char* line;
    const char* tail;
};

const TailCase kTailCases[] = {
    {"plain name, one word", "Quorvel.exe auto", "auto"},
    {"no arguments", "Quorvel.exe", ""},
    {"only blanks after the name", "Quorvel.exe   ", ""},
    {"blanks between and after words kept", "Quorvel.exe   auto  x ", "auto  x "},
    {"tab after the name", "Quorvel.exe\tauto", "auto"},
    {"control characters count as blanks", "Quorvel.exe \x01\x1f auto", "auto"},
    {"quoted name with a space", "\"C:\\Program Files\\Quorvel.exe\" auto", "auto"},
    {"quoted name, word right after the quote", "\"C:\\Quorvel.exe\"auto", "auto"},
    {"quoted name without its closing quote", "\"C:\\Program Files\\Quorvel.exe auto", ""},
    {"empty quoted name", "\"\" auto", "auto"},
    {"empty line", "", ""},
    // GBK bytes are above the space: compared unsigned, they start the tail.
    {"multibyte first word", "Quorvel.exe \xd7\xd4\xb6\xaf", "\xd7\xd4\xb6\xaf"},
    {"multibyte character in the name", "\xc2\xb7Quorvel.exe auto", "auto"},
};

TEST(CommandLineTail, FollowsTheEntryPointRule)
{
    for (const TailCase& c : kTailCases) {
        const char* tail = win32_command_line::Tail(c.line);
        EXPECT_STREQ(c.tail, tail) << c.label;
        // The tail is the end of the line itself, not a copy.
        EXPECT_EQ(c.line + std::string(c.line).size() - std::string(c.tail).size(), tail) << c.label;
    }
}

TEST(Text, ProgramCodePageTextWidensToUtf16)
{
    // Narrow literals are compiled to code page 936.
    EXPECT_EQ(L"请点击按钮读取时间。", win32_text::Widen("请点击按钮读取时间。"));
    EXPECT_EQ(L"2025年2月13日19点46分19秒", win32_text::Widen("2025年2月13日19点46分19秒"));
    EXPECT_EQ(L"Failed to connect to server", win32_text::Widen("Failed to connect to server"));
    EXPECT_EQ(L"", win32_text::Widen(""));
    EXPECT_EQ(L"", win32_text::Widen(nullptr));
}

TEST(Text, Utf16NarrowsToTheProgramCodePage)
{
    const std::wstring text = L"关于 Quorvel(&A)...";
    EXPECT_EQ("关于 Quorvel(&A)...", win32_text::Narrow(text.c_str(), static_cast<int>(text.size())));
    // Only the given length is converted.
    EXPECT_EQ("关于", win32_text::Narrow(text.c_str(), 2));
    EXPECT_EQ("", win32_text::Narrow(text.c_str(), 0));
    EXPECT_EQ("", win32_text::Narrow(nullptr, 3));
}

TEST(Text, CharactersOutsideGbkAndBrokenBytesDoNotStopConversion)
{
    const std::wstring emoji = L"a\U0001F600b";
    const std::string narrow = win32_text::Narrow(emoji.c_str(), static_cast<int>(emoji.size()));
    EXPECT_EQ('a', narrow.front());
    EXPECT_EQ('b', narrow.back());
    // A lead byte with no trail byte.
    const std::wstring wide = win32_text::Widen("ab\x81");
    EXPECT_EQ(L"ab", wide.substr(0, 2));
}

}  // namespace
