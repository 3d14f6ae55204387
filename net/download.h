// The package download over HTTPS, restricted to the update service's own origin.
#pragma once

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
bool downloadFile(const std::wstring& url, const std::wstring& destination, DownloadProgress progress,
                  const std::atomic<bool>& cancel);
