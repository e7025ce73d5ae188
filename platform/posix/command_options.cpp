#include "command_options.h"

#include <cctype>
#include <cstdio>

namespace posix_command_line {

namespace {

// The build's version (the project version of the build files).
const char kVersionLine[] = "quorvel " QUORVEL_VERSION "\n";

const char kHelp[] =
    "Usage: quorvel [auto [precise] | --help | --version]\n"
    "Sets the clock from the Date header of one plain HTTP/1.1 GET / to\n"
    "www.baidu.com, port 80.\n"
    "\n"
    "  quorvel auto   read the time (up to five attempts), set the clock, exit.\n"
    "                 Any first word that begins with \"auto\" does this.\n"
    "  quorvel auto precise\n"
    "                 the same, but between the read and the clock up to eleven\n"
    "                 more requests, each sent at a chosen instant, find where\n"
    "                 the server's second begins and check it: the clock is then\n"
    "                 right to a few milliseconds instead of half a second.\n"
    "                 Takes up to 5 s. A Date from a cache (Age), replies that\n"
    "                 disagree or a failed request keep the one-request time.\n"
    "  quorvel        show the window as text: its texts, the status line and\n"
    "                 the buttons as numbered choices; type a number and Enter:\n"
    "                   1  read the time (从百度读取互联网时间)\n"
    "                   2  set the clock to the time read (将系统时间设置成互联网时间)\n"
    "                   3  both steps in one go (自动运行上面两步)\n"
    "                   4 or 6  the About box     5  exit\n"
    "                   0 or the end of input (Ctrl-D)  close the window\n"
    "                 Any other first word opens the window too.\n"
    "  quorvel install, quorvel uninstall\n"
    "                 on Windows these add and remove the task that runs\n"
    "                 auto precise at every logon. Here the package already\n"
    "                 has that job done by systemd: quorvel.service runs\n"
    "                 quorvel auto precise at boot once the network is up, and\n"
    "                 quorvel.timer daily; both are installed, and switched on\n"
    "                 with systemctl enable (see quorvel(1)). These two words\n"
    "                 print that command and exit with 1, changing nothing.\n"
    "  --help         show this text and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Standard output carries only the diagnostics: the first word as\n"
    "\"cmd=WORD\", what the server sent, the Date line, its fields, the\n"
    "adjusted time (UTC+8) and the clock's result; with precise, also a line\n"
    "for each further request and one for the final range, or why there was\n"
    "none.\n"
    "The window, its prompts and the message boxes go to the terminal, or to\n"
    "standard error when there is none; clock errors go to standard error.\n"
    "Message boxes wait for Enter only when standard input is a terminal,\n"
    "and never in an auto run.\n"
    "\n"
    "Exit status of auto: 0 the clock was set; 1 no attempt read a time;\n"
    "2 a time was read but the clock refused it.\n"
    "When the name does not resolve or no route leads to the server, auto\n"
    "waits for the network to come up (an address or route to change), up\n"
    "to 60 s in all, before its next attempt.\n"
    "\n"
    "Setting the clock needs root or the CAP_SYS_TIME capability; without it\n"
    "the program prints \"Failed to set system time. Error: 1\" (EPERM) and\n"
    "the clock is not changed. See quorvel(1).\n";

// The first word as the application reads it: up to the first blank.
std::string FirstWord(const std::string& tail)
{
    std::size_t end = 0;
    while (end < tail.size() && !std::isspace(static_cast<unsigned char>(tail[end])))
        ++end;
    return tail.substr(0, end);
}

}  // namespace

int AnswerOption(const std::string& tail)
{
    const std::string word = FirstWord(tail);
    if (word.compare(0, 2, "--") != 0)
        return -1;
    if (word == "--help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (word == "--version") {
        std::fputs(kVersionLine, stdout);
        return 0;
    }
    std::fprintf(stderr, "quorvel: unknown option %s (try quorvel --help)\n", word.c_str());
    return 2;
}

}  // namespace posix_command_line
