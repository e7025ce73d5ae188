#include "HttpDate.h"

#include <cstdio>
#include <cstring>

namespace {

const char kMonthNames[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const char* text, std::size_t size, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    if (size < n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (AsciiLower(text[i]) != prefix[i])
            return false;
    }
    return true;
}

// Index just past the end of the line starting at `pos`: the LF, or `size`.
std::size_t LineEnd(const char* data, std::size_t size, std::size_t pos)
{
    const void* lf = std::memchr(data + pos, '\n', size - pos);
    return lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : size;
}

}  // namespace

bool FindHeaderField(const char* data, std::size_t size, const char* name, HttpHeaderLine* line)
{
    const std::size_t nameLength = std::strlen(name);
    // The first line is the status line; header fields follow it.
    std::size_t pos = LineEnd(data, size, 0);
    while (pos < size) {
        ++pos;  // past the LF
        const std::size_t end = LineEnd(data, size, pos);
        const std::size_t length = end - pos;
        if (length == 0 || (length == 1 && data[pos] == '\r'))
            return false;  // the empty line ends the header block
        if (StartsWithNoCase(data + pos, length, name) && length > nameLength &&
            data[pos + nameLength] == ':') {
            line->text = data + pos;
            line->length = length;
            return true;
        }
        pos = end;
    }
    return false;
}

bool ReadStatusLine(const char* data, std::size_t size, int* code, HttpHeaderLine* line)
{
    const std::size_t end = LineEnd(data, size, 0);
    if (end < 5 || std::memcmp(data, "HTTP/", 5) != 0)
        return false;
    const void* space = std::memchr(data, ' ', end);
    if (space == nullptr)
        return false;
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(space) - data) + 1;
    if (end - at < 3)
        return false;
    int value = 0;
    for (std::size_t i = at; i < at + 3; ++i) {
        if (data[i] < '0' || data[i] > '9')
            return false;
        value = value * 10 + (data[i] - '0');
    }
    if (at + 3 < end && data[at + 3] != ' ' && data[at + 3] != '\r')
        return false;
    *code = value;
    line->text = data;
    line->length = end;
    return true;
}

bool FindDateHeader(const char* data, std::size_t size, HttpHeaderLine* line)
{
    return FindHeaderField(data, size, "date", line);
}

bool ReadAgeSeconds(const HttpHeaderLine& line, int* seconds)
{
    const char* p = line.text;
    std::size_t n = line.length;
    if (n > 0 && p[n - 1] == '\r')
        --n;
    std::size_t i = 4;  // past "Age:"
    while (i < n && (p[i] == ' ' || p[i] == '\t'))
        ++i;
    int value = 0;
    std::size_t digits = 0;
    for (; i < n && p[i] >= '0' && p[i] <= '9'; ++i, ++digits) {
        if (digits == 9)
            return false;
        value = value * 10 + (p[i] - '0');
    }
    while (i < n && (p[i] == ' ' || p[i] == '\t'))
        ++i;
    if (digits == 0 || i != n)
        return false;
    *seconds = value;
    return true;
}

int MonthFromName(const char* name)
{
    for (int i = 0; i < 12; ++i) {
        if (std::strcmp(name, kMonthNames[i]) == 0)
            return i + 1;
    }
    return 0;
}

HttpDateResult ParseDateLine(const char* line, HttpDateFields* fields)
{
    const char* comma = std::strstr(line, ", ");
    if (!comma)
        return HttpDateResult::InvalidFormat;

    char monthName[4] = "";
    HttpDateFields f = {0, 0, 0, 0, 0, 0};
    // Each number is read with at most nine characters, so it always fits an
    // int: a longer one would be undefined behaviour for sscanf, and glibc
    // would cut a year like 4294969321 down to 2025. The rest of such a
    // number then stands where the next field belongs, and the line is
    // refused as malformed; nine digits are far beyond any valid field.
    // `end` is how far the six fields reached; it stays -1 when they did not.
    int end = -1;
    const int converted = std::sscanf(comma + 2, "%9d %3s %9d %9d:%9d:%9d%n", &f.day, monthName,
                                      &f.year, &f.hour, &f.minute, &f.second, &end);
    // A month that was read but is not a month name is reported as such,
    // even when the fields after it did not convert (as in "13-Feb-25").
    if (converted < 2)
        return HttpDateResult::InvalidFormat;
    f.month = MonthFromName(monthName);
    if (f.month == 0)
        return HttpDateResult::InvalidMonth;
    if (converted < 6)
        return HttpDateResult::InvalidFormat;
    // The seconds end where the field does: a digit after them means a
    // number that was cut ("11:46:0000000001" is not second 0).
    if (end < 0 || (comma[2 + end] >= '0' && comma[2 + end] <= '9'))
        return HttpDateResult::InvalidFormat;
    *fields = f;
    return HttpDateResult::Ok;
}
