// The automatic configuration script of the Wine proxy cases
// (internet_settings.sh --serve-script): squid for plain HTTP to Baidu.
function FindProxyForURL(url, host) {
    if (shExpMatch(host, "*.baidu.com") && url.substring(0, 5) == "http:")
        return "PROXY 127.0.0.1:3128; DIRECT";
    return "DIRECT";
}
