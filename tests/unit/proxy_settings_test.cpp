// Reading proxy settings as curl and Windows write them.

#include <gtest/gtest.h>

#include <string>

#include "proxy_settings.h"

namespace {

using namespace proxy_settings;

// What a setting reads as: "host|port|user info", "unsupported SCHEME",
// "malformed", or for a Windows list also "socks" and "none".
std::string Url(const std::string& text)
{
    HttpProxy p;
    std::string scheme;
    switch (ParseProxyUrl(text, kCurlDefaultPort, &p, &scheme)) {
    case UrlForm::Ok:
        return p.host + "|" + std::to_string(p.port) + "|" + p.userInfo;
    case UrlForm::UnsupportedScheme:
        return "unsupported " + scheme;
    case UrlForm::Malformed:
        break;
    }
    return "malformed";
}

std::string WindowsList(const std::string& list)
{
    HttpProxy p;
    switch (PickWindowsProxy(list, &p)) {
    case ListChoice::Http:
        return p.host + "|" + std::to_string(p.port);
    case ListChoice::Socks:
        return "socks";
    case ListChoice::Malformed:
        return "malformed";
    case ListChoice::None:
        break;
    }
    return "none";
}

struct FormCase {
    std::string (*read)(const std::string&);
    const char* text;
    const char* expected;
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.text; }

const FormCase kFormCases[] = {
    {Url, "http://proxy.example:3128/", "proxy.example|3128|"},
    {Url, "proxy.example:3128", "proxy.example|3128|"},
    {Url, "HTTP://proxy.example", "proxy.example|1080|"},
    {Url, "http://[::1]:3128", "::1|3128|"},
    {Url, "[fe80::1]", "fe80::1|1080|"},
    {Url, "http://us%65r:p%40ss:w@rd@proxy:8080/path?q", "proxy|8080|user:p@ss:w@rd"},
    {Url, "http://user@proxy:8080", "proxy|8080|user:"},
    {Url, "https://proxy:3128", "unsupported https"},
    {Url, "SOCKS5h://proxy:1080", "unsupported socks5h"},
    {Url, "http://:3128", "malformed"},
    {Url, "proxy:65536", "malformed"},
    {Url, "proxy:31x8", "malformed"},
    {Url, "[::1:3128", "malformed"},
    {Url, "http://us%4:pw@proxy", "malformed"},
    {WindowsList, "127.0.0.1:3128", "127.0.0.1|3128"},
    {WindowsList, "https=secure:443;HTTP=plain:8080;ftp=f:21", "plain|8080"},
    {WindowsList, "http://plain:8080/", "plain|8080"},
    {WindowsList, "plain", "plain|80"},
    {WindowsList, "https=secure:443", "none"},
    {WindowsList, "socks=s:1080", "socks"},
    {WindowsList, "https=secure:443 socks=s:1080", "socks"},
    {WindowsList, "http=:8080", "malformed"},
};

class ProxyForms : public ::testing::TestWithParam<FormCase> {};

TEST_P(ProxyForms, ReadAsTheSystemMeansThem)
{
    EXPECT_EQ(GetParam().expected, GetParam().read(GetParam().text)) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Settings, ProxyForms, ::testing::ValuesIn(kFormCases));

struct BypassCase {
    bool (*names)(const std::string&, const std::string&);
    const char* list;
    const char* host;
    bool named;
};

void PrintTo(const BypassCase& c, std::ostream* os) { *os << c.list << " / " << c.host; }

const BypassCase kBypassCases[] = {
    {NoProxyNames, "*", "www.baidu.com", true},
    {NoProxyNames, "baidu.com", "www.baidu.com", true},
    {NoProxyNames, "example.org, .BAIDU.com", "www.baidu.com", true},
    {NoProxyNames, "www.baidu.com", "WWW.Baidu.COM", true},
    {NoProxyNames, "idu.com", "www.baidu.com", false},
    {NoProxyNames, "*.baidu.com", "www.baidu.com", false},
    {BypassListNames, "<local>", "intranet", true},
    {BypassListNames, "<local>", "www.baidu.com", false},
    {BypassListNames, "*.example.com;*.BAIDU.com", "www.baidu.com", true},
    {BypassListNames, "www.*.com", "www.baidu.com", true},
    {BypassListNames, "baidu.com", "www.baidu.com", false},
};

class ProxyBypass : public ::testing::TestWithParam<BypassCase> {};

TEST_P(ProxyBypass, NamesTheHostAsTheSystemMatchesIt)
{
    EXPECT_EQ(GetParam().named, GetParam().names(GetParam().list, GetParam().host));
}

INSTANTIATE_TEST_SUITE_P(Lists, ProxyBypass, ::testing::ValuesIn(kBypassCases));

}  // namespace
