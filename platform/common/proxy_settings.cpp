#include "proxy_settings.h"

#include <cstddef>

namespace proxy_settings {

namespace {

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(const std::string& text)
{
    std::string out(text);
    for (char& c : out)
        c = Lower(c);
    return out;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// `text` split at any of `separators`, blanks trimmed, empty pieces left out.
template <typename Visit>
void ForEachEntry(const std::string& text, const char* separators, Visit visit)
{
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find_first_of(separators, at);
        if (end == std::string::npos)
            end = text.size();
        std::size_t first = at;
        std::size_t last = end;
        while (first < last && IsBlank(text[first]))
            ++first;
        while (last > first && IsBlank(text[last - 1]))
            --last;
        if (last > first && !visit(text.substr(first, last - first)))
            return;
        at = end + 1;
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Undoes percent-encoding; false on a '%' not followed by two hex digits.
bool PercentDecode(const std::string& text, std::string* out)
{
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out->push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out->push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

// Reads "host", "host:port", "[v6]" or "[v6]:port" (the whole of
// `authority`); false when the host is empty or the port is not 1 to 65535.
bool ParseHostPort(const std::string& authority, unsigned defaultPort, HttpProxy* proxy)
{
    std::string host;
    std::string rest;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos)
            return false;
        host = authority.substr(1, close - 1);
        rest = authority.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            return false;
    } else {
        const std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        rest = colon == std::string::npos ? "" : authority.substr(colon);
    }
    if (host.empty())
        return false;
    unsigned port = defaultPort;
    if (!rest.empty()) {
        const std::string digits = rest.substr(1);
        if (digits.empty() || digits.size() > 5)
            return false;
        port = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return false;
            port = port * 10 + static_cast<unsigned>(c - '0');
        }
        if (port == 0 || port > 65535)
            return false;
    }
    proxy->host = host;
    proxy->port = port;
    return true;
}

// Whether `text` matches `pattern`, whose '*' stands for any run of
// characters; both already in lower case.
bool WildcardMatch(const std::string& pattern, const std::string& text)
{
    std::size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

}  // namespace

UrlForm ParseProxyUrl(const std::string& text, unsigned defaultPort, HttpProxy* proxy,
                      std::string* scheme)
{
    std::string rest = text;
    scheme->clear();
    const std::size_t schemeEnd = rest.find("://");
    if (schemeEnd != std::string::npos) {
        *scheme = Lower(rest.substr(0, schemeEnd));
        if (*scheme != "http")
            return UrlForm::UnsupportedScheme;
        rest = rest.substr(schemeEnd + 3);
    }
    rest = rest.substr(0, rest.find_first_of("/?#"));
    // The user information ends at the last '@': a password may hold one
    // unencoded, a host never does.
    HttpProxy parsed;
    const std::size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = rest.substr(0, at);
        const std::size_t colon = userInfo.find(':');
        std::string user, password;
        if (!PercentDecode(userInfo.substr(0, colon), &user))
            return UrlForm::Malformed;
        if (colon != std::string::npos &&
            !PercentDecode(userInfo.substr(colon + 1), &password))
            return UrlForm::Malformed;
        parsed.userInfo = user + ":" + password;
        rest = rest.substr(at + 1);
    }
    if (!ParseHostPort(rest, defaultPort, &parsed))
        return UrlForm::Malformed;
    parsed.source = proxy->source;
    *proxy = parsed;
    return UrlForm::Ok;
}

bool NoProxyNames(const std::string& noProxy, const std::string& host)
{
    const std::string name = Lower(host);
    bool named = false;
    ForEachEntry(noProxy, ", \t", [&](const std::string& entry) {
        std::string e = Lower(entry);
        if (e == "*") {
            named = true;
            return false;
        }
        if (e[0] == '.')
            e.erase(0, 1);
        if (name == e || (name.size() > e.size() &&
                          name.compare(name.size() - e.size(), e.size(), e) == 0 &&
                          name[name.size() - e.size() - 1] == '.')) {
            named = true;
            return false;
        }
        return true;
    });
    return named;
}

ListChoice PickWindowsProxy(const std::string& list, HttpProxy* proxy)
{
    std::string http, plain, socks;
    ForEachEntry(list, "; \t", [&](const std::string& entry) {
        const std::size_t equals = entry.find('=');
        const std::size_t slashes = entry.find("://");
        std::string scheme, value = entry;
        if (equals != std::string::npos) {
            scheme = Lower(entry.substr(0, equals));
            value = entry.substr(equals + 1);
        } else if (slashes != std::string::npos) {
            scheme = Lower(entry.substr(0, slashes));
            value = entry.substr(slashes + 3);
        }
        std::string* slot = scheme.empty() ? &plain
                            : scheme == "http" ? &http
                            : scheme == "socks" ? &socks
                                                : nullptr;
        if (slot != nullptr && slot->empty())
            *slot = value;
        return true;
    });
    const std::string& chosen = !http.empty() ? http : plain;
    if (chosen.empty())
        return socks.empty() ? ListChoice::None : ListChoice::Socks;
    const std::string authority = chosen.substr(0, chosen.find('/'));
    HttpProxy parsed;
    if (!ParseHostPort(authority, kWindowsDefaultPort, &parsed))
        return ListChoice::Malformed;
    proxy->host = parsed.host;
    proxy->port = parsed.port;
    return ListChoice::Http;
}

bool BypassListNames(const std::string& bypass, const std::string& host)
{
    const std::string name = Lower(host);
    bool named = false;
    ForEachEntry(bypass, ";, \t", [&](const std::string& entry) {
        const std::string e = Lower(entry);
        if (e == "<local>" ? name.find('.') == std::string::npos : WildcardMatch(e, name)) {
            named = true;
            return false;
        }
        return true;
    });
    return named;
}

}  // namespace proxy_settings
