// The decisions of the route search: candidate order, proxy lists and PAC answers, bypass lists,
// which routes are tried and which one is logged, and which proxy sign-in is answered.
#include "net/https.h"
#include "net/proxy.h"

#include <gtest/gtest.h>

namespace {
using Routes = std::vector<std::wstring>;

struct Search {
    std::vector<std::pair<RouteSource, std::wstring>> tried;
    std::vector<RouteSource> asked;
    std::optional<FoundRoute> found;
};

// Runs the search with PAC and WPAD answers given, and the route that answers.
Search search(const ProxySettings& settings, const std::optional<std::wstring>& pacAnswer,
              const std::optional<std::wstring>& wpadAnswer, const std::wstring& answering,
              const std::wstring& host = L"updates.example") {
    Search run;
    run.found = searchRoutes(
        settings, host,
        [&](RouteSource source) {
            run.asked.push_back(source);
            return source == RouteSource::PacFile ? pacAnswer : wpadAnswer;
        },
        [&](const ProxyRoute& route) {
            run.tried.emplace_back(route.source, route.proxy);
            return route.proxy == answering;
        });
    return run;
}
} // namespace

TEST(ProxyRules, CandidatesComeInTheUsersOrderThenMachineThenDirect) {
    using S = RouteSource;
    EXPECT_EQ(candidateOrder({}), (std::vector<S>{S::MachineSetting, S::Direct}));
    ProxySettings everything;
    everything.autoDetect = true;
    everything.pacUrl = L"http://wpad.corp/proxy.pac";
    everything.userProxy = L"proxy.corp:8080";
    EXPECT_EQ(candidateOrder(everything),
              (std::vector<S>{S::PacFile, S::AutoDetect, S::UserProxy, S::MachineSetting, S::Direct}));
}

TEST(ProxyRules, ProxyListsAndPacAnswersGiveTheirHttpsRoutesInOrder) {
    EXPECT_EQ(httpsProxies(L"proxy.corp:8080"), (Routes{L"proxy.corp:8080"}));
    EXPECT_EQ(httpsProxies(L"http=a:1;https=b:2;ftp=c:3"), (Routes{L"b:2"}));
    EXPECT_EQ(httpsProxies(L"http=a:1"), Routes{}) << "a proxy for plain HTTP only does not carry HTTPS";
    EXPECT_EQ(httpsProxies(L" a:1  http://b:2/ socks=c:3"), (Routes{L"a:1", L"b:2"}));

    EXPECT_EQ(pacRoutes(L"PROXY a:1; PROXY b:2; DIRECT"), (Routes{L"a:1", L"b:2", L""}));
    EXPECT_EQ(pacRoutes(L"proxy a:1;direct"), (Routes{L"a:1", L""}));
    EXPECT_EQ(pacRoutes(L"SOCKS s:1080; HTTPS h:443; PROXY p:80"), (Routes{L"p:80"}));
    EXPECT_EQ(pacRoutes(L"a:1;b:2"), (Routes{L"a:1", L"b:2"})) << "WinHTTP's bare list";
    EXPECT_EQ(pacRoutes(L""), Routes{});
}

TEST(ProxyRules, BypassListsMatchHostsByWildcardAndLocalNames) {
    EXPECT_TRUE(bypassesProxy(L"<local>", L"localhost"));
    EXPECT_FALSE(bypassesProxy(L"<local>", L"updates.example"));
    EXPECT_TRUE(bypassesProxy(L"*.example;10.*", L"Updates.EXAMPLE"));
    EXPECT_TRUE(bypassesProxy(L"intranet, https://updates.example", L"updates.example"));
    EXPECT_TRUE(bypassesProxy(L"10.*", L"10.1.2.3"));
    EXPECT_FALSE(bypassesProxy(L"*.example", L"example"));
    EXPECT_FALSE(bypassesProxy(L"updates.example.net", L"updates.example"));
    EXPECT_FALSE(bypassesProxy(L"", L"updates.example"));
}

TEST(ProxyRules, EachPacEntryIsTriedInTurnAndNoRouteTwice) {
    ProxySettings settings;
    settings.pacUrl = L"http://wpad.corp/proxy.pac";
    settings.userProxy = L"b:2";
    const std::wstring answer = L"PROXY dead:1; PROXY b:2; DIRECT";
    const Search none = search(settings, answer, std::nullopt, L"nothing answers");
    using S = RouteSource;
    EXPECT_EQ(none.tried, (std::vector<std::pair<S, std::wstring>>{
                              {S::PacFile, L"dead:1"}, {S::PacFile, L"b:2"}, {S::PacFile, L""}}))
        << "the user's b:2 and the machine's direct route were tried already";
    EXPECT_FALSE(none.found);

    const Search second = search(settings, answer, std::nullopt, L"b:2");
    ASSERT_TRUE(second.found);
    EXPECT_EQ(second.found->triedBefore, 1);
    EXPECT_EQ(routeLogLine(*second.found, settings.pacUrl),
              L"Proxy: PAC file http://wpad.corp/proxy.pac -> b:2");
}

