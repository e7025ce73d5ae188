// Resources of the console port: lookups in the generated tables, the
// string table for CString, and icon handles for CWinApp::LoadIcon.

#include <map>

#include "afxwin.h"
#include "resource_tables.h"

// An icon of the resources. The console shows no icons; the handle only
// names the resource.
struct HICON__ {
    unsigned id;
};

namespace posix_resources {

const DialogTemplate* FindDialog(unsigned id)
{
    for (const DialogTemplate& dialog : kDialogs) {
        if (dialog.id == id)
            return &dialog;
    }
    return nullptr;
}

const char* FindString(unsigned id)
{
    for (const StringResource& entry : kStrings) {
        if (entry.id == id)
            return entry.text;
    }
    return nullptr;
}

bool HasIcon(unsigned id)
{
    for (unsigned icon : kIcons) {
        if (icon == id)
            return true;
    }
    return false;
}

}  // namespace posix_resources

BOOL CString::LoadString(UINT id)
{
    const char* text = posix_resources::FindString(id);
    m_text = text != nullptr ? text : "";
    return text != nullptr ? TRUE : FALSE;
}

HICON CWinApp::LoadIcon(UINT id) const
{
    if (!posix_resources::HasIcon(id))
        return nullptr;
    static std::map<unsigned, HICON__> icons;  // node addresses stay put
    HICON__& icon = icons[id];
    icon.id = id;
    return &icon;
}
