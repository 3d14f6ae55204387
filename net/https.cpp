#include "net/https.h"

#include "state/setup_state.h"
#include "win/install_log.h"
#include "win/paths.h"

#include <algorithm>
#include <vector>

namespace {
constexpr wchar_t userAgent[] = L"OstrelLauncher/1.0";
constexpr DWORD proxySignInStatus = 407;

// The session's access for a route: the machine's setting as WinHTTP applies it when the route
// names no proxy of its own, so that a setup without proxies opens its sessions as it always has.
UniqueWinHttp openSession(const ProxyRoute& route) {
    if (!route.proxy.empty())
        return UniqueWinHttp(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, route.proxy.c_str(),
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    const DWORD access = route.source == RouteSource::MachineSetting ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY
                                                                     : WINHTTP_ACCESS_TYPE_NO_PROXY;
    return UniqueWinHttp(WinHttpOpen(userAgent, access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
}

void writeLogLine(const std::wstring& line) {
    const std::wstring temp = temporaryFolder();
    if (!line.empty() && !temp.empty())
        InstallLog{temp + installLogName}.writeLine(line);
}

std::optional<ProxyRoute> keptRoute() {
    std::lock_guard lock(setupState.sharedMutex);
    if (setupState.routeSource < 0)
        return std::nullopt;
    return ProxyRoute{static_cast<RouteSource>(setupState.routeSource), setupState.routeProxy};
}

void keepRoute(const ProxyRoute& route) {
    std::lock_guard lock(setupState.sharedMutex);
    setupState.routeSource = static_cast<int32_t>(route.source);
    setupState.routeProxy = route.proxy;
}

// The route /proxy chose, if it chose one.
std::optional<ProxyRoute> chosenRoute() {
    std::lock_guard lock(setupState.sharedMutex);
    if (!setupState.routeChosen)
        return std::nullopt;
    return ProxyRoute{RouteSource::CommandLine, setupState.chosenProxy};
}

void refuseSignIn(const std::wstring& proxy, DWORD offeredSchemes) {
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.proxyRefusedSignIn = proxy;
    }
    writeLogLine(proxySignInLogLine(proxy, offeredSchemes));
}

bool sendAndReadStatus(const HttpsCall& call, HINTERNET request, DWORD& status) {
    return sendHttpsRequest(request, call.headers, call.body) && responseStatus(request, status);
}

enum class RouteTry { Unreachable, Answered, SignInRefused };

// One route: a failure to connect or to tunnel is Unreachable, any status an answer. A 407 is
// answered once with the signed-in user's credentials when the proxy offers Negotiate or NTLM.
RouteTry tryRoute(const HttpsCall& call, const ProxyRoute& route, RoutedCall& result) {
    HttpsRequest opened = openHttpsRequest(call.verb, call.host, call.port, call.path, call.timeouts, route);
    if (!opened)
        return RouteTry::Unreachable;
    if (call.prepare)
        call.prepare(opened.get());
    DWORD status = 0;
    if (!sendAndReadStatus(call, opened.get(), status))
        return RouteTry::Unreachable;
    if (status == proxySignInStatus) {
        DWORD offered = 0, first = 0, target = 0;
        if (!WinHttpQueryAuthSchemes(opened.get(), &offered, &first, &target))
            offered = 0;
        const DWORD scheme = proxySignInScheme(offered);
        DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
        if (scheme == 0 || target != WINHTTP_AUTH_TARGET_PROXY ||
            !WinHttpSetOption(opened.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy)) ||
            !WinHttpSetCredentials(opened.get(), WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr,
                                   nullptr) ||
            !sendAndReadStatus(call, opened.get(), status) || status == proxySignInStatus) {
            refuseSignIn(route.proxy, offered);
            return RouteTry::SignInRefused;
        }
    }
    result.exchange.emplace(std::move(opened));
    result.end = CallEnd::Answered;
    return RouteTry::Answered;
}
} // namespace

HttpsRequest openHttpsRequest(const wchar_t* verb, const std::wstring& host, INTERNET_PORT port,
                              const std::wstring& path, const HttpsTimeouts& timeouts,
                              const ProxyRoute& route) {
    HttpsRequest opened;
    opened.session = openSession(route);
    if (!opened.session || !WinHttpSetTimeouts(opened.session.get(), timeouts.resolve, timeouts.connect,
                                               timeouts.send, timeouts.receive))
        return {};
    opened.connection.reset(WinHttpConnect(opened.session.get(), host.c_str(), port, 0));
    if (!opened.connection)
        return {};
    opened.request.reset(WinHttpOpenRequest(opened.connection.get(), verb, path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            WINHTTP_FLAG_SECURE));
    if (!opened.request)
        return {};
    return opened;
}

bool sendHttpsRequest(HINTERNET request, const std::wstring& headers, const std::string& body) {
    const DWORD bodySize = static_cast<DWORD>(body.size());
    return WinHttpSendRequest(request, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                              static_cast<DWORD>(headers.size()),
                              body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                              bodySize, bodySize, 0) &&
           WinHttpReceiveResponse(request, nullptr);
}

bool responseStatus(HINTERNET request, DWORD& status) {
    DWORD statusSize = sizeof(status);
    return WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
}

std::wstring responseHeader(HINTERNET request, DWORD query, DWORD limit) {
    std::wstring value(limit + 1, L'\0');
    DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return L"";
    value.resize(size / sizeof(wchar_t));
    return value;
}

bool availableBodyBytes(HINTERNET request, DWORD& available) {
    available = 0;
    return WinHttpQueryDataAvailable(request, &available) != FALSE;
}

DWORD readBodyBytes(HINTERNET request, void* buffer, DWORD capacity) {
    DWORD read = 0;
    return WinHttpReadData(request, buffer, capacity, &read) ? read : 0;
}

bool readBody(HINTERNET request, size_t limit, std::string& body) {
    std::vector<char> buffer;
    DWORD available = 0;
    while (availableBodyBytes(request, available) && available != 0) {
        if (available > limit - std::min(limit, body.size()))
            return false;
        buffer.resize(available);
        body.append(buffer.data(), readBodyBytes(request, buffer.data(), available));
    }
    return true;
}

RoutedCall sendOverRunRoute(const HttpsCall& call) {
    RoutedCall result;
    if (const std::optional<ProxyRoute> kept = keptRoute()) {
        // The download keeps to the route the check found, even when it stops working.
        if (tryRoute(call, *kept, result) == RouteTry::SignInRefused)
            result.end = CallEnd::ProxySignIn;
        return result;
    }
    bool signInRefused = false;
    const auto attempt = [&](const ProxyRoute& route) {
        const RouteTry tried = tryRoute(call, route, result);
        signInRefused = tried == RouteTry::SignInRefused;
        return tried != RouteTry::Unreachable;
    };
    std::optional<FoundRoute> found;
    std::wstring pacUrl;
    if (const std::optional<ProxyRoute> chosen = chosenRoute()) {
        if (attempt(*chosen))
            found = FoundRoute{*chosen, 0};
    } else {
        const ProxySettings settings = readProxySettings();
        pacUrl = settings.pacUrl;
        const std::wstring url = L"https://" + call.host + call.path;
        found = searchRoutes(
            settings, call.host,
            [&](RouteSource source) { return askWinHttpAutoProxy(source, settings.pacUrl, url, call.host); },
            attempt);
    }
    if (signInRefused) {
        result.end = CallEnd::ProxySignIn;
        return result;
    }
    if (found) {
        keepRoute(found->route);
        writeLogLine(routeLogLine(*found, pacUrl));
    }
    return result;
}
