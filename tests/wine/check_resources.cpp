// check_resources: verifies the resources linked into a Quorvel executable
// through the system's own resource functions, as the program and Windows
// will read them: language tags, string table, version block, manifest,
// icon, About picture and both dialog templates.
//
// Built by tests/wine/CMakeLists.txt and run by ctest against Quorvel.exe.
// Build and run by hand (from the repository root, with mingw-w64 and Wine):
//   i686-w64-mingw32-g++ -std=c++17 -municode -static -O2 -Wall -Wextra
//       tests/wine/check_resources.cpp -o check_resources.exe -lversion
//   WINEDEBUG=-all wine check_resources.exe path/to/Quorvel.exe
// Any executable that links res/Quorvel.rc will do, for example:
//   i686-w64-mingw32-windres res/Quorvel.rc -O coff -o quorvel_res.o
//   printf '#include <windows.h>\nint WINAPI WinMain(HINSTANCE,HINSTANCE,LPSTR,int){return 0;}\n' > stub.cpp
//   i686-w64-mingw32-g++ -mwindows -static stub.cpp quorvel_res.o -o stub.exe
//
// Prints one line per failed check, then "N passed, N failed".
// Exit status: 0 all passed, 1 some check failed, 2 bad usage or unloadable file.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Reporting

std::string show(const std::wstring& s) {
    std::string out = "\"";
    char buf[16];
    for (wchar_t c : s) {
        if (c >= 0x20 && c < 0x7F && c != L'"' && c != L'\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out + "\"";
}

std::string show(const std::string& s) { return show(std::wstring(s.begin(), s.end())); }

class Report {
public:
    bool ok(bool cond, const std::string& what) {
        if (cond) {
            ++passed_;
        } else {
            ++failed_;
            std::printf("FAIL %s\n", what.c_str());
        }
        return cond;
    }
    bool eq(const std::string& what, unsigned long actual, unsigned long expected) {
        char buf[96];
        std::snprintf(buf, sizeof buf, ": got %lu (0x%lX), want %lu (0x%lX)", actual, actual, expected,
                      expected);
        return ok(actual == expected, what + buf);
    }
    bool eq(const std::string& what, const std::wstring& actual, const std::wstring& expected) {
        return ok(actual == expected, what + ": got " + show(actual) + ", want " + show(expected));
    }
    int passed() const { return passed_; }
    int failed() const { return failed_; }

private:
    int passed_ = 0;
    int failed_ = 0;
};

// ---------------------------------------------------------------------------
// Resource access

constexpr WORD kLangChinesePrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);  // 2052
constexpr WORD kLangEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);           // 1033

struct Blob {
    const BYTE* data = nullptr;
    DWORD size = 0;
    explicit operator bool() const { return data != nullptr; }
};

BOOL CALLBACK collect_language(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(lang);
    return TRUE;
}

// Finds resource (type, name), which must exist in exactly one language,
// `lang`, and returns its bytes.  The language list is enumerated because
// FindResourceExW falls back to other languages when the one asked for is
// missing, so a hit alone would not prove the tag.
Blob resource(Report& r, HMODULE module, LPCWSTR type, WORD name, WORD lang, const std::string& label) {
    std::vector<WORD> langs;
    EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(name), collect_language,
                           reinterpret_cast<LONG_PTR>(&langs));
    std::string found;
    bool has_lang = false;
    for (WORD l : langs) {
        found += (found.empty() ? "" : ",") + std::to_string(l);
        has_lang |= l == lang;
    }
    r.ok(langs.size() == 1 && has_lang,
         label + (langs.empty() ? ": missing" : ": languages {" + found + "}") + ", want language " +
             std::to_string(lang));
    if (!has_lang) return {};

    HRSRC info = FindResourceExW(module, type, MAKEINTRESOURCEW(name), lang);
    HGLOBAL handle = info ? LoadResource(module, info) : nullptr;
    const void* data = handle ? LockResource(handle) : nullptr;
    Blob blob{static_cast<const BYTE*>(data), info ? SizeofResource(module, info) : 0};
    if (!r.ok(data != nullptr && blob.size > 0,
              label + ": cannot load language " + std::to_string(lang) + " (error " +
                  std::to_string(GetLastError()) + ")"))
        return {};
    return blob;
}

