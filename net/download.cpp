#include "net/download.h"

#include "net/chunk_hasher.h"
#include "net/https.h"
#include "service_config.h"
#include "win/handles.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace {
constexpr DWORD hostBufferLength = 256;
constexpr DWORD pathBufferLength = 2048;
constexpr DWORD extraInfoBufferLength = 2048;
constexpr DWORD readBufferSize = 65536;
constexpr DWORD contentLengthChars = 32;
constexpr uint32_t pauseSlice = 50;
constexpr int redirectLimit = 10;
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
    const long long value =
        _wtoi64(responseHeader(request, WINHTTP_QUERY_CONTENT_LENGTH, contentLengthChars).c_str());
    return value > 0 ? static_cast<uint64_t>(value) : 0;
}

// Digits only, at least one, and no overflow.
bool parseCount(const std::wstring& text, uint64_t& value) {
    if (text.empty() || text.size() > 19)
        return false;
    value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9')
            return false;
        value = value * 10 + static_cast<uint64_t>(digit - L'0');
    }
    return true;
}

// "bytes first-last/length", the length "*" when the server does not know it.
struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t length = 0;
    bool lengthKnown = false;
};

bool parseContentRange(const std::wstring& text, ContentRange& range) {
    constexpr std::wstring_view unit = L"bytes ";
    const size_t dash = text.find(L'-');
    const size_t slash = text.find(L'/');
    if (!text.starts_with(unit) || dash == std::wstring::npos || slash == std::wstring::npos ||
        slash < dash || !parseCount(text.substr(unit.size(), dash - unit.size()), range.first) ||
        !parseCount(text.substr(dash + 1, slash - dash - 1), range.last) || range.last < range.first)
        return false;
    const std::wstring length = text.substr(slash + 1);
    range.lengthKnown = length != L"*";
    return !range.lengthKnown || parseCount(length, range.length);
}

bool isRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void neverFollowRedirects(HINTERNET request) {
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy, sizeof(redirectPolicy));
}

// One GET of the cracked URL with the extra headers over the run's route, redirects left to the
// caller; empty when it could not be sent or no status came back.
HttpsRequest sendOneRequest(const CrackedUrl& target, const std::wstring& headers,
                            const HttpsTimeouts& timeouts, DWORD& status) {
    RoutedCall call = sendOverRunRoute(
        {L"GET", target.host, target.port, target.path, headers, {}, timeouts, neverFollowRedirects});
    if (call.end != CallEnd::Answered || !responseStatus(call.exchange->get(), status))
        return {};
    return std::move(*call.exchange);
}

// The GET, following redirects that stay within serviceOrigin() (so never to plain HTTP). A redirect
// elsewhere is not sent: refused names where it led. Empty when no final answer came.
HttpsRequest sendDownloadRequest(const CrackedUrl& target, const std::wstring& headers,
                                 const HttpsTimeouts& timeouts, DWORD& status, std::wstring& refused) {
    CrackedUrl next = target;
    for (int redirects = 0;; ++redirects) {
        HttpsRequest exchange = sendOneRequest(next, headers, timeouts, status);
        if (!exchange || !isRedirect(status))
            return exchange;
        const std::wstring location =
            redirectTarget(responseHeader(exchange.get(), WINHTTP_QUERY_LOCATION, 2048));
        if (!isAllowedDownloadUrl(location)) {
            refused = location;
            return {};
        }
        if (redirects == redirectLimit || !crackHttpsUrl(location, next))
            return {};
    }
}

