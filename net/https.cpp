#include "net/https.h"

#include <algorithm>
#include <vector>

namespace {
constexpr wchar_t userAgent[] = L"OstrelLauncher/1.0";
} // namespace

HttpsRequest openHttpsRequest(const wchar_t* verb, const std::wstring& host, INTERNET_PORT port,
                              const std::wstring& path, const HttpsTimeouts& timeouts) {
    HttpsRequest opened;
    opened.session.reset(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
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
