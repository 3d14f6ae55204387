// The setup's HTTPS exchanges over WinHTTP: the handles, the user agent and the reads that the
// service call and the download share.
#pragma once

#include "win/handles.h"

#include <winhttp.h>

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

// A session with the setup's user agent and the timeouts, a connection to host:port and a secure
// request for verb and path. Empty (nothing held) when any of the three cannot be opened. Any thread.
HttpsRequest openHttpsRequest(const wchar_t* verb, const std::wstring& host, INTERNET_PORT port,
                              const std::wstring& path, const HttpsTimeouts& timeouts = setupTimeouts);

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
