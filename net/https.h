// The setup's HTTPS exchanges over WinHTTP: the handles, the user agent and the reads that the
// service call and the download share.
#pragma once

#include "net/proxy.h"
#include "win/handles.h"

#include <winhttp.h>

#include <optional>
#include <string>

// Owner of a WinHTTP session, connection or request handle.
struct WinHttpHandleTraits {
    using Value = HINTERNET;
    static Value empty() { return nullptr; }
    static void close(Value h) { WinHttpCloseHandle(h); }
};

using UniqueWinHttp = UniqueHandle<WinHttpHandleTraits>;

// The three handles of one request, declared in the order acquired so that they close request,
// connection, session. Move-only; assignment is deleted because it would close the session first.
struct HttpsRequest {
    UniqueWinHttp session;
    UniqueWinHttp connection;
    UniqueWinHttp request;

    HttpsRequest() = default;
    HttpsRequest(HttpsRequest&&) = default;
    HttpsRequest& operator=(HttpsRequest&&) = delete;

    HINTERNET get() const { return request.get(); }
    explicit operator bool() const { return static_cast<bool>(request); }
};

// How long, in milliseconds, each phase of an exchange may take before it fails; receive is the
// longest wait for the response or for any further bytes of its body.
struct HttpsTimeouts {
    int resolve;
    int connect;
    int send;
    int receive;
};

// Bounds for every exchange of the setup: a silent network ends in a failure, never a hang.
inline constexpr HttpsTimeouts setupTimeouts{15'000, 15'000, 30'000, 60'000};

// A session with the setup's user agent and the timeouts over route, a connection to host:port
// and a secure request for verb and path. Empty (nothing held) when any of the three cannot be
// opened. Any thread.
HttpsRequest openHttpsRequest(const wchar_t* verb, const std::wstring& host, INTERNET_PORT port,
                              const std::wstring& path, const HttpsTimeouts& timeouts = setupTimeouts,
                              const ProxyRoute& route = {});

// Sends the extra headers ("Name: value\r\n" each) and body, then waits for the response headers.
bool sendHttpsRequest(HINTERNET request, const std::wstring& headers, const std::string& body);

// The response's status code; false when it cannot be read.
bool responseStatus(HINTERNET request, DWORD& status);

// The value of one response header (a WINHTTP_QUERY_ constant), "" when absent or longer than
// limit characters.
std::wstring responseHeader(HINTERNET request, DWORD query, DWORD limit = 256);

// Bytes of the body ready to be read, waiting for them, 0 once the data has ended; false when the
// query failed, as it does when the connection was cut.
bool availableBodyBytes(HINTERNET request, DWORD& available);

// Reads at most capacity bytes of the body into buffer; the count read, 0 when the read failed.
DWORD readBodyBytes(HINTERNET request, void* buffer, DWORD capacity);

// The whole body in memory, for short answers: false when it holds more than limit bytes. A failed
// read adds nothing.
bool readBody(HINTERNET request, size_t limit, std::string& body);

// One request of the setup and what it needs besides the route.
struct HttpsCall {
    const wchar_t* verb;
    std::wstring host;
    INTERNET_PORT port;
    std::wstring path;
    std::wstring headers;
    std::string body;
    HttpsTimeouts timeouts = setupTimeouts;
    void (*prepare)(HINTERNET request) = nullptr; // options set before each send; may be null
};

// How a call over the run's route ended: an answer (any status), no answer by any route, or a
// proxy that asked for a sign-in the setup cannot give (its log line written, the run's state
// told).
enum class CallEnd { Answered, NoAnswer, ProxySignIn };

struct RoutedCall {
    std::optional<HttpsRequest> exchange; // with its response headers, when Answered
    CallEnd end = CallEnd::NoAnswer;
};

// Sends the call over the route this run found, or, the first time, over the route /proxy chose or
// the first of the user's and the machine's routes that answers, which it then keeps for the run
// and logs. A 407 offering Negotiate or NTLM is answered once with the signed-in user's
// credentials. Blocking; any worker thread.
RoutedCall sendOverRunRoute(const HttpsCall& call);
