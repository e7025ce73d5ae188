// Layout and wording of the console front end.

#include "console_view.h"

#include <algorithm>
#include <cstdlib>

namespace posix_console {

namespace {

using posix_resources::ControlKind;

// The front end's own words, in the language of the program's windows.
constexpr char kCloseItem[] = "关闭(&C)";
constexpr char kSystemMenuLabel[] = "系统菜单：";
constexpr char kPromptStart[] = "请选择 (";
constexpr char kPromptEnd[] = ")：";
constexpr char kWaitForEnter[] = "按回车键继续……";
constexpr char kUnknownChoice[] = "没有这个选项：";
constexpr char kLink[] = "链接：";

bool Shows(const ControlView& c)
{
    return c.visible && c.kind != ControlKind::Image;
}

// Indexes of the shown controls, grouped into rows in reading order. A
// control joins a row when its vertical centre lies within the row's first
// (topmost) control.
std::vector<std::vector<std::size_t>> Rows(const DialogView& view)
{
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < view.controls.size(); ++i) {
        if (Shows(view.controls[i]))
            order.push_back(i);
    }
    const auto& c = view.controls;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return c[a].rect.y != c[b].rect.y ? c[a].rect.y < c[b].rect.y : c[a].rect.x < c[b].rect.x;
    });
    std::vector<std::vector<std::size_t>> rows;
    for (std::size_t i : order) {
        if (!rows.empty()) {
            const auto& first = c[rows.back().front()].rect;
            const int centre = c[i].rect.y + c[i].rect.height / 2;
            if (centre >= first.y && centre < first.y + first.height) {
                rows.back().push_back(i);
                continue;
            }
        }
        rows.push_back({i});
    }
    for (auto& row : rows) {
        std::stable_sort(row.begin(), row.end(),
                         [&](std::size_t a, std::size_t b) { return c[a].rect.x < c[b].rect.x; });
    }
    return rows;
}

// The number of each button, by control index, in reading order.
std::vector<int> ButtonNumbers(const DialogView& view, int* next)
{
    std::vector<int> numbers(view.controls.size(), 0);
    *next = 1;
    for (const auto& row : Rows(view)) {
        for (std::size_t i : row) {
            if (view.controls[i].kind == ControlKind::Button)
                numbers[i] = (*next)++;
        }
    }
    return numbers;
}

std::string RenderRow(const DialogView& view, const std::vector<std::size_t>& row,
                      const std::vector<int>& numbers)
{
    std::string line;
    for (std::size_t i : row) {
        const ControlView& c = view.controls[i];
        std::string item;
        if (c.kind == ControlKind::Button)
            item = "(" + std::to_string(numbers[i]) + ") " + ShownText(c.text, c.noPrefix);
        else if (c.kind == ControlKind::Edit)
            item = "[" + ShownText(c.text, true) + "]";
        else
            item = ShownText(c.text, c.noPrefix);
        if (item.empty())
            continue;
        if (!line.empty())
            line += "  ";
        line += item;
    }
    return line;
}

std::string RenderSystemMenu(const DialogView& view, int next)
{
    std::string line;
    for (const MenuItemView& item : view.systemMenu) {
        if (item.separator)
            continue;
        const int number = item.id == SC_CLOSE ? 0 : next++;
        line += (line.empty() ? "" : "  ") + ("(" + std::to_string(number) + ") ") +
                ShownText(item.text, false);
    }
    return line.empty() ? line : kSystemMenuLabel + line;
}

}  // namespace

std::string ShownText(const std::string& text, bool noPrefix)
{
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '&' && !noPrefix) {
            if (i + 1 < text.size() && text[i + 1] == '&')
                shown += text[++i];
            continue;
        }
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        shown += (u < 0x20 && c != '\t' && c != '\n') || u == 0x7F ? '.' : c;
    }
    return shown;
}

DialogView ViewOf(const posix_resources::DialogTemplate& dialog)
{
    DialogView view;
    view.caption = dialog.caption;
    for (std::size_t i = 0; i < dialog.controlCount; ++i) {
        const auto& t = dialog.controls[i];
        view.controls.push_back({t.kind, t.id, t.text, t.visible, t.noPrefix, t.rect});
    }
    view.hasSystemMenu = dialog.systemMenu;
    if (view.hasSystemMenu)
        view.systemMenu.push_back({SC_CLOSE, kCloseItem, false});
    return view;
}

std::vector<Choice> Choices(const DialogView& view)
{
    std::vector<Choice> choices;
    int next = 1;
    const std::vector<int> numbers = ButtonNumbers(view, &next);
    std::vector<std::pair<int, UINT>> buttons;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (numbers[i] != 0)
            buttons.emplace_back(numbers[i], static_cast<UINT>(view.controls[i].id));
    }
    std::sort(buttons.begin(), buttons.end());
    for (const auto& b : buttons)
        choices.push_back({b.first, ChoiceKind::Button, b.second});
    for (const MenuItemView& item : view.systemMenu) {
        if (!item.separator)
            choices.push_back({item.id == SC_CLOSE ? 0 : next++, ChoiceKind::MenuCommand, item.id});
    }
    return choices;
}

const Choice* FindChoice(const std::vector<Choice>& choices, const std::string& input)
{
    const std::size_t first = input.find_first_not_of(" \t");
    if (first == std::string::npos)
        return nullptr;
    const std::size_t last = input.find_last_not_of(" \t");
    const std::string word = input.substr(first, last - first + 1);
    if (word.size() > 9 || word.find_first_not_of("0123456789") != std::string::npos)
        return nullptr;
    const int number = std::atoi(word.c_str());
    for (const Choice& choice : choices) {
        if (choice.number == number)
            return &choice;
    }
    return nullptr;
}

std::string RenderDialog(const DialogView& view)
{
    std::string text = "== " + ShownText(view.caption, true) + " ==\n";
    int next = 1;
    const std::vector<int> numbers = ButtonNumbers(view, &next);
    for (const auto& row : Rows(view)) {
        const std::string line = RenderRow(view, row, numbers);
        if (!line.empty())
            text += line + "\n";
    }
    const std::string menu = RenderSystemMenu(view, next);
    if (!menu.empty())
        text += menu + "\n";
    return text;
}

std::string RenderRowOf(const DialogView& view, int id)
{
    int next = 1;
    const std::vector<int> numbers = ButtonNumbers(view, &next);
    for (const auto& row : Rows(view)) {
        for (std::size_t i : row) {
            if (view.controls[i].id == id) {
                const std::string line = RenderRow(view, row, numbers);
                return line.empty() ? line : line + "\n";
            }
        }
    }
    return "";
}

std::string RenderPrompt(const std::vector<Choice>& choices)
{
    if (choices.empty())
        return "";
    int low = choices.front().number;
    int high = low;
    for (const Choice& choice : choices) {
        low = std::min(low, choice.number);
        high = std::max(high, choice.number);
    }
    return kPromptStart + std::to_string(low) + "-" + std::to_string(high) + kPromptEnd;
}

std::string RenderMessageBox(const std::string& caption, const std::string& text)
{
    return "== " + ShownText(caption, true) + " ==\n" + ShownText(text, true) + "\n";
}

std::string RenderWaitForEnter()
{
    return kWaitForEnter;
}

std::string RenderUnknownChoice(const std::string& input)
{
    return kUnknownChoice + ShownText(input, true) + "\n";
}

std::string RenderLink(const std::string& target)
{
    return kLink + ShownText(target, true) + "\n";
}

}  // namespace posix_console
