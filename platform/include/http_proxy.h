// The HTTP proxy that the system's own settings name for a URL: the one
// every other program on the machine uses. The program has no proxy setting
// of its own.
#pragma once

#include <string>

struct HttpProxy {
    std::string host;      // host name or address literal, without brackets
    unsigned port = 0;     // 1 to 65535
    std::string userInfo;  // "user:password", percent-encoding undone; empty: no credentials
    std::string source;    // where the setting was found, for the console: "http_proxy"
};

enum class ProxyChoice {
    Direct,    // no proxy for this URL: connect to its host
    Proxy,     // through the proxy put in `*proxy`
    Unusable,  // the settings name a proxy that cannot be used (a scheme other
               // than plain HTTP, a malformed setting): `*problem` says why, in
               // one English line without a line end. Never a silent Direct.
};

// Which way a request for `url` (an absolute "http://host/..." URL whose
// host is `host`) should go according to the system's settings: the
// environment (http_proxy, no_proxy) on POSIX; the user's Internet Settings,
// then the machine-wide WinHTTP proxy, on Windows. May take a moment where an
// automatic configuration script has to be fetched.
ProxyChoice AfxGetHttpProxy(const char* url, const char* host, HttpProxy* proxy,
                            std::string* problem);
