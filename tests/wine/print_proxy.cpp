// print_proxy: prints the way the Win32 backend's AfxGetHttpProxy chooses
// for Quorvel's own URL, http://www.baidu.com/, with the settings of the
// Wine prefix it runs in.
//
// Usage: print_proxy.exe
// Prints one line: "Direct", "Proxy HOST:PORT (SOURCE)" or "Unusable:
// PROBLEM". Exit status 0.

#include <cstdio>
#include <string>

#include "http_proxy.h"

int main()
{
    HttpProxy proxy;
    std::string problem;
    switch (AfxGetHttpProxy("http://www.baidu.com/", "www.baidu.com", &proxy, &problem)) {
    case ProxyChoice::Direct:
        std::printf("Direct\n");
        break;
    case ProxyChoice::Proxy:
        std::printf("Proxy %s:%u (%s)\n", proxy.host.c_str(), proxy.port, proxy.source.c_str());
        break;
    case ProxyChoice::Unusable:
        std::printf("Unusable: %s\n", problem.c_str());
        break;
    }
    return 0;
}
