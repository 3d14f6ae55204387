// The package download over HTTPS, restricted to the update service's own origin.
#pragma once

#include "net/https.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// "https://" + serviceHost + "/".
std::wstring serviceOrigin();

// True only for URLs that begin with serviceOrigin(), compared exactly.
bool isAllowedDownloadUrl(const std::wstring& url);

// Where a redirect's Location leads: a path on the same host ("/x") within serviceOrigin(), any
// other value as it is written.
std::wstring redirectTarget(const std::wstring& location);

// No bound on the bytes a download may bring.
inline constexpr uint64_t noByteLimit = UINT64_MAX;

// (bytes received so far, total announced by the server or 0).
using DownloadProgress = std::function<void(uint64_t, uint64_t)>;

// How the server answered a retry.

// What an answer to a retry means for a file of which offset bytes are written.
enum class RetryAnswer { Continue, StartOver, Fail };

// One retry after the data stopped short: where it stopped, and the answer (status 0: none came).
struct DownloadRetry {
    uint64_t stoppedAt = 0;
    DWORD status = 0;
    RetryAnswer answer = RetryAnswer::Fail;
};

// A finished download: ok only when the whole file is in place, with the SHA-256 of its bytes ("" when
// it could not be computed, which no expected digest matches), and the retries it took.
struct DownloadResult {
    bool ok = false;
    std::wstring sha256;
    std::vector<DownloadRetry> retries;
    bool tooLarge = false;        // stopped: the file would have passed its bound
    std::wstring refusedRedirect; // where a refused redirect led, away from serviceOrigin()
};

// The debug log's line for a retry: "Download retry 2 of 3 at 1048576 bytes: 206, resumed".
std::wstring retryLogLine(int number, const DownloadRetry& retry);

// Waits milliseconds unless cancel is set first; false when cancelled.
using RetryPause = bool (*)(uint32_t milliseconds, const std::atomic<bool>& cancel);
bool pauseUnlessCancelled(uint32_t milliseconds, const std::atomic<bool>& cancel);

// How long each exchange may take, and how the download waits between its attempts.
struct DownloadLimits {
    HttpsTimeouts timeouts = setupTimeouts;
    uint32_t firstRetryPause = 1000; // milliseconds, doubled for each further retry
    RetryPause pause = pauseUnlessCancelled;
    uint64_t maxBytes = noByteLimit; // more than this, announced or received, fails the download
};

// Retries after the first answer when the data stops short; the pauses grow 1, 2, 4 s.
inline constexpr int downloadRetries = 3;

// Downloads url into destination, hashing the bytes as they are written. A connection that drops
// or stalls after a 200 is retried downloadRetries times, asking only for the missing bytes when
// the first answer gave a validator; only then does it fail. Redirects are followed only within
// serviceOrigin(); one that leads elsewhere fails the download unsent. A file that would pass
// limits.maxBytes is stopped there. On any failure or cancel the partial file is deleted. Runs on the
// caller's thread; progress is called on it after every chunk, counting on across retries.
DownloadResult downloadFile(const std::wstring& url, const std::wstring& destination,
                            DownloadProgress progress, const std::atomic<bool>& cancel,
                            const DownloadLimits& limits);

// The same within setupTimeouts and the real pauses, at most maxBytes.
DownloadResult downloadFile(const std::wstring& url, const std::wstring& destination,
                            DownloadProgress progress, const std::atomic<bool>& cancel,
                            uint64_t maxBytes = noByteLimit);

// What the read loop saw by the time the data stopped.
struct TransferOutcome {
    uint64_t received = 0;
    uint64_t announced = 0; // the whole file's length, 0 when the server gave none
    bool cancelled = false;
    bool aborted = false;     // a read delivered nothing
    bool writeFailed = false; // the file refused the bytes or could not be emptied
    bool tooLarge = false;    // more bytes announced or sent than the download allows
};

// True when the file may be kept: nothing failed or cancelled, and every announced byte arrived.
bool transferComplete(const TransferOutcome& outcome);

// True when another attempt may fetch what is missing: the network, not the disk, the user or an
// oversized file, ended it.
bool worthRetrying(const TransferOutcome& outcome);

// The extra headers that ask for the bytes from offset on, valid only while the file is the one
// that gave this ETag (preferred; a weak one cannot be) or Last-Modified. "" when there is nothing
// to resume or no usable validator: the next attempt asks for the whole file.
std::wstring resumeHeaders(uint64_t offset, const std::wstring& etag, const std::wstring& lastModified);

// 206 whose Content-Range ("bytes first-last/length") starts at offset and runs to the end of a
// file of the known total (any length when total is 0): Continue. 200: StartOver. Anything else: Fail.
RetryAnswer judgeRetryAnswer(DWORD status, const std::wstring& contentRange, uint64_t offset, uint64_t total);

// The request path WinHTTP is given: the cracked path, then the query without any fragment.
std::wstring requestPath(const std::wstring& urlPath, const std::wstring& extraInfo);
