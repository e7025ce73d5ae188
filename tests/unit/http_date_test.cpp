// Finding the Date header and reading its fields.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "HttpDate.h"

namespace {

// The text in an exactly sized heap buffer without a NUL, so that a read
// past its end is caught by AddressSanitizer.
std::unique_ptr<char[]> Exact(const std::string& text)
{
    std::unique_ptr<char[]> copy(new char[text.size() ? text.size() : 1]);
    std::memcpy(copy.get(), text.data(), text.size());
    return copy;
}

// The Date line found in `response`, or "<none>".
std::string Found(const std::string& response)
{
    auto data = Exact(response);
    HttpHeaderLine line;
    if (!FindDateHeader(data.get(), response.size(), &line))
        return "<none>";
    return std::string(line.text, line.length);
}

struct FindCase {
    const char* label;
    std::string response;
    std::string expected;
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.label; }

const FindCase kFindCases[] = {
    {"typical", "HTTP/1.1 200 OK\r\nServer: x\r\nDate: Thu, 13 Feb 2025 11:46:19 GMT\r\n\r\n",
     "Date: Thu, 13 Feb 2025 11:46:19 GMT\r"},
    {"field name in lower case", "HTTP/1.1 200 OK\r\ndate: Thu, 13 Feb 2025 11:46:19 GMT\r\n\r\n",
     "date: Thu, 13 Feb 2025 11:46:19 GMT\r"},
    {"field name in upper case", "HTTP/1.1 200 OK\r\nDATE: x\r\n\r\n", "DATE: x\r"},
    {"a name ending in Date is not Date",
     "HTTP/1.1 200 OK\r\nX-Last-Date: Mon, 01 Jan 2001 00:00:00 GMT\r\nDate: real\r\n\r\n",
     "Date: real\r"},
    {"a name starting with Date is not Date", "HTTP/1.1 200 OK\r\nDated: x\r\nDate: y\r\n\r\n",
     "Date: y\r"},
    {"only in the body", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nDate: Thu, 13 Feb 2025\r\n",
     "<none>"},
    {"on the status line", "Date: x\r\nServer: y\r\n\r\n", "<none>"},
    {"first of two wins", "HTTP/1.1 200 OK\r\nDate: one\r\nDate: two\r\n\r\n", "Date: one\r"},
    {"no LF after the line ends at the data", "HTTP/1.1 200 OK\r\nDate: Thu, 13 Feb", "Date: Thu, 13 Feb"},
    {"bare LF line ends", "HTTP/1.1 200 OK\nDate: x\n\n", "Date: x"},
    {"no header block", "HTTP/1.1 200 OK", "<none>"},
    {"empty", "", "<none>"},
    {"continuation line is not a field", "HTTP/1.1 200 OK\r\nX: a\r\n Date: b\r\n\r\n", "<none>"},
    {"name cut short by the data", "HTTP/1.1 200 OK\r\nDat", "<none>"},
};

class FindDateHeaderTable : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindDateHeaderTable, FindsOnlyTheHeaderField)
{
    EXPECT_EQ(GetParam().expected, Found(GetParam().response)) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(Responses, FindDateHeaderTable, ::testing::ValuesIn(kFindCases));

TEST(FindDateHeader, EveryPrefixOfAResponseIsReadWithinBounds)
{
    const std::string response =
        "HTTP/1.1 200 OK\r\nServer: x\r\nDate: Thu, 13 Feb 2025 11:46:19 GMT\r\n\r\nbody";
    const std::size_t lineStart = response.find("Date:");
    for (std::size_t n = 0; n <= response.size(); ++n) {
        const std::string got = Found(response.substr(0, n));
        if (n < lineStart + 5)
            EXPECT_EQ("<none>", got) << n;
        else
            EXPECT_EQ(0u, got.rfind("Date:", 0)) << n;
    }
}

TEST(MonthFromName, MapsTheTwelveEnglishAbbreviationsOnly)
{
    const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(i + 1, MonthFromName(names[i]));
    for (const char* bad : {"feb", "FEB", "Fe", "Febr", "", "-Fe", "Jan "})
        EXPECT_EQ(0, MonthFromName(bad)) << bad;
}

struct ParseCase {
    const char* line;
    HttpDateResult result;
    HttpDateFields fields;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.line; }

const ParseCase kParseCases[] = {
    {"Date: Thu, 13 Feb 2025 11:46:19 GMT\r", HttpDateResult::Ok, {13, 2, 2025, 11, 46, 19}},
    {"Date: Thu, 06 Feb 2025 01:02:03 GMT", HttpDateResult::Ok, {6, 2, 2025, 1, 2, 3}},
    {"Date: Thu, 13 Feb 2025 11:46:19", HttpDateResult::Ok, {13, 2, 2025, 11, 46, 19}},
    {"Date: Thu, 32 Feb -5 24:61:99 GMT", HttpDateResult::Ok, {32, 2, -5, 24, 61, 99}},
    {"Date: Thu, 13 feb 2025 11:46:19 GMT", HttpDateResult::InvalidMonth, {}},
    {"Date: Thursday, 13-Feb-25 11:46:19 GMT", HttpDateResult::InvalidMonth, {}},
    {"Date: Thu Feb 13 11:46:19 2025", HttpDateResult::InvalidFormat, {}},
    {"Date: Thu, 13 Feb 2025 11:46", HttpDateResult::InvalidFormat, {}},
    {"Date: Thu, ", HttpDateResult::InvalidFormat, {}},
    {"Date: Thu,13 Feb 2025 11:46:19 GMT", HttpDateResult::InvalidFormat, {}},
    // Numbers too long for an int are never cut down to a valid-looking field.
    {"Date: Thu, 13 Feb 4294969321 11:46:19 GMT", HttpDateResult::InvalidFormat, {}},
    {"Date: Thu, 4294967309 Feb 2025 11:46:19 GMT", HttpDateResult::InvalidMonth, {}},
    {"Date: Thu, 13 Feb 2025 11:46:4294967315 GMT", HttpDateResult::InvalidFormat, {}},
    // The seconds must end where nine digits end: neither cut to second 0
    // nor to a second that carries into 2031.
    {"Date: Thu, 13 Feb 2025 11:46:0000000001", HttpDateResult::InvalidFormat, {}},
    {"Date: Thu, 13 Feb 2025 11:46:1900000000 GMT", HttpDateResult::InvalidFormat, {}},
    {"Date: Thu, 13 Feb 2025 11:46:19GMT", HttpDateResult::Ok, {13, 2, 2025, 11, 46, 19}},
    {"Date: Thu, -00000013 Feb 2025 11:46:19 GMT", HttpDateResult::Ok, {-13, 2, 2025, 11, 46, 19}},
};

class ParseDateLineTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseDateLineTable, ReadsTheFieldsAsWritten)
{
    const ParseCase& c = GetParam();
    HttpDateFields f = {-9, -9, -9, -9, -9, -9};
    EXPECT_EQ(c.result, ParseDateLine(c.line, &f)) << c.line;
    if (c.result == HttpDateResult::Ok) {
        EXPECT_EQ(c.fields.day, f.day);
        EXPECT_EQ(c.fields.month, f.month);
        EXPECT_EQ(c.fields.year, f.year);
        EXPECT_EQ(c.fields.hour, f.hour);
        EXPECT_EQ(c.fields.minute, f.minute);
        EXPECT_EQ(c.fields.second, f.second);
    } else {
        EXPECT_EQ(-9, f.day) << "fields must stay untouched on failure";
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, ParseDateLineTable, ::testing::ValuesIn(kParseCases));

}  // namespace
