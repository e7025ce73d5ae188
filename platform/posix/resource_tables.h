// The resources of the program as C++ data: dialog templates, the string
// table and the icon IDs. The data is generated at build time from the
// resource script res/Quorvel.rc (gen_resource_tables.py), so the console
// port shows the same texts as the Windows build. Texts are UTF-8.
#pragma once

#include <cstddef>

namespace posix_resources {

enum class ControlKind { Text, Button, Edit, Image, Other };

// Position and size in dialog units, as the template gives them.
struct DialogRect {
    int x;
    int y;
    int width;
    int height;
};

struct ControlTemplate {
    ControlKind kind;
    int id;            // -1 for IDC_STATIC
    const char* text;  // "" when the template gives none
    bool visible;      // false for controls declared NOT WS_VISIBLE
    bool noPrefix;     // SS_NOPREFIX: '&' is shown as it is
    DialogRect rect;
};

struct DialogTemplate {
    unsigned id;
    const char* caption;
    bool systemMenu;  // WS_SYSMENU
    const ControlTemplate* controls;
    std::size_t controlCount;
};

struct StringResource {
    unsigned id;
    const char* text;
};

template <class T>
struct Table {
    const T* items;
    std::size_t count;
    const T* begin() const { return items; }
    const T* end() const { return items + count; }
};

extern const Table<DialogTemplate> kDialogs;
extern const Table<StringResource> kStrings;
extern const Table<unsigned> kIcons;

// Lookups; null when the resource does not exist.
const DialogTemplate* FindDialog(unsigned id);
const char* FindString(unsigned id);
bool HasIcon(unsigned id);

}  // namespace posix_resources
