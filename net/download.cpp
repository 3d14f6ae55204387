#include "net/download.h"

#include "net/https.h"
#include "service_config.h"
#include "win/handles.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {
constexpr DWORD hostBufferLength = 256;
constexpr DWORD pathBufferLength = 2048;
constexpr DWORD extraInfoBufferLength = 2048;
constexpr DWORD readBufferSize = 65536;
constexpr DWORD contentLengthBufferBytes = 64;
constexpr wchar_t acceptHeader[] = L"Accept: application/octet-stream\r\n";

struct CrackedUrl {
    std::wstring host;
    std::wstring path;
    INTERNET_PORT port = 0;
};

// False when the URL does not crack, a part does not fit its buffer, or it is not HTTPS.
bool crackHttpsUrl(const std::wstring& url, CrackedUrl& cracked) {
    wchar_t host[hostBufferLength] = {};
    wchar_t path[pathBufferLength] = {};
    wchar_t extra[extraInfoBufferLength] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = hostBufferLength;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = pathBufferLength;
    // Asked for separately, the query is never silently dropped from the path.
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = extraInfoBufferLength;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    cracked.host.assign(host, parts.dwHostNameLength);
    cracked.path =
        requestPath(std::wstring(path, parts.dwUrlPathLength), std::wstring(extra, parts.dwExtraInfoLength));
    cracked.port = parts.nPort;
    return true;
}

// The announced Content-Length, 0 when absent or not a byte count.
uint64_t announcedLength(HINTERNET request) {
    wchar_t text[contentLengthBufferBytes / sizeof(wchar_t)] = {};
    DWORD size = contentLengthBufferBytes;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return 0;
    const long long value = _wtoi64(text);
    return value > 0 ? static_cast<uint64_t>(value) : 0;
}

bool writeAll(HANDLE file, const BYTE* bytes, DWORD count) {
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}
} // namespace

std::wstring serviceOrigin() {
    return std::wstring(L"https://") + serviceHost + L"/";
}

bool isAllowedDownloadUrl(const std::wstring& url) {
    const std::wstring origin = serviceOrigin();
    return url.size() >= origin.size() && url.compare(0, origin.size(), origin) == 0;
}

bool transferComplete(const TransferOutcome& outcome) {
    if (outcome.aborted || outcome.cancelled)
        return false;
    return outcome.announced == 0 || outcome.received == outcome.announced;
}

std::wstring requestPath(const std::wstring& urlPath, const std::wstring& extraInfo) {
    std::wstring path = urlPath.empty() ? L"/" : urlPath;
    path += extraInfo.substr(0, extraInfo.find(L'#'));
    return path;
}

bool downloadFile(const std::wstring& url, const std::wstring& destination, DownloadProgress progress,
                  const std::atomic<bool>& cancel) {
    return downloadFile(url, destination, std::move(progress), cancel, setupTimeouts);
}

bool downloadFile(const std::wstring& url, const std::wstring& destination, DownloadProgress progress,
                  const std::atomic<bool>& cancel, const HttpsTimeouts& timeouts) {
    CrackedUrl target;
    if (!crackHttpsUrl(url, target))
        return false;

    const HttpsRequest exchange = openHttpsRequest(L"GET", target.host, target.port, target.path, timeouts);
    if (!exchange)
        return false;
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    WinHttpSetOption(exchange.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy, sizeof(redirectPolicy));
    DWORD status = 0;
    if (!sendHttpsRequest(exchange.get(), acceptHeader, {}) || !responseStatus(exchange.get(), status) ||
        status != 200)
        return false;

    TransferOutcome outcome;
    outcome.announced = announcedLength(exchange.get());

    // The file closes before the WinHTTP handles, and before it is deleted.
    UniqueFile file(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    ScopeExit removePartialFile([&] {
        file.reset();
        DeleteFileW(destination.c_str());
    });

    std::vector<BYTE> buffer(readBufferSize);
    for (;;) {
        DWORD available = 0;
        // Only a successful query of nothing more is the end: a failed one is a cut connection,
        // which a chunked answer has no length to reveal.
        if (!availableBodyBytes(exchange.get(), available)) {
            outcome.aborted = true;
            break;
        }
        if (available == 0)
            break;
        if (cancel.load()) {
            outcome.cancelled = true;
            break;
        }
        const DWORD read = readBodyBytes(exchange.get(), buffer.data(), std::min(available, readBufferSize));
        if (read == 0 || !writeAll(file.get(), buffer.data(), read)) {
            outcome.aborted = true;
            break;
        }
        outcome.received += read;
        if (progress)
            progress(outcome.received, outcome.announced);
    }
    file.reset();
    outcome.cancelled = outcome.cancelled || cancel.load();
    if (!transferComplete(outcome))
        return false;
    removePartialFile.release();
    return true;
}
