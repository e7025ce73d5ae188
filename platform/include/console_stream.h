// `cout` and `cerr` for the program's diagnostics: minimal output streams
// over C stdio's stdout and stderr. Written through the same FILE objects as
// printf, the lines come out in the order they were written, and a redirected
// or reopened standard output (freopen) is followed. They bring none of the
// iostream library's weight: its locale machinery alone would more than
// double the size of the statically linked Windows executable and add to
// every start-up.
#pragma once

#include <cstddef>
#include <cstdio>

class ConsoleStream {
public:
    enum Target { kStandardOutput, kStandardError };

    explicit constexpr ConsoleStream(Target target) : m_target(target) {}

    ConsoleStream& write(const char* data, std::size_t size)
    {
        if (size != 0)
            std::fwrite(data, 1, size, file());
        return *this;
    }
    ConsoleStream& flush()
    {
        std::fflush(file());
        return *this;
    }

    ConsoleStream& operator<<(const char* text)
    {
        std::fputs(text, file());
        return *this;
    }
    ConsoleStream& operator<<(char c)
    {
        std::fputc(static_cast<unsigned char>(c), file());
        return *this;
    }
    ConsoleStream& operator<<(int value) { return *this << static_cast<long>(value); }
    ConsoleStream& operator<<(unsigned value) { return *this << static_cast<unsigned long>(value); }
    ConsoleStream& operator<<(long value)
    {
        std::fprintf(file(), "%ld", value);
        return *this;
    }
    ConsoleStream& operator<<(unsigned long value)
    {
        std::fprintf(file(), "%lu", value);
        return *this;
    }
    // Manipulators: `endl`.
    ConsoleStream& operator<<(ConsoleStream& (*manipulator)(ConsoleStream&))
    {
        return manipulator(*this);
    }

private:
    // Looked up at each write: stdout may be a function call (msvcrt), and
    // the stream may be reopened after start-up.
    std::FILE* file() const { return m_target == kStandardOutput ? stdout : stderr; }

    Target m_target;
};

// Whether the console reads the bytes it is given as UTF-8, in which C2 80
// to C2 9F are the C1 control characters (CSI among them). False for a
// console that reads GBK, where C2 is a lead byte and 80 to 9F are trail
// bytes of ordinary characters.
bool AfxConsoleReadsUtf8();

// Ends the line and flushes, as std::endl does.
inline ConsoleStream& endl(ConsoleStream& stream)
{
    return (stream << '\n').flush();
}

inline ConsoleStream cout(ConsoleStream::kStandardOutput);
inline ConsoleStream cerr(ConsoleStream::kStandardError);
