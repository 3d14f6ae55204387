// The package download over HTTPS, restricted to the update service's own origin.
#pragma once

#include "net/https.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// "https://" + serviceHost + "/".
std::wstring serviceOrigin();

// True only for URLs that begin with serviceOrigin(), compared exactly.
bool isAllowedDownloadUrl(const std::wstring& url);

// (bytes received so far, total announced by the server or 0).
using DownloadProgress = std::function<void(uint64_t, uint64_t)>;

// Downloads url into destination; false on any failure or cancel, with the partial file deleted.
// Runs on the caller's thread; progress is called on it after every chunk. A server silent for
// longer than the receive timeout fails the download.
bool downloadFile(const std::wstring& url, const std::wstring& destination, DownloadProgress progress,
                  const std::atomic<bool>& cancel, const HttpsTimeouts& timeouts);

// The same within setupTimeouts.
bool downloadFile(const std::wstring& url, const std::wstring& destination, DownloadProgress progress,
                  const std::atomic<bool>& cancel);

// What the read loop saw by the time the data stopped.
struct TransferOutcome {
    uint64_t received = 0;
    uint64_t announced = 0; // Content-Length, 0 when the server gave none
    bool cancelled = false;
    bool aborted = false; // a read delivered nothing or a write failed
};

// True when the file may be kept: no abort or cancel, and every announced byte arrived.
bool transferComplete(const TransferOutcome& outcome);

// The request path WinHTTP is given: the cracked path, then the query without any fragment.
std::wstring requestPath(const std::wstring& urlPath, const std::wstring& extraInfo);