// Bounded little-endian reader over resource bytes.  Reading past the end
// yields zeros and sets `bad`, so a truncated resource fails its checks
// instead of reading foreign memory.
class Reader {
public:
    explicit Reader(Blob b) : p_(b.data), n_(b.size) {}
    template <class T>
    T get() {
        T v{};
        if (pos_ + sizeof v > n_) {
            bad = true;
            pos_ = n_;
            return v;
        }
        std::memcpy(&v, p_ + pos_, sizeof v);
        pos_ += sizeof v;
        return v;
    }
    std::wstring wsz() {
        std::wstring s;
        while (!bad)
            if (wchar_t c = get<wchar_t>()) s += c; else break;
        return s;
    }
    void skip(size_t k) {
        if (k > n_ - pos_) bad = true;
        pos_ = k > n_ - pos_ ? n_ : pos_ + k;
    }
    void align4() { skip((4 - pos_ % 4) % 4); }
    size_t pos() const { return pos_; }
    bool bad = false;

private:
    const BYTE* p_;
    size_t n_;
    size_t pos_ = 0;
};

// A resource name or text in a template: a string, or 0xFFFF and an ordinal.
struct Name {
    const wchar_t* text;  // nullptr when the name is an ordinal
    WORD ord;
};
constexpr Name txt(const wchar_t* s) { return {s, 0}; }
constexpr Name ord(WORD o) { return {nullptr, o}; }

struct ReadName {
    bool is_ord = false;
    WORD ord = 0;
    std::wstring text;
};

ReadName read_name(Reader& in) {
    ReadName n;
    WORD first = in.get<WORD>();
    if (first == 0xFFFF) {
        n.is_ord = true;
        n.ord = in.get<WORD>();
    } else if (first != 0) {
        n.text = static_cast<wchar_t>(first) + in.wsz();
    }
    return n;
}

std::string show(const ReadName& n) { return n.is_ord ? "#" + std::to_string(n.ord) : show(n.text); }
std::string show(const Name& n) { return n.text ? show(std::wstring(n.text)) : "#" + std::to_string(n.ord); }

bool same(const ReadName& a, const Name& b) {
    return b.text ? !a.is_ord && a.text == b.text : a.is_ord && a.ord == b.ord;
}

// ---------------------------------------------------------------------------
// String table.  Strings are stored in blocks of 16 (block n holds IDs
// 16(n-1) .. 16n-1); every other slot of a block that holds one of ours must
// stay empty.

struct ExpectedString {
    WORD id;
    const wchar_t* text;
};

const ExpectedString kStrings[] = {
    {100, L"OLE 程序初始化失败。请确认 OLE 库程序是正确的版本。"},  // IDP_OLE_INIT_FAILED
    {101, L"关于 Quorvel(&A)..."},                                  // IDS_ABOUTBOX
    {103, L"Windows 通信端口初始化失败。"},                          // IDP_SOCKETS_INIT_FAILED
};

void check_string_block(Report& r, HMODULE m, WORD block) {
    Blob blob = resource(r, m, RT_STRING, block, kLangChinesePrc, "string table block " + std::to_string(block));
    if (!blob) return;
    Reader in(blob);
    for (WORD id = (block - 1) * 16; id < block * 16; ++id) {
        std::wstring s(in.get<WORD>(), L'\0');
        for (wchar_t& c : s) c = in.get<wchar_t>();
        std::wstring want;
        for (const ExpectedString& e : kStrings)
            if (e.id == id) want = e.text;
        r.eq("string " + std::to_string(id), s, want);
    }
    r.ok(!in.bad, "string table block " + std::to_string(block) + " is truncated");
}

void check_strings(Report& r, HMODULE m) {
    WORD done = 0;  // kStrings is sorted, so each block comes up once
    for (const ExpectedString& e : kStrings) {
        const WORD block = e.id / 16 + 1;
        if (block != done) check_string_block(r, m, done = block);
    }
}

// ---------------------------------------------------------------------------
// Version block

struct ExpectedVersionField {
    const char* field;
    DWORD VS_FIXEDFILEINFO::*member;
    DWORD value;
};

