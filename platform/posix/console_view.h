// What the console front end shows of a dialog, and the choices it offers.
// Pure functions over a description of the dialog, so the layout is tested
// without a terminal.
//
// A dialog is shown as its caption, then its visible controls row by row in
// reading order (rows by vertical position, left to right within a row):
// static texts as they are, edit boxes as [text], push buttons as (n) text.
// The system menu follows on a line of its own. Buttons are numbered from 1
// in reading order, then the system menu's commands; its Close item is 0.
#pragma once

#include <string>
#include <vector>

#include "resource_tables.h"
#include "win32api.h"

namespace posix_console {

struct ControlView {
    posix_resources::ControlKind kind;
    int id;
    std::string text;  // the current text
    bool visible;
    bool noPrefix;
    posix_resources::DialogRect rect;
};

struct MenuItemView {
    UINT id;  // command sent with WM_SYSCOMMAND
    std::string text;
    bool separator;
};

struct DialogView {
    std::string caption;
    std::vector<ControlView> controls;
    bool hasSystemMenu;
    std::vector<MenuItemView> systemMenu;
};

enum class ChoiceKind { Button, MenuCommand };

struct Choice {
    int number;
    ChoiceKind kind;
    UINT id;  // control ID, or system-menu command
};

// A dialog as its template creates it. The system menu holds its Close
// item (SC_CLOSE).
DialogView ViewOf(const posix_resources::DialogTemplate& dialog);

// The choices the dialog offers, by number.
std::vector<Choice> Choices(const DialogView& view);
// The choice the user typed (a number, blanks around it allowed), or null.
const Choice* FindChoice(const std::vector<Choice>& choices, const std::string& input);

// The whole dialog, ending with a line end.
std::string RenderDialog(const DialogView& view);
// The row that holds control `id`, ending with a line end; "" when the
// control is not shown.
std::string RenderRowOf(const DialogView& view, int id);
// The question that asks for a choice (no line end).
std::string RenderPrompt(const std::vector<Choice>& choices);
// A message box: caption and text, ending with a line end.
std::string RenderMessageBox(const std::string& caption, const std::string& text);
// The question a message box asks when a person can answer (no line end).
std::string RenderWaitForEnter();
// The answer to input that names no choice, ending with a line end.
std::string RenderUnknownChoice(const std::string& input);
// A link the console cannot open, shown so the user can open it.
std::string RenderLink(const std::string& target);

// Window text as shown: '&' marks a mnemonic and is dropped ("&&" is one
// '&') unless `noPrefix`; control characters other than TAB and line ends
// become '.', so text from the network cannot drive the terminal; CR LF
// becomes LF.
std::string ShownText(const std::string& text, bool noPrefix);

}  // namespace posix_console
