// CDialog::DoModal as a console dialog. The dialog is made from its
// template, initialised (OnInitDialog), then shown on the front end's
// output; each line of input names a choice, which reaches the message map
// through WindowProc as the click or system-menu command it stands for.
// Posted messages are delivered before each choice is read: WM_QUIT ends
// the loop (and every enclosing one). The end of input is the close box:
// WM_CLOSE goes through the message map like on Windows.

#include "console_io.h"
#include "console_window.h"

namespace {

// One running modal loop. Loops nest: a dialog opened from a handler of
// another runs its loop inside the other's.
struct ModalLoop {
    CDialog* dialog;
    bool running;
    INT_PTR result;
    ModalLoop* outer;
};

ModalLoop* g_innermostLoop = nullptr;
// Counts the dialogs that have ended, so a dialog shows itself again when
// one opened over it has closed.
unsigned g_dialogsEnded = 0;

ModalLoop* FindLoop(const CDialog* dialog)
{
    for (ModalLoop* loop = g_innermostLoop; loop != nullptr; loop = loop->outer) {
        if (loop->dialog == dialog)
            return loop;
    }
    return nullptr;
}

// Delivers the posted messages in order. Returns false at WM_QUIT, which
// is posted again for the enclosing loops.
bool DeliverPosted()
{
    posix_window::PostedMessage m;
    while (posix_window::TakePosted(&m)) {
        if (m.message == WM_QUIT) {
            if (CWinApp* app = AfxGetApp())
                app->m_quitWParam = m.wParam;
            posix_window::Post(m);
            return false;
        }
        CWnd* wnd = posix_window::FromHandle(m.hwnd);
        if (wnd != nullptr)
            wnd->WindowProc(m.message, m.wParam, m.lParam);
    }
    return true;
}

// Turns one line of input into the message of the choice it names.
void Choose(CWnd* dialog, const std::string& input)
{
    const std::vector<posix_console::Choice> choices = posix_console::Choices(dialog->m_hWnd->view);
    const posix_console::Choice* choice = posix_console::FindChoice(choices, input);
    if (choice == nullptr) {
        if (input.find_first_not_of(" \t") != std::string::npos)
            posix_console::Current().Write(posix_console::RenderUnknownChoice(input));
        return;
    }
    if (choice->kind == posix_console::ChoiceKind::Button)
        dialog->WindowProc(WM_COMMAND, MAKEWPARAM(choice->id, BN_CLICKED), 0);
    else
        dialog->WindowProc(WM_SYSCOMMAND, choice->id, 0);
}

// Set at the end of input; from then on every dialog gets the close box.
bool g_inputEnded = false;

// Runs the loop until the dialog ends, WM_QUIT arrives or, after the end of
// input, the close box did not end the dialog (no more input can come).
void RunModalLoop(HWND window, ModalLoop& loop)
{
    posix_console::Io& io = posix_console::Current();
    unsigned endedSeen = g_dialogsEnded;
    bool closeSent = false;
    while (loop.running) {
        if (!DeliverPosted()) {
            loop.result = -1;
            return;
        }
        if (!loop.running)
            return;
        if (g_inputEnded) {
            if (closeSent) {
                loop.result = -1;
                return;
            }
            closeSent = true;
            window->wnd->WindowProc(WM_CLOSE, 0, 0);
            continue;
        }
        if (window->visible && (!window->shown || endedSeen != g_dialogsEnded)) {
            io.Write(posix_console::RenderDialog(window->view));
            window->shown = true;
            endedSeen = g_dialogsEnded;
        }
        io.Write(posix_console::RenderPrompt(posix_console::Choices(window->view)));
        std::string line;
        if (!io.ReadLine(&line)) {
            io.Write("\n");
            g_inputEnded = true;
            continue;
        }
        // A terminal shows what the user typed; other input is shown here,
        // so the choices appear next to their prompts.
        if (!io.InputIsTerminal())
            io.Write(posix_console::ShownText(line, true) + "\n");
        Choose(window->wnd, line);
    }
}

}  // namespace

INT_PTR CDialog::DoModal()
{
    const posix_resources::DialogTemplate* dialogTemplate = posix_resources::FindDialog(m_nIDTemplate);
    if (dialogTemplate == nullptr)
        return -1;
    HWND__ window = {this, posix_console::ViewOf(*dialogTemplate), {nullptr}, true, false, nullptr, nullptr};
    posix_window::Attach(this, &window);

    ModalLoop loop = {this, true, -1, g_innermostLoop};
    g_innermostLoop = &loop;
    OnInitDialog();
    RunModalLoop(&window, loop);
    g_innermostLoop = loop.outer;

    WindowProc(WM_DESTROY, 0, 0);
    m_systemMenu.m_hMenu = nullptr;
    posix_window::Detach(this);
    ++g_dialogsEnded;
    return loop.result;
}

void CDialog::EndDialog(int result)
{
    ModalLoop* loop = FindLoop(this);
    if (loop == nullptr)
        return;
    loop->running = false;
    loop->result = result;
}