const ExpectedVersionField kFixed[] = {
    {"signature", &VS_FIXEDFILEINFO::dwSignature, VS_FFI_SIGNATURE},
    {"file version (high)", &VS_FIXEDFILEINFO::dwFileVersionMS, MAKELONG(0, 1)},      // 1.0
    {"file version (low)", &VS_FIXEDFILEINFO::dwFileVersionLS, MAKELONG(1, 0)},       // .0.1
    {"product version (high)", &VS_FIXEDFILEINFO::dwProductVersionMS, MAKELONG(0, 1)},
    {"product version (low)", &VS_FIXEDFILEINFO::dwProductVersionLS, MAKELONG(1, 0)},
    {"flags mask", &VS_FIXEDFILEINFO::dwFileFlagsMask, 0x3F},
    {"flags", &VS_FIXEDFILEINFO::dwFileFlags, 0},
    {"OS", &VS_FIXEDFILEINFO::dwFileOS, VOS__WINDOWS32},
    {"file type", &VS_FIXEDFILEINFO::dwFileType, VFT_APP},
    {"file subtype", &VS_FIXEDFILEINFO::dwFileSubtype, 0},
    {"date (high)", &VS_FIXEDFILEINFO::dwFileDateMS, 0},
    {"date (low)", &VS_FIXEDFILEINFO::dwFileDateLS, 0},
};

struct VersionString {
    const wchar_t* key;
    const wchar_t* value;
};

const VersionString kVersionStrings[] = {
    {L"CompanyName", L""},
    {L"FileDescription", L"Quorvel Microsoft 基础类应用程序"},
    {L"FileVersion", L"1, 0, 0, 1"},
    {L"InternalName", L"Quorvel"},
    {L"LegalCopyright", L"Copyright (C) 2026 Quorvel developers"},
    {L"LegalTrademarks", L""},
    {L"OriginalFilename", L"Quorvel.EXE"},
    {L"ProductName", L"Quorvel 应用程序"},
    {L"ProductVersion", L"1, 0, 0, 1"},
};

void check_version(Report& r, HMODULE m) {
    Blob blob = resource(r, m, RT_VERSION, 1, kLangChinesePrc, "version block");
    if (!blob) return;
    // VerQueryValueW may write into the block, so it gets a private copy.
    std::vector<BYTE> copy(blob.data, blob.data + blob.size);
    void* value = nullptr;
    UINT len = 0;

    if (r.ok(VerQueryValueW(copy.data(), L"\\", &value, &len) && len >= sizeof(VS_FIXEDFILEINFO),
             "version block: no fixed part")) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        for (const ExpectedVersionField& f : kFixed) r.eq(std::string("version ") + f.field, fixed->*f.member, f.value);
    }

    if (r.ok(VerQueryValueW(copy.data(), L"\\VarFileInfo\\Translation", &value, &len) && len == 4,
             "version block: want exactly one translation")) {
        const auto* pair = static_cast<const WORD*>(value);
        r.eq("version translation language", pair[0], 0x0804);
        r.eq("version translation code page", pair[1], 0x04B0);
    }

    for (const VersionString& v : kVersionStrings) {
        const std::string label = "version string " + show(std::wstring(v.key));
        const std::wstring path = std::wstring(L"\\StringFileInfo\\080404B0\\") + v.key;
        value = nullptr;
        len = 0;
        if (!r.ok(VerQueryValueW(copy.data(), path.c_str(), &value, &len), label + ": missing")) continue;
        // len counts characters including the terminator; an empty value may have none.
        std::wstring got(static_cast<const wchar_t*>(value), value ? len : 0);
        got.resize(std::wcslen(got.c_str()));
        r.eq(label, got, v.value);
    }
}

// ---------------------------------------------------------------------------
// Manifest

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Where `element` starts: "<element" followed by a space, '/' or '>', at or after `from`.
size_t find_element(const std::string& xml, const std::string& element, size_t from) {
    for (size_t at = xml.find("<" + element, from); at != std::string::npos;
         at = xml.find("<" + element, at + 1)) {
        const size_t next = at + 1 + element.size();
        if (next < xml.size() && (is_space(xml[next]) || xml[next] == '/' || xml[next] == '>')) return at;
    }
    return std::string::npos;
}

