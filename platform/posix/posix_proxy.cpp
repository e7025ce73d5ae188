// AfxGetHttpProxy from the environment, as curl reads it: http_proxy, and
// no_proxy (or NO_PROXY). The upper-case HTTP_PROXY is not read: a web
// server's CGI sets it from a request's "Proxy:" header (httpoxy).

#include <cstdlib>

#include "http_proxy.h"
#include "proxy_settings.h"

namespace {

// The variable's value, or "" when it is unset.
std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

ProxyChoice AfxGetHttpProxy(const char* /*url*/, const char* host, HttpProxy* proxy,
                            std::string* problem)
{
    const std::string setting = Environment("http_proxy");
    if (setting.empty())
        return ProxyChoice::Direct;
    std::string noProxy = Environment("no_proxy");
    if (noProxy.empty())
        noProxy = Environment("NO_PROXY");
    if (proxy_settings::NoProxyNames(noProxy, host))
        return ProxyChoice::Direct;

    HttpProxy parsed;
    parsed.source = "http_proxy";
    std::string scheme;
    switch (proxy_settings::ParseProxyUrl(setting, proxy_settings::kCurlDefaultPort, &parsed,
                                          &scheme)) {
    case proxy_settings::UrlForm::Ok:
        *proxy = parsed;
        return ProxyChoice::Proxy;
    case proxy_settings::UrlForm::UnsupportedScheme:
        *problem = "The proxy in http_proxy is a " + scheme +
                   ":// proxy; only http:// proxies are spoken, so no request is made.";
        return ProxyChoice::Unusable;
    case proxy_settings::UrlForm::Malformed:
        break;
    }
    *problem = "The proxy in http_proxy is not of the form [http://][user:password@]host[:port]; "
               "no request is made.";
    return ProxyChoice::Unusable;
}
