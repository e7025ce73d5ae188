// Reading the proxy settings the system keeps, as text: the forms curl
// reads from http_proxy and no_proxy, and the proxy and bypass lists of
// Windows' Internet Settings and WinHTTP. Pure functions over strings, the
// same on every backend; each backend only fetches the text.
#pragma once

#include <string>

#include "http_proxy.h"

namespace proxy_settings {

// The port of a proxy URL that names none, as curl has it.
constexpr unsigned kCurlDefaultPort = 1080;
// The port of a Windows proxy list entry that names none.
constexpr unsigned kWindowsDefaultPort = 80;

enum class UrlForm {
    Ok,                 // `*proxy` has host, port and credentials
    UnsupportedScheme,  // a scheme other than http: `*scheme` has it, lower case
    Malformed,          // no host, a bad port, a bad percent-escape, ...
};

// Reads an http_proxy value: "http://host:port/", "host:port",
// "http://[v6addr]:port", with an optional "user:password@" whose
// percent-encoding is undone, a path that is ignored, and `defaultPort`
// when no port is given. The scheme is matched without regard to case.
UrlForm ParseProxyUrl(const std::string& text, unsigned defaultPort, HttpProxy* proxy,
                      std::string* scheme);

// Whether `host` is named by a no_proxy value, as curl matches it: "*"
// alone names every host; otherwise a list separated by commas (and
// blanks), each entry a host name or a domain, a leading dot ignored, that
// names itself and every name ending in "." and the entry. Without regard to
// case.
bool NoProxyNames(const std::string& noProxy, const std::string& host);

enum class ListChoice { None, Http, Socks, Malformed };

// Picks the proxy for plain HTTP from a Windows proxy list: entries
// separated by ';' or blanks, each "host:port", "scheme://host:port" or
// "scheme=host:port". An "http=" entry wins; else one without a scheme
// serves every protocol; else a "socks=" entry would carry HTTP too, which
// this program cannot speak (Socks). None: HTTP goes directly. Malformed:
// the chosen entry has no host or a bad port.
ListChoice PickWindowsProxy(const std::string& list, HttpProxy* proxy);

// Whether a Windows bypass list names `host`: entries separated by ';',
// ',' or blanks, each a host name or address with '*' for any run of
// characters ("*.example.com", "10.*"), or "<local>", which names every
// host name without a dot. Without regard to case.
bool BypassListNames(const std::string& bypass, const std::string& host);

}  // namespace proxy_settings
