// Finding and reading the Date header of an HTTP response. Pure functions over
// byte ranges: every read is bounded by the given size, never by a NUL.
#pragma once

#include <cstddef>

// A line of the response: from the field name up to, not including, the LF
// that ends it (a CR before the LF stays in the line), or up to the end of
// the data when no LF follows.
struct HttpHeaderLine {
    const char* text;
    std::size_t length;
};

// Finds a header field: a line of the header block (after the status line,
// before the first empty line) that starts with `name` and a colon, the
// name compared without regard to case (`name` given in lower case). The
// first such line wins. Returns false when the header block has none.
bool FindHeaderField(const char* data, std::size_t size, const char* name, HttpHeaderLine* line);

// Reads the status line at the start of the data: "HTTP/" and a version,
// one space, three digits, then a space, a CR or the end of the line.
// `code` gets the digits, `line` the whole line (without its LF). Returns
// false, leaving both alone, when the data does not start so.
bool ReadStatusLine(const char* data, std::size_t size, int* code, HttpHeaderLine* line);

// FindHeaderField for the Date field.
bool FindDateHeader(const char* data, std::size_t size, HttpHeaderLine* line);

// Reads the value of an Age field line, as FindHeaderField finds it for
// "age" (the seconds a cache has held the response): a plain decimal number of 1 to 9 digits, with optional spaces
// or tabs around it and an optional CR at the end. Returns false, leaving
// `seconds` alone, for anything else (a sign, a fraction, more digits).
bool ReadAgeSeconds(const HttpHeaderLine& line, int* seconds);

// 1 to 12 for "Jan" to "Dec" (exact, case-sensitive), 0 for anything else.
int MonthFromName(const char* name);

// The calendar fields of a Date line, as written in the header (GMT).
struct HttpDateFields {
    int day;
    int month;
    int year;
    int hour;
    int minute;
    int second;
};

enum class HttpDateResult {
    Ok,
    InvalidFormat,  // no ", " after the weekday, fewer than six fields, or
                    // a digit right after the seconds
    InvalidMonth,   // the month is not one of the twelve English names
};

// Reads "<weekday>, <day> <Mon> <year> <hh>:<mm>:<ss>" from a NUL-terminated
// line. The numbers are taken as written, without range checks; a digit
// right after the seconds makes the line InvalidFormat.
HttpDateResult ParseDateLine(const char* line, HttpDateFields* fields);
