// The process's own front-end streams: /dev/tty (or standard error) and
// standard input.

#include "console_io.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace posix_console {

namespace {

class ProcessIo : public Io {
public:
    void Write(const std::string& text) override
    {
        // Diagnostics written before this text come first where both reach
        // the same terminal.
        std::fflush(stdout);
        const int fd = OutputFd();
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;  // nowhere to show it; the program goes on
            done += static_cast<std::size_t>(n);
        }
    }

    bool ReadLine(std::string* line) override
    {
        if (m_ended)
            return false;
        line->clear();
        for (;;) {
            const int c = std::getc(stdin);
            if (c == EOF) {
                if (line->empty()) {
                    m_ended = true;
                    return false;
                }
                return true;  // a last line without a line end
            }
            if (c == '\n')
                break;
            line->push_back(static_cast<char>(c));
        }
        if (!line->empty() && line->back() == '\r')
            line->pop_back();
        return true;
    }

    bool InputIsTerminal() override { return isatty(STDIN_FILENO) == 1; }

private:
    // The controlling terminal, opened once; standard error without one.
    int OutputFd()
    {
        if (m_fd == kUnopened) {
            m_fd = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
            if (m_fd < 0)
                m_fd = STDERR_FILENO;
        }
        return m_fd;
    }

    static constexpr int kUnopened = -2;
    int m_fd = kUnopened;
    bool m_ended = false;
};

ProcessIo g_processIo;
Io* g_current = nullptr;

}  // namespace

Io& Current()
{
    return g_current != nullptr ? *g_current : g_processIo;
}

Io* Install(Io* io)
{
    Io* previous = g_current;
    g_current = io;
    return previous;
}

}  // namespace posix_console