// Value of `attr` in the start tag at `at`, or "<none>".
std::string attribute(const std::string& xml, size_t at, const std::string& attr) {
    size_t end = xml.find('>', at);
    for (size_t p = xml.find(attr, at); p < end; p = xml.find(attr, p + 1)) {
        size_t q = p + attr.size();
        while (q < end && is_space(xml[q])) ++q;
        if (!is_space(xml[p - 1]) || q >= end || xml[q] != '=') continue;
        ++q;
        while (q < end && is_space(xml[q])) ++q;
        if (q >= end || (xml[q] != '"' && xml[q] != '\'')) break;
        size_t close = xml.find(xml[q], q + 1);
        if (close < end) return xml.substr(q + 1, close - q - 1);
    }
    return "<none>";
}

struct ExpectedAttribute {
    const char* path;  // element names, each searched after the previous one
    const char* attr;
    const char* value;  // nullptr: the executable's own processor architecture
};

const ExpectedAttribute kManifest[] = {
    {"assembly", "manifestVersion", "1.0"},
    {"assembly assemblyIdentity", "processorArchitecture", nullptr},
    {"assembly assemblyIdentity", "version", "5.1.0.0"},
    {"assembly assemblyIdentity", "type", "win32"},
    {"assembly assemblyIdentity", "name", "Quorvel.exe"},
    {"dependency dependentAssembly assemblyIdentity", "name", "Microsoft.Windows.Common-Controls"},
    {"dependency dependentAssembly assemblyIdentity", "type", "win32"},
    {"dependency dependentAssembly assemblyIdentity", "version", "6.0.0.0"},
    {"dependency dependentAssembly assemblyIdentity", "publicKeyToken", "6595b64144ccf1df"},
    {"dependency dependentAssembly assemblyIdentity", "language", "*"},
    {"dependency dependentAssembly assemblyIdentity", "processorArchitecture", nullptr},
    {"trustInfo", "xmlns", "urn:schemas-microsoft-com:asm.v3"},
    {"trustInfo requestedExecutionLevel", "level", "RequireAdministrator"},
    {"trustInfo requestedExecutionLevel", "uiAccess", "false"},
};

// DPI awareness (per-monitor v2 from Windows 10 1703 on, per-monitor on 8.1
// and 10 1607, the system DPI before) and the supportedOS of Vista, 7, 8,
// 8.1 and 10/11, as the manifest spells them.
const char* const kManifestSnippets[] = {
    "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
    "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>",
    "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor<",
    "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
    "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",
    "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
    "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",
    "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",
    "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
};