TEST(ProxyRules, AFailedPacOrWpadMovesOnToTheNamedProxyUnlessTheBypassCoversTheHost) {
    ProxySettings settings;
    settings.pacUrl = L"http://wpad.corp/none.pac";
    settings.autoDetect = true;
    settings.userProxy = L"proxy.corp:8080";
    settings.userBypass = L"*.internal";
    const Search proxied = search(settings, std::nullopt, std::nullopt, L"proxy.corp:8080");
    EXPECT_EQ(proxied.asked, (std::vector<RouteSource>{RouteSource::PacFile, RouteSource::AutoDetect}));
    ASSERT_TRUE(proxied.found);
    EXPECT_EQ(routeLogLine(*proxied.found, settings.pacUrl),
              L"Proxy: the user's proxy setting -> proxy.corp:8080");

    const Search bypassed = search(settings, std::nullopt, std::nullopt, L"", L"updates.internal");
    ASSERT_EQ(bypassed.tried.size(), 1u);
    EXPECT_EQ(bypassed.tried[0], std::make_pair(RouteSource::UserProxy, std::wstring()));
}

TEST(ProxyRules, WithoutProxiesOneRouteIsTriedAndNothingIsLogged) {
    const Search plain = search({}, std::nullopt, std::nullopt, L"");
    ASSERT_EQ(plain.tried.size(), 1u) << "the machine's direct route is the direct route";
    EXPECT_EQ(plain.tried[0].first, RouteSource::MachineSetting);
    ASSERT_TRUE(plain.found);
    EXPECT_EQ(routeLogLine(*plain.found, L""), L"");

    const Search down = search({}, std::nullopt, std::nullopt, L"nothing answers");
    EXPECT_EQ(down.tried.size(), 1u);
    EXPECT_FALSE(down.found);

    ProxySettings machine;
    machine.machineProxy = L"m:3128";
    const Search fallback = search(machine, std::nullopt, std::nullopt, L"");
    ASSERT_EQ(fallback.tried.size(), 2u);
    EXPECT_EQ(routeLogLine(*fallback.found, L""), L"Proxy: direct connection -> direct");
}

TEST(ProxyRules, OnlyNegotiateAndNtlmAreAnsweredWithTheUsersOwnSignIn) {
    EXPECT_EQ(proxySignInScheme(WINHTTP_AUTH_SCHEME_NEGOTIATE | WINHTTP_AUTH_SCHEME_NTLM |
                                WINHTTP_AUTH_SCHEME_BASIC),
              static_cast<DWORD>(WINHTTP_AUTH_SCHEME_NEGOTIATE));
    EXPECT_EQ(proxySignInScheme(WINHTTP_AUTH_SCHEME_NTLM | WINHTTP_AUTH_SCHEME_BASIC),
              static_cast<DWORD>(WINHTTP_AUTH_SCHEME_NTLM));
    EXPECT_EQ(proxySignInScheme(WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_DIGEST), 0u);
    EXPECT_EQ(proxySignInScheme(0), 0u);
    EXPECT_EQ(proxySignInLogLine(L"p:8080", WINHTTP_AUTH_SCHEME_BASIC),
              L"Proxy p:8080 asks for a sign-in (Basic): not given, the update check failed");
}

TEST(ProxyRules, ProxyArgumentIsAnHttpHostAndPortOrDirect) {
    std::wstring route = L"unchanged";
    EXPECT_TRUE(parseProxyArgument(L"DIRECT", route));
    EXPECT_EQ(route, L"");
    EXPECT_TRUE(parseProxyArgument(L"HTTP://proxy.corp:8080/", route));
    EXPECT_EQ(route, L"proxy.corp:8080");
    for (const wchar_t* bad : {L"proxy.corp:8080", L"https://proxy.corp:8080", L"http://proxy.corp",
                               L"http://proxy.corp:0", L"http://proxy.corp:65536", L"http://:8080",
                               L"http://user@proxy.corp:8080", L"http://proxy.corp:80/path", L""}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(bad)));
        EXPECT_FALSE(parseProxyArgument(bad, route));
    }
}
