// How the setup finds its way to the service: the user's PAC file, automatic detection, the
// user's named proxy, the machine's WinHTTP setting, then a direct connection, each route tried
// once until one answers. The decisions are pure; the WinHTTP reads are thin.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Where a route came from, for the log line.
enum class RouteSource { CommandLine, PacFile, AutoDetect, UserProxy, MachineSetting, Direct };

// One way out: through proxy ("host:port") or, when it is "", straight to the host. The machine's
// setting with no proxy opens the session exactly as a setup without proxies always has.
struct ProxyRoute {
    RouteSource source = RouteSource::MachineSetting;
    std::wstring proxy;
};

// What the user's settings (WinHttpGetIEProxyConfigForCurrentUser) and the machine's WinHTTP
// setting name, as WinHTTP gives them.
struct ProxySettings {
    bool autoDetect = false;
    std::wstring pacUrl;
    std::wstring userProxy;
    std::wstring userBypass;
    std::wstring machineProxy;
    std::wstring machineBypass;
};

// The kinds of candidate the settings name, in the order they are tried.
std::vector<RouteSource> candidateOrder(const ProxySettings& settings);

// The proxies of a proxy list ("a:1;b:2", "http=a:1;https=b:2", blanks as separators) that carry
// HTTPS: those named for https and those named for every scheme, in order.
std::vector<std::wstring> httpsProxies(const std::wstring& list);

// The routes of a PAC answer ("PROXY a:1; PROXY b:2; DIRECT", or a bare list as WinHTTP returns
// it) in order: "host:port" for a proxy, "" for DIRECT; SOCKS and HTTPS proxies are left out.
std::vector<std::wstring> pacRoutes(const std::wstring& answer);

// True when a bypass list ("<local>;*.corp.example;10.*", any of ';', ',' or blanks between)
// sends host straight out: wildcards match any run of characters, case is ignored, a scheme in
// front of an entry is ignored, and <local> covers names without a dot.
bool bypassesProxy(const std::wstring& bypassList, const std::wstring& host);

// What WinHttpGetProxyForUrl said for the URL, as a PAC answer; nothing when it found no script.
using AskAutoProxy = std::function<std::optional<std::wstring>(RouteSource source)>;

// Tries the routes the settings name for host, in candidateOrder and each entry of a PAC answer
// in turn, never the same proxy (or the direct route) twice, until tryRoute reports an answer.
// Returns that route, or nothing when none answered. triedBefore counts the routes that failed.
struct FoundRoute {
    ProxyRoute route;
    int triedBefore = 0;
};
std::optional<FoundRoute> searchRoutes(const ProxySettings& settings, const std::wstring& host,
                                       const AskAutoProxy& askAutoProxy,
                                       const std::function<bool(const ProxyRoute&)>& tryRoute);

// The debug log's line for the route that worked, "Proxy: <how it was found> -> <route>"; "" when
// nothing about proxies happened: the machine's setting held no proxy and was the first route.
std::wstring routeLogLine(const FoundRoute& found, const std::wstring& pacUrl);

// The scheme to answer a proxy's 407 with: Negotiate, else NTLM, both with the signed-in user's
// own credentials; 0 when the proxy offers neither (Basic, Digest or nothing), which the setup
// never answers.
DWORD proxySignInScheme(DWORD offeredSchemes);

// The log line of a proxy sign-in the setup could not give.
std::wstring proxySignInLogLine(const std::wstring& proxy, DWORD offeredSchemes);

// /proxy's value: "direct", or "http://host:port" (a trailing "/" allowed) given as "host:port".
// False for anything else.
bool parseProxyArgument(const std::wstring& argument, std::wstring& route);

// The user's and the machine's settings; what cannot be read is left empty. Any thread.
ProxySettings readProxySettings();

// WinHttpGetProxyForUrl for url with the PAC URL or automatic detection, as a PAC answer whose
// proxies the bypass list it came with does not exclude for host. Blocking, within timeouts.
std::optional<std::wstring> askWinHttpAutoProxy(RouteSource source, const std::wstring& pacUrl,
                                                const std::wstring& url, const std::wstring& host);
