#include "net/proxy.h"

#include "net/https.h"

#include <algorithm>
#include <cwctype>
#include <set>

namespace {
constexpr wchar_t listSeparators[] = L"; \t\r\n";
constexpr DWORD maxPort = 65535;

std::wstring lowered(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The pieces of text between any of the separators, empty ones left out.
std::vector<std::wstring> splitList(const std::wstring& text, const wchar_t* separators) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find_first_of(separators, start), text.size());
        if (end > start)
            pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// Wildcard match, '*' for any run of characters; both already lower-case.
bool wildcardMatch(const std::wstring& pattern, const std::wstring& text) {
    size_t p = 0, t = 0, star = std::wstring::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*')
        ++p;
    return p == pattern.size();
}

// "host:port" with a plain host name or address and a port of 1 to 65535.
bool isHostAndPort(const std::wstring& text) {
    const size_t colon = text.rfind(L':');
    if (colon == std::wstring::npos || colon == 0 || colon + 1 == text.size() || text.size() - colon > 6)
        return false;
    for (size_t i = 0; i < colon; ++i)
        if (!std::iswalnum(text[i]) && text[i] != L'.' && text[i] != L'-' && text[i] != L'_')
            return false;
    DWORD port = 0;
    for (size_t i = colon + 1; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        port = port * 10 + static_cast<DWORD>(text[i] - L'0');
    }
    return port >= 1 && port <= maxPort;
}

const wchar_t* sourceText(RouteSource source) {
    switch (source) {
    case RouteSource::CommandLine:
        return L"/proxy";
    case RouteSource::PacFile:
        return L"PAC file";
    case RouteSource::AutoDetect:
        return L"automatic detection (WPAD)";
    case RouteSource::UserProxy:
        return L"the user's proxy setting";
    case RouteSource::MachineSetting:
        return L"the machine's WinHTTP setting";
    default:
        return L"direct connection";
    }
}

// Frees what WinHTTP allocated with GlobalAlloc in its proxy records.
struct GlobalText {
    LPWSTR text = nullptr;
    ~GlobalText() {
        if (text)
            GlobalFree(text);
    }
    std::wstring value() const { return text ? text : L""; }
};
} // namespace

std::vector<RouteSource> candidateOrder(const ProxySettings& settings) {
    std::vector<RouteSource> order;
    if (!settings.pacUrl.empty())
        order.push_back(RouteSource::PacFile);
    if (settings.autoDetect)
        order.push_back(RouteSource::AutoDetect);
    if (!settings.userProxy.empty())
        order.push_back(RouteSource::UserProxy);
    order.push_back(RouteSource::MachineSetting);
    order.push_back(RouteSource::Direct);
    return order;
}

std::vector<std::wstring> httpsProxies(const std::wstring& list) {
    std::vector<std::wstring> proxies;
    for (std::wstring entry : splitList(list, listSeparators)) {
        const size_t equals = entry.find(L'=');
        if (equals != std::wstring::npos) {
            if (lowered(entry.substr(0, equals)) != L"https")
                continue;
            entry.erase(0, equals + 1);
        }
        if (const size_t scheme = entry.find(L"://"); scheme != std::wstring::npos) {
            if (lowered(entry.substr(0, scheme)) != L"http")
                continue;
            entry.erase(0, scheme + 3);
        }
        while (!entry.empty() && entry.back() == L'/')
            entry.pop_back();
        if (!entry.empty())
            proxies.push_back(entry);
    }
    return proxies;
}

std::vector<std::wstring> pacRoutes(const std::wstring& answer) {
    std::vector<std::wstring> routes;
    for (const std::wstring& entry : splitList(answer, L";")) {
        const std::vector<std::wstring> words = splitList(entry, L" \t\r\n");
        if (words.empty())
            continue;
        const std::wstring keyword = lowered(words[0]);
        if (keyword == L"direct")
            routes.emplace_back();
        else if (keyword == L"proxy" && words.size() > 1)
            routes.push_back(words[1]);
        else if (words.size() == 1 && keyword != L"socks" && keyword != L"https")
            routes.push_back(words[0]); // WinHTTP's own form: the bare list of proxies
    }
    return routes;
}

bool bypassesProxy(const std::wstring& bypassList, const std::wstring& host) {
    const std::wstring name = lowered(host);
    for (std::wstring entry : splitList(lowered(bypassList), L"; \t\r\n,")) {
        if (entry == L"<local>") {
            if (name.find(L'.') == std::wstring::npos)
                return true;
            continue;
        }
        if (const size_t scheme = entry.find(L"://"); scheme != std::wstring::npos)
            entry.erase(0, scheme + 3);
        if (wildcardMatch(entry, name))
            return true;
    }
    return false;
}