bool writeAll(HANDLE file, const BYTE* bytes, DWORD count) {
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

// Empties the file for an answer that starts it over.
bool truncateFile(HANDLE file) {
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Reads the body into the file and the hash until the data ends, fails, is cancelled or would pass
// maxBytes (nothing past it is written). A hash that fails only empties itself: the download goes on
// and no expected digest matches "".
void receiveBody(HINTERNET request, HANDLE file, ChunkHasher& hasher, TransferOutcome& outcome,
                 const DownloadProgress& progress, const std::atomic<bool>& cancel, uint64_t maxBytes) {
    if (outcome.announced > maxBytes) {
        outcome.tooLarge = true;
        return;
    }
    for (;;) {
        DWORD available = 0;
        // Only a successful query of nothing more is the end: a failed one is a cut connection,
        // which a chunked answer has no length to reveal.
        if (!availableBodyBytes(request, available)) {
            outcome.aborted = true;
            return;
        }
        if (available == 0)
            return;
        if (cancel.load()) {
            outcome.cancelled = true;
            return;
        }
        BYTE* chunk = hasher.nextChunk();
        const DWORD read = readBodyBytes(request, chunk, std::min(available, readBufferSize));
        if (read == 0) {
            outcome.aborted = true;
            return;
        }
        if (read > maxBytes - outcome.received) {
            outcome.tooLarge = true;
            return;
        }
        if (!writeAll(file, chunk, read)) {
            outcome.writeFailed = true;
            return;
        }
        hasher.hashChunk(read);
        outcome.received += read;
        if (progress)
            progress(outcome.received, outcome.announced);
    }
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
    if (outcome.aborted || outcome.cancelled || outcome.writeFailed || outcome.tooLarge)
        return false;
    return outcome.announced == 0 || outcome.received == outcome.announced;
}

bool worthRetrying(const TransferOutcome& outcome) {
    return !outcome.cancelled && !outcome.writeFailed && !outcome.tooLarge && !transferComplete(outcome);
}

std::wstring redirectTarget(const std::wstring& location) {
    if (location.starts_with(L"/") && !location.starts_with(L"//"))
        return serviceOrigin() + location.substr(1);
    return location;
}

std::wstring resumeHeaders(uint64_t offset, const std::wstring& etag, const std::wstring& lastModified) {
    const bool strongTag = !etag.empty() && !etag.starts_with(L"W/");
    if (offset == 0 || (!strongTag && lastModified.empty()))
        return L"";
    return std::wstring(acceptHeader) + L"Range: bytes=" + std::to_wstring(offset) + L"-\r\nIf-Range: " +
           (strongTag ? etag : lastModified) + L"\r\n";
}

RetryAnswer judgeRetryAnswer(DWORD status, const std::wstring& contentRange, uint64_t offset,
                             uint64_t total) {
    if (status == 200)
        return RetryAnswer::StartOver;
    ContentRange range;
    if (status != 206 || !parseContentRange(contentRange, range) || range.first != offset)
        return RetryAnswer::Fail;
    const bool runsToTheEnd = total == 0
                                  ? !range.lengthKnown || range.last < range.length
                                  : range.lengthKnown && range.length == total && range.last + 1 == total;
    return runsToTheEnd ? RetryAnswer::Continue : RetryAnswer::Fail;
}

std::wstring requestPath(const std::wstring& urlPath, const std::wstring& extraInfo) {
    std::wstring path = urlPath.empty() ? L"/" : urlPath;
    path += extraInfo.substr(0, extraInfo.find(L'#'));
    return path;
}

bool pauseUnlessCancelled(uint32_t milliseconds, const std::atomic<bool>& cancel) {
    for (uint32_t waited = 0; waited < milliseconds && !cancel.load(); waited += pauseSlice)
        Sleep(std::min(pauseSlice, milliseconds - waited));
    return !cancel.load();
}

DownloadResult downloadFile(const std::wstring& url, const std::wstring& destination,
                            DownloadProgress progress, const std::atomic<bool>& cancel, uint64_t maxBytes) {
    DownloadLimits limits;
    limits.maxBytes = maxBytes;
    return downloadFile(url, destination, std::move(progress), cancel, limits);
}

DownloadResult downloadFile(const std::wstring& url, const std::wstring& destination,
                            DownloadProgress progress, const std::atomic<bool>& cancel,
                            const DownloadLimits& limits) {
    CrackedUrl target;
    if (!crackHttpsUrl(url, target))
        return {};

    DWORD status = 0;
    DownloadResult result;
    const HttpsRequest first =
        sendDownloadRequest(target, acceptHeader, limits.timeouts, status, result.refusedRedirect);
    if (!first || status != 200)
        return result;
    const std::wstring etag = responseHeader(first.get(), WINHTTP_QUERY_ETAG);
    const std::wstring lastModified = responseHeader(first.get(), WINHTTP_QUERY_LAST_MODIFIED);

    TransferOutcome outcome;
    outcome.announced = announcedLength(first.get());
    if (outcome.announced > limits.maxBytes) {
        result.tooLarge = true;
        return result;
    }

    // The file closes before the WinHTTP handles, and before it is deleted.
    UniqueFile file(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return {};
    ScopeExit removePartialFile([&] {
        file.reset();
        DeleteFileW(destination.c_str());
    });

    // What was written is already hashed, so a resumed file is never read back.
    ChunkHasher hasher(readBufferSize);
    receiveBody(first.get(), file.get(), hasher, outcome, progress, cancel, limits.maxBytes);
    for (int retry = 0; retry < downloadRetries && worthRetrying(outcome); ++retry) {
        if (!limits.pause(limits.firstRetryPause << retry, cancel)) {
            outcome.cancelled = true;
            break;
        }
        const std::wstring headers = resumeHeaders(outcome.received, etag, lastModified);
        const HttpsRequest again = sendDownloadRequest(target, headers.empty() ? acceptHeader : headers,
                                                       limits.timeouts, status, result.refusedRedirect);
        DownloadRetry& record =
            result.retries.emplace_back(DownloadRetry{outcome.received, 0, RetryAnswer::Fail});
        if (!again)
            continue; // still no network: the next retry may find it
        const RetryAnswer answer =
            judgeRetryAnswer(status, responseHeader(again.get(), WINHTTP_QUERY_CONTENT_RANGE),
                             outcome.received, outcome.announced);
        record.status = status;
        record.answer = answer;
        if (answer == RetryAnswer::Fail)
            break;
        outcome.aborted = false;
        if (answer == RetryAnswer::StartOver) {
            if (!truncateFile(file.get())) {
                outcome.writeFailed = true;
                break;
            }
            hasher.restart();
            outcome.received = 0;
            outcome.announced = announcedLength(again.get());
        } else if (outcome.announced == 0) {
            const uint64_t remaining = announcedLength(again.get());
            outcome.announced = remaining == 0 ? 0 : outcome.received + remaining;
        }
        receiveBody(again.get(), file.get(), hasher, outcome, progress, cancel, limits.maxBytes);
    }
    file.reset();
    outcome.cancelled = outcome.cancelled || cancel.load();
    result.tooLarge = outcome.tooLarge;
    if (!transferComplete(outcome))
        return result;
    removePartialFile.release();
    result.ok = true;
    result.sha256 = hasher.finish();
    return result;
}

std::wstring retryLogLine(int number, const DownloadRetry& retry) {
    std::wstring line = L"Download retry " + std::to_wstring(number) + L" of " +
                        std::to_wstring(downloadRetries) + L" at " + std::to_wstring(retry.stoppedAt) +
                        L" bytes: ";
    if (retry.status == 0)
        return line + L"no answer";
    line += std::to_wstring(retry.status);
    switch (retry.answer) {
    case RetryAnswer::Continue:
        return line + L", resumed";
    case RetryAnswer::StartOver:
        return line + L", started over";
    default:
        return line + L", refused";
    }
}
