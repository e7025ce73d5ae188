// The shell and the screen on a console: links are shown for the user to
// open, and there are no pixels to measure.

#include <cstdint>

#include "console_io.h"
#include "console_view.h"
#include "win32api.h"

namespace {

// ShellExecute's "no application is associated with the file" result.
constexpr std::intptr_t kNoAssociation = 31;

}  // namespace

HINSTANCE ShellExecuteA(HWND /*owner*/, LPCSTR /*verb*/, LPCSTR file, LPCSTR /*parameters*/,
                        LPCSTR /*directory*/, int /*showCommand*/)
{
    // Starting a desktop program from a console tool could block or open
    // windows nobody sees; the link is shown instead, and the call fails
    // the way ShellExecute does when nothing handles the link.
    posix_console::Current().Write(posix_console::RenderLink(file != nullptr ? file : ""));
    return reinterpret_cast<HINSTANCE>(kNoAssociation);
}

int GetSystemMetrics(int /*index*/)
{
    return 0;  // a console has no screen or icon sizes in pixels
}