std::optional<FoundRoute> searchRoutes(const ProxySettings& settings, const std::wstring& host,
                                       const AskAutoProxy& askAutoProxy,
                                       const std::function<bool(const ProxyRoute&)>& tryRoute) {
    std::set<std::wstring> tried;
    int failed = 0;
    for (const RouteSource source : candidateOrder(settings)) {
        std::vector<std::wstring> proxies;
        switch (source) {
        case RouteSource::PacFile:
        case RouteSource::AutoDetect:
            if (const std::optional<std::wstring> answer = askAutoProxy(source))
                proxies = pacRoutes(*answer);
            break;
        case RouteSource::UserProxy:
            proxies = bypassesProxy(settings.userBypass, host) ? std::vector<std::wstring>{L""}
                                                               : httpsProxies(settings.userProxy);
            break;
        case RouteSource::MachineSetting:
            proxies = httpsProxies(settings.machineProxy);
            if (proxies.empty() || bypassesProxy(settings.machineBypass, host))
                proxies = {L""};
            break;
        default:
            proxies = {L""};
        }
        for (const std::wstring& proxy : proxies) {
            if (!tried.insert(lowered(proxy)).second)
                continue;
            const ProxyRoute route{source, proxy};
            if (tryRoute(route))
                return FoundRoute{route, failed};
            ++failed;
        }
    }
    return std::nullopt;
}

std::wstring routeLogLine(const FoundRoute& found, const std::wstring& pacUrl) {
    const ProxyRoute& route = found.route;
    if (route.source == RouteSource::MachineSetting && route.proxy.empty() && found.triedBefore == 0)
        return L"";
    std::wstring how = sourceText(route.source);
    if (route.source == RouteSource::PacFile)
        how += L" " + pacUrl;
    return L"Proxy: " + how + L" -> " + (route.proxy.empty() ? std::wstring(L"direct") : route.proxy);
}

DWORD proxySignInScheme(DWORD offeredSchemes) {
    if (offeredSchemes & WINHTTP_AUTH_SCHEME_NEGOTIATE)
        return WINHTTP_AUTH_SCHEME_NEGOTIATE;
    if (offeredSchemes & WINHTTP_AUTH_SCHEME_NTLM)
        return WINHTTP_AUTH_SCHEME_NTLM;
    return 0;
}

std::wstring proxySignInLogLine(const std::wstring& proxy, DWORD offeredSchemes) {
    std::wstring schemes;
    const std::pair<DWORD, const wchar_t*> names[] = {{WINHTTP_AUTH_SCHEME_NEGOTIATE, L"Negotiate"},
                                                      {WINHTTP_AUTH_SCHEME_NTLM, L"NTLM"},
                                                      {WINHTTP_AUTH_SCHEME_BASIC, L"Basic"},
                                                      {WINHTTP_AUTH_SCHEME_DIGEST, L"Digest"}};
    for (const auto& [scheme, name] : names)
        if (offeredSchemes & scheme)
            schemes += (schemes.empty() ? L"" : L", ") + std::wstring(name);
    return L"Proxy " + proxy + L" asks for a sign-in (" + (schemes.empty() ? L"no known scheme" : schemes) +
           L"): not given, the update check failed";
}

bool parseProxyArgument(const std::wstring& argument, std::wstring& route) {
    const std::wstring value = lowered(argument);
    if (value == L"direct") {
        route.clear();
        return true;
    }
    constexpr std::wstring_view scheme = L"http://";
    if (!value.starts_with(scheme))
        return false;
    std::wstring hostPort = argument.substr(scheme.size());
    if (hostPort.ends_with(L'/'))
        hostPort.pop_back();
    if (!isHostAndPort(hostPort))
        return false;
    route = hostPort;
    return true;
}

ProxySettings readProxySettings() {
    ProxySettings settings;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
    if (WinHttpGetIEProxyConfigForCurrentUser(&user)) {
        const GlobalText pac{user.lpszAutoConfigUrl}, proxy{user.lpszProxy}, bypass{user.lpszProxyBypass};
        settings.autoDetect = user.fAutoDetect != FALSE;
        settings.pacUrl = pac.value();
        settings.userProxy = proxy.value();
        settings.userBypass = bypass.value();
    }
    WINHTTP_PROXY_INFO machine{};
    if (WinHttpGetDefaultProxyConfiguration(&machine)) {
        const GlobalText proxy{machine.lpszProxy}, bypass{machine.lpszProxyBypass};
        if (machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
            settings.machineProxy = proxy.value();
            settings.machineBypass = bypass.value();
        }
    }
    return settings;
}

std::optional<std::wstring> askWinHttpAutoProxy(RouteSource source, const std::wstring& pacUrl,
                                                const std::wstring& url, const std::wstring& host) {
    const UniqueWinHttp session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                            WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session || !WinHttpSetTimeouts(session.get(), setupTimeouts.resolve, setupTimeouts.connect,
                                        setupTimeouts.send, setupTimeouts.receive))
        return std::nullopt;
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (source == RouteSource::PacFile) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = pacUrl.c_str();
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    // A PAC file behind Windows sign-in is fetched with the user's own credentials.
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info))
        return std::nullopt;
    const GlobalText proxy{info.lpszProxy}, bypass{info.lpszProxyBypass};
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || proxy.value().empty() ||
        bypassesProxy(bypass.value(), host))
        return L"DIRECT";
    return proxy.value();
}