// The manifest's name for the processor the executable is built for, read
// from its PE header: "x86", "amd64", or "<unknown>".
std::string processor_architecture(const wchar_t* exe) {
    HANDLE f = CreateFileW(exe, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "<unknown>";
    IMAGE_DOS_HEADER dos{};
    DWORD got = 0;
    WORD machine = 0;
    if (ReadFile(f, &dos, sizeof dos, &got, nullptr) && got == sizeof dos && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        SetFilePointer(f, dos.e_lfanew + 4, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER)
        if (!ReadFile(f, &machine, sizeof machine, &got, nullptr) || got != sizeof machine) machine = 0;
    CloseHandle(f);
    if (machine == IMAGE_FILE_MACHINE_I386) return "x86";
    if (machine == IMAGE_FILE_MACHINE_AMD64) return "amd64";
    return "<unknown>";
}

// Whether the system holds a Common Controls assembly for `arch`.
bool has_common_controls(const std::string& arch) {
    wchar_t pattern[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(pattern, MAX_PATH);
    if (n == 0 || n >= MAX_PATH - 64) return true;  // cannot tell: let the check fail
    std::wcscat(pattern, arch == "x86" ? L"\\winsxs\\x86_microsoft.windows.common-controls_*"
                                       : L"\\winsxs\\amd64_microsoft.windows.common-controls_*");
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(pattern, &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
}

void check_manifest(Report& r, HMODULE m, const wchar_t* exe) {
    const std::string arch = processor_architecture(exe);
    Blob blob = resource(r, m, RT_MANIFEST, 1, kLangEnglishUs, "manifest");
    if (blob) {
        std::string xml(reinterpret_cast<const char*>(blob.data), blob.size);
        for (const ExpectedAttribute& a : kManifest) {
            size_t at = 0;
            std::string path = a.path;
            for (size_t b = 0, e; at != std::string::npos && b < path.size(); b = e + 1) {
                e = path.find(' ', b);
                if (e == std::string::npos) e = path.size();
                at = find_element(xml, path.substr(b, e - b), at);
            }
            std::string got = at == std::string::npos ? "<no element>" : attribute(xml, at, a.attr);
            const std::string want = a.value ? a.value : arch;
            r.ok(got == want, std::string("manifest ") + a.path + " " + a.attr + ": got " + show(got) + ", want " +
                                  show(want));
        }
        size_t d = xml.find("<description>"), e = xml.find("</description>");
        std::string desc = d < e && e != std::string::npos ? xml.substr(d + 13, e - d - 13) : "<none>";
        r.ok(desc == "Quorvel.exe", "manifest description: got " + show(desc) + ", want \"Quorvel.exe\"");
        for (const char* snippet : kManifestSnippets)
            r.ok(xml.find(snippet) != std::string::npos, std::string("manifest has ") + snippet);
    }

    // The loader must accept the manifest and resolve its dependency, or the
    // program does not start at all; the run level is what it will ask for.
    // The dependency is the Common Controls of the executable's architecture:
    // a 64-bit system without 32-bit support (64-bit-only Wine) has no x86
    // side-by-side assemblies to resolve an x86 one with, and the check
    // cannot be made there.
    ACTCTXW ctx{};
    ctx.cbSize = sizeof ctx;
    ctx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ctx.lpSource = exe;
    ctx.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE act = CreateActCtxW(&ctx);
    if (act == INVALID_HANDLE_VALUE && !has_common_controls(arch)) {
        std::printf("note: manifest activation not checked: no %s side-by-side assemblies here\n", arch.c_str());
        return;
    }
    if (!r.ok(act != INVALID_HANDLE_VALUE,
              "manifest: activation context refused (error " + std::to_string(GetLastError()) + ")"))
        return;
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    SIZE_T got = 0;
    if (r.ok(QueryActCtxW(0, act, nullptr, RunlevelInformationInActivationContext, &level, sizeof level, &got),
             "manifest: run level not readable")) {
        r.eq("manifest run level", level.RunLevel, ACTCTX_RUN_LEVEL_REQUIRE_ADMIN);
        r.eq("manifest uiAccess", level.UiAccess, 0);
    }
    ReleaseActCtx(act);
}

// ---------------------------------------------------------------------------
// Icon and bitmap

void check_icon(Report& r, HMODULE m) {
    const WORD kGroup = 128;  // IDR_MAINFRAME
    Blob group = resource(r, m, RT_GROUP_ICON, kGroup, kLangEnglishUs, "icon group 128");
    if (!group) return;
    Reader in(group);
    r.eq("icon group reserved", in.get<WORD>(), 0);
    r.eq("icon group type", in.get<WORD>(), 1);
    if (!r.eq("icon group image count", in.get<WORD>(), 1)) return;
    // GRPICONDIRENTRY: a width or height byte of 0 would mean 256.
    r.eq("icon width", in.get<BYTE>(), 128);
    r.eq("icon height", in.get<BYTE>(), 128);
    r.eq("icon colour count", in.get<BYTE>(), 0);
    in.get<BYTE>();
    r.eq("icon planes", in.get<WORD>(), 1);
    r.eq("icon bits per pixel", in.get<WORD>(), 32);
    DWORD bytes = in.get<DWORD>();
    WORD id = in.get<WORD>();
    if (!r.ok(!in.bad, "icon group directory is truncated")) return;

    r.eq("icon id chosen by the system for 128x128",
         LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group.data), TRUE, 128, 128, LR_DEFAULTCOLOR), id);

    Blob image = resource(r, m, RT_ICON, id, kLangEnglishUs, "icon image " + std::to_string(id));
    if (!image) return;
    r.eq("icon image size against its directory entry", image.size, bytes);
    Reader hdr(image);
    BITMAPINFOHEADER bih = hdr.get<BITMAPINFOHEADER>();
    if (!r.eq("icon image header size (DIB, not PNG)", bih.biSize, sizeof bih)) return;
    r.eq("icon image width", bih.biWidth, 128);
    r.eq("icon image height (colour and mask)", bih.biHeight, 256);
    r.eq("icon image bits per pixel", bih.biBitCount, 32);
    r.eq("icon image compression", bih.biCompression, BI_RGB);
    const DWORD pixels = 128 * 128, mask_bytes = 128 / 8 * 128;
    if (!r.eq("icon image data size", image.size, sizeof bih + pixels * 4 + mask_bytes)) return;

    // A real alpha channel: transparent corners, an opaque face.
    DWORD clear = 0, opaque = 0;
    for (DWORD i = 0; i < pixels; ++i) {
        BYTE alpha = image.data[sizeof bih + i * 4 + 3];
        clear += alpha == 0;
        opaque += alpha == 255;
    }
    r.ok(clear > pixels / 10 && opaque > pixels / 2,
         "icon alpha: " + std::to_string(clear) + " clear and " + std::to_string(opaque) +
             " opaque pixels, want a transparent background around an opaque face");

    HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(image.data), image.size, TRUE, 0x00030000, 0, 0,
                                          LR_DEFAULTCOLOR);
    if (r.ok(icon != nullptr, "icon image rejected by CreateIconFromResourceEx")) DestroyIcon(icon);
}

void check_bitmap(Report& r, HMODULE m) {
    Blob blob = resource(r, m, RT_BITMAP, 134, kLangEnglishUs, "bitmap 134");  // IDB_ABOUT_PICTURE
    if (!blob) return;
    Reader in(blob);
    BITMAPINFOHEADER bih = in.get<BITMAPINFOHEADER>();
    r.eq("bitmap header size", bih.biSize, sizeof bih);
    r.eq("bitmap width", bih.biWidth, 300);
    r.eq("bitmap height", bih.biHeight, 265);
    r.eq("bitmap planes", bih.biPlanes, 1);
    r.eq("bitmap bits per pixel", bih.biBitCount, 24);
    r.eq("bitmap compression", bih.biCompression, BI_RGB);
    r.eq("bitmap palette size", bih.biClrUsed, 0);
    const DWORD stride = (300 * 3 + 3) / 4 * 4;
    r.eq("bitmap resource size", blob.size, sizeof bih + stride * 265);
}

// ---------------------------------------------------------------------------
// Dialog templates

// A control kind: its predefined class atom and the style bits that make it
// that kind, as (style & mask) == bits.  WS_VISIBLE is checked separately.
struct Kind {
    WORD atom;
    DWORD mask;
    DWORD bits;
};

constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;
constexpr Kind kPush{kButton, BS_TYPEMASK | WS_TABSTOP, BS_PUSHBUTTON | WS_TABSTOP};
constexpr Kind kDefPush{kButton, BS_TYPEMASK | WS_TABSTOP, BS_DEFPUSHBUTTON | WS_TABSTOP};
constexpr Kind kDefPushGroup{kButton, BS_TYPEMASK | WS_TABSTOP | WS_GROUP,
                             BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP};
constexpr Kind kText{kStatic, SS_TYPEMASK | SS_NOPREFIX | WS_TABSTOP, SS_LEFT};
constexpr Kind kTextNoPrefix{kStatic, SS_TYPEMASK | SS_NOPREFIX | WS_TABSTOP, SS_LEFT | SS_NOPREFIX};
constexpr Kind kIcon{kStatic, SS_TYPEMASK, SS_ICON};
constexpr Kind kPicture{kStatic, SS_TYPEMASK, SS_BITMAP};
constexpr Kind kStatusEdit{kEdit,
                           ES_CENTER | ES_RIGHT | ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY | WS_BORDER |
                               WS_TABSTOP,
                           ES_CENTER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
constexpr Kind kAboutEdit{kEdit, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_BORDER,
                          ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_BORDER};

struct ControlLayout {
    int id;  // -1 for unnamed statics
    Kind kind;
    Name text;
    short x, y, cx, cy;
    bool visible;
};

struct DialogLayout {
    WORD id;
    bool extended;
    DWORD style, ex_style;
    short cx, cy;
    const wchar_t* caption;
    WORD points;
    const wchar_t* face;
    std::vector<ControlLayout> controls;  // in tab order
};

const DialogLayout kDialogs[] = {
    {102, true,  // IDD_MAIN
     DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
     WS_EX_APPWINDOW, 241, 159, L"Ostrevin", 9, L"宋体",
     {
         {IDOK, kDefPush, txt(L"确定"), 177, 7, 50, 14, false},
         {IDCANCEL, kPush, txt(L"取消"), 177, 23, 50, 14, false},
         {57670, kPush, txt(L"帮助(&H)"), 7, 139, 40, 15, false},  // ID_HELP
         {-1, kText, txt(L"第一步："), 37, 72, 37, 8, true},
         {1000, kPush, txt(L"从百度读取互联网时间"), 77, 67, 123, 18, true},  // IDC_FETCH
         {1001, kStatusEdit, txt(L""), 77, 91, 122, 14, true},                // IDC_TIME_TEXT
         {1002, kPush, txt(L"将系统时间设置成互联网时间"), 77, 110, 123, 18, true},  // IDC_APPLY
         {-1, kText, txt(L"第二步："), 37, 115, 33, 8, true},
         {-1, kText, txt(L"快速从互联网读取时间，不依赖任何时间服务器。"), 9, 6, 177, 8, true},
         {1003, kPush, txt(L"退出"), 196, 138, 38, 16, true},  // IDC_EXIT
         {1004, kPush, txt(L"关于"), 153, 138, 39, 16, true},  // IDC_ABOUT
         {-1, kText, txt(L"本软件时间同步成功率：稳如老狗。"), 9, 18, 148, 8, true},
         {-1, kText, txt(L"本软件时间同步的速度：点击按钮一瞬间完成。"), 9, 29, 204, 8, true},
         {-1, kText, txt(L"主板电池没电时间跨度大也支持，系统自带不支持此功能。"), 9, 41, 216, 8, true},
         {-1, kText, txt(L"新建快捷方式，运行参数加上auto，支持开机自动校准。"), 9, 53, 215, 8, true},
         {1005, kPush, txt(L"自动运行上面两步"), 64, 138, 84, 16, true},  // IDC_FETCH_AND_APPLY
         {-1, kText, txt(L"时间："), 37, 94, 24, 8, true},
     }},
    {100, false,  // IDD_ABOUTBOX
     DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 206, 273, L"关于", 9, L"宋体",
     {
         {-1, kIcon, ord(128), 8, 4, 21, 21, true},  // IDR_MAINFRAME
         {-1, kTextNoPrefix, txt(L"Tembrisk v0.1 版"), 40, 4, 119, 8, true},
         {-1, kText, txt(L"Ostrevin"), 39, 16, 102, 8, true},
         {IDOK, kDefPushGroup, txt(L"确定"), 117, 255, 50, 14, true},
         {1001, kAboutEdit, txt(L""), 21, 207, 162, 43, true},         // IDC_ABOUT_TEXT
         {1000, kPush, txt(L"立刻联系我"), 39, 255, 50, 14, true},     // IDC_CONTACT
         {-1, kPicture, ord(134), 3, 26, 200, 177, true},              // IDB_ABOUT_PICTURE
     }},
};

// Predefined classes may be stored by name instead of by atom.
WORD class_atom(const ReadName& cls) {
    if (cls.is_ord) return cls.ord;
    static const wchar_t* const names[] = {L"Button", L"Edit", L"Static"};
    for (WORD i = 0; i < 3; ++i)
        if (lstrcmpiW(cls.text.c_str(), names[i]) == 0) return kButton + i;
    return 0;
}

void check_dialog(Report& r, HMODULE m, const DialogLayout& layout) {
    const std::string dlg = "dialog " + std::to_string(layout.id);
    Blob blob = resource(r, m, RT_DIALOG, layout.id, kLangChinesePrc, dlg);
    if (!blob) return;
    Reader in(blob);

    // Header: DLGTEMPLATEEX or DLGTEMPLATE.
    DWORD style, ex_style;
    if (layout.extended) {
        r.eq(dlg + " template version", in.get<WORD>(), 1);
        if (!r.eq(dlg + " extended template signature", in.get<WORD>(), 0xFFFF)) return;
        r.eq(dlg + " help ID", in.get<DWORD>(), 0);
        ex_style = in.get<DWORD>();
        style = in.get<DWORD>();
    } else {
        style = in.get<DWORD>();
        if (!r.ok(HIWORD(style) != 0xFFFF, dlg + " is an extended template, want a classic one")) return;
        ex_style = in.get<DWORD>();
    }
    r.eq(dlg + " style", style, layout.style);
    r.eq(dlg + " extended style", ex_style, layout.ex_style);
    const WORD count = in.get<WORD>();
    r.eq(dlg + " control count", count, layout.controls.size());
    in.get<short>();
    in.get<short>();
    r.eq(dlg + " width", in.get<short>(), layout.cx);
    r.eq(dlg + " height", in.get<short>(), layout.cy);
    const ReadName menu = read_name(in), window_class = read_name(in);
    r.ok(!menu.is_ord && menu.text.empty(), dlg + " menu: got " + show(menu) + ", want none");
    r.ok(!window_class.is_ord && window_class.text.empty(),
         dlg + " window class: got " + show(window_class) + ", want the default");
    r.eq(dlg + " caption", in.wsz(), layout.caption);
    if (style & DS_SETFONT) {
        r.eq(dlg + " font size", in.get<WORD>(), layout.points);
        if (layout.extended) {
            r.eq(dlg + " font weight", in.get<WORD>(), FW_DONTCARE);
            r.eq(dlg + " font italic", in.get<BYTE>(), FALSE);
            r.eq(dlg + " font charset", in.get<BYTE>(), DEFAULT_CHARSET);
        }
        r.eq(dlg + " font face", in.wsz(), layout.face);
    }

    // Controls, each DLGITEMTEMPLATE(EX) DWORD-aligned.
    for (WORD i = 0; i < count && i < layout.controls.size() && !in.bad; ++i) {
        const ControlLayout& c = layout.controls[i];
        const std::string ctl = dlg + " control " + std::to_string(i + 1) + " (id " + std::to_string(c.id) + ")";
        in.align4();
        DWORD id, cstyle;
        if (layout.extended) {
            in.get<DWORD>();  // help ID
            in.get<DWORD>();  // extended style
            cstyle = in.get<DWORD>();
        } else {
            cstyle = in.get<DWORD>();
            in.get<DWORD>();  // extended style
        }
        short x = in.get<short>(), y = in.get<short>(), cx = in.get<short>(), cy = in.get<short>();
        id = layout.extended ? in.get<DWORD>() : in.get<WORD>();
        const ReadName cls = read_name(in);
        const ReadName text = read_name(in);
        const WORD extra = in.get<WORD>();
        in.skip(extra);

        r.eq(ctl + " id", id, layout.extended ? static_cast<DWORD>(c.id) : static_cast<WORD>(c.id));
        r.eq(ctl + " class", class_atom(cls), c.kind.atom);
        r.ok(same(text, c.text), ctl + " text: got " + show(text) + ", want " + show(c.text));
        r.ok(x == c.x && y == c.y && cx == c.cx && cy == c.cy,
             ctl + " position: got " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(cx) +
                 "," + std::to_string(cy) + ", want " + std::to_string(c.x) + "," + std::to_string(c.y) + "," +
                 std::to_string(c.cx) + "," + std::to_string(c.cy));
        r.eq(ctl + " visible", (cstyle & WS_VISIBLE) != 0, c.visible);
        r.eq(ctl + " child window", (cstyle & WS_CHILD) != 0, true);
        r.eq(ctl + " kind style bits", cstyle & c.kind.mask, c.kind.bits);
        r.eq(ctl + " creation data size", extra, 0);
    }
    r.ok(!in.bad, dlg + " template is truncated");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: check_resources path\\to\\Quorvel.exe\n");
        return 2;
    }
    HMODULE m = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!m) m = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!m) {
        std::fprintf(stderr, "check_resources: cannot load %ls (error %lu)\n", argv[1], GetLastError());
        return 2;
    }

    Report r;
    check_strings(r, m);
    check_version(r, m);
    check_manifest(r, m, argv[1]);
    check_icon(r, m);
    check_bitmap(r, m);
    for (const DialogLayout& d : kDialogs) check_dialog(r, m, d);
    FreeLibrary(m);

    std::printf("%d passed, %d failed\n", r.passed(), r.failed());
    return r.failed() ? 1 : 0;
}
