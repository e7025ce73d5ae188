// AfxGetHttpProxy through WinHTTP, which every Windows since XP SP1 has
// (WinHTTP 5.1): the user's Internet Settings as Internet Options write them
// (automatic detection, then an automatic configuration script, then the
// fixed proxy and its bypass list), and when they name no proxy, the
// machine-wide WinHTTP proxy ("netsh winhttp set proxy"), which serves a
// scheduled task run as SYSTEM. WinHTTP reads the settings; this file only
// reads its answers, with the parsers of proxy_settings.h.

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "http_proxy.h"
#include "proxy_settings.h"

namespace {

const char kInternetSettings[] = "Internet Settings";
const char kAutoDetection[] = "automatic detection";
const char kConfigurationScript[] = "automatic configuration script";
const char kWinHttpDefault[] = "WinHTTP default";

// Bounds each phase of fetching a configuration script (name look-up,
// connect, send, receive), in milliseconds: WinHTTP's own defaults allow
// minutes.
constexpr int kScriptTimeoutMs = 10000;

// A string that WinHTTP allocated for the caller, freed with GlobalFree.
class WinHttpString {
public:
    explicit WinHttpString(wchar_t* text) : m_text(text) {}
    WinHttpString(const WinHttpString&) = delete;
    WinHttpString& operator=(const WinHttpString&) = delete;
    ~WinHttpString()
    {
        if (m_text != nullptr)
            GlobalFree(m_text);
    }
    const wchar_t* get() const { return m_text; }
    bool empty() const { return m_text == nullptr || m_text[0] == L'\0'; }

private:
    wchar_t* m_text;
};

// A WinHTTP session without a proxy of its own, for fetching configuration
// scripts; closed on destruction.
class WinHttpSession {
public:
    WinHttpSession()
        : m_handle(WinHttpOpen(L"Quorvel", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0))
    {
        if (m_handle != nullptr)
            WinHttpSetTimeouts(m_handle, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs,
                               kScriptTimeoutMs);
    }
    WinHttpSession(const WinHttpSession&) = delete;
    WinHttpSession& operator=(const WinHttpSession&) = delete;
    ~WinHttpSession()
    {
        if (m_handle != nullptr)
            WinHttpCloseHandle(m_handle);
    }
    HINTERNET get() const { return m_handle; }

private:
    HINTERNET m_handle;
};

// `text` as narrow ASCII in `*out` (null: ""); false when it holds anything
// else, which no host name, port or bypass entry does.
bool ToAscii(const wchar_t* text, std::string* out)
{
    out->clear();
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p) {
        if (*p > 0x7F)
            return false;
        out->push_back(static_cast<char>(*p));
    }
    return true;
}

std::wstring Widen(const char* ascii)
{
    std::wstring out;
    for (const char* p = ascii; *p != '\0'; ++p)
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    return out;
}

// The choice a proxy list and its bypass list make for `host`, found in
// `source`: Direct when the bypass list names the host or the list has no
// proxy for HTTP.
ProxyChoice FromLists(const wchar_t* list, const wchar_t* bypass, const char* host,
                      const char* source, HttpProxy* proxy, std::string* problem)
{
    std::string proxies, exceptions;
    if (!ToAscii(list, &proxies) || !ToAscii(bypass, &exceptions)) {
        *problem = std::string("The proxy setting in ") + source +
                   " holds characters other than ASCII; no request is made.";
        return ProxyChoice::Unusable;
    }
    if (proxy_settings::BypassListNames(exceptions, host))
        return ProxyChoice::Direct;
    HttpProxy picked;
    switch (proxy_settings::PickWindowsProxy(proxies, &picked)) {
    case proxy_settings::ListChoice::None:
        return ProxyChoice::Direct;
    case proxy_settings::ListChoice::Http:
        picked.source = source;
        *proxy = picked;
        return ProxyChoice::Proxy;
    case proxy_settings::ListChoice::Socks:
        *problem = std::string("The proxy in ") + source +
                   " for HTTP is a SOCKS proxy; only HTTP proxies are spoken, so no request is made.";
        return ProxyChoice::Unusable;
    case proxy_settings::ListChoice::Malformed:
        break;
    }
    *problem = std::string("The proxy in ") + source + " (\"" + proxies +
               "\") is not of the form host:port or http=host:port; no request is made.";
    return ProxyChoice::Unusable;
}

// Asks WinHTTP for the proxy of `url` by automatic detection (WPAD over
// DHCP and DNS; `configUrl` null) or by the script at `configUrl`. False
// when that found nothing: no script detected, or it could not be fetched
// or run. Otherwise `*choice` is its answer.
bool FromAutoProxy(const wchar_t* url, const wchar_t* configUrl, const char* host,
                   const char* source, HttpProxy* proxy, std::string* problem,
                   ProxyChoice* choice)
{
    // One session for the process: WinHTTP caches a detected script's URL
    // and the script in it, so the attempts after the first do not detect
    // and fetch again.
    static WinHttpSession session;
    if (session.get() == nullptr)
        return false;
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (configUrl == nullptr) {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = configUrl;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info = {};
    if (!WinHttpGetProxyForUrl(session.get(), url, &options, &info))
        return false;
    const WinHttpString list(info.lpszProxy);
    const WinHttpString bypass(info.lpszProxyBypass);
    *choice = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !list.empty()
                  ? FromLists(list.get(), bypass.get(), host, source, proxy, problem)
                  : ProxyChoice::Direct;
    return true;
}

}  // namespace

ProxyChoice AfxGetHttpProxy(const char* url, const char* host, HttpProxy* proxy,
                            std::string* problem)
{
    const std::wstring wideUrl = Widen(url);
    ProxyChoice choice = ProxyChoice::Direct;

    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user = {};
    if (WinHttpGetIEProxyConfigForCurrentUser(&user)) {
        const WinHttpString configUrl(user.lpszAutoConfigUrl);
        const WinHttpString list(user.lpszProxy);
        const WinHttpString bypass(user.lpszProxyBypass);
        // Internet Explorer's order: detection, the script, the fixed proxy.
        if (user.fAutoDetect &&
            FromAutoProxy(wideUrl.c_str(), nullptr, host, kAutoDetection, proxy, problem, &choice))
            return choice;
        if (!configUrl.empty() && FromAutoProxy(wideUrl.c_str(), configUrl.get(), host,
                                                kConfigurationScript, proxy, problem, &choice))
            return choice;
        if (!list.empty())
            return FromLists(list.get(), bypass.get(), host, kInternetSettings, proxy, problem);
    }

    WINHTTP_PROXY_INFO machine = {};
    if (!WinHttpGetDefaultProxyConfiguration(&machine))
        return ProxyChoice::Direct;
    const WinHttpString list(machine.lpszProxy);
    const WinHttpString bypass(machine.lpszProxyBypass);
    if (machine.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || list.empty())
        return ProxyChoice::Direct;
    return FromLists(list.get(), bypass.get(), host, kWinHttpDefault, proxy, problem);
}
