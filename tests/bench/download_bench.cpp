// Times one way of fetching a package over HTTPS and prints the figures as key=value lines:
//   download_bench download <url> <file>   downloadFile, which hashes the package as it writes it
//   download_bench bare <url> <file>       the least WinHTTP can do: one 64 KiB buffer, written as read
// The peak working set shows whether memory stays flat while the package streams to disk.
#include "net/download.h"
#include "net/https.h"
#include "win/handles.h"

#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
constexpr DWORD readBufferSize = 65536;

double secondsSince(LARGE_INTEGER start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER now() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value;
}

double peakWorkingSetMb() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

// No origin check, no progress, no cancel, no length check: the platform's floor.
bool bareDownload(const std::wstring& url, const std::wstring& destination, uint64_t& received) {
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts))
        return false;
    UniqueWinHttp session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
    UniqueWinHttp connection(session ? WinHttpConnect(session.get(), host, parts.nPort, 0) : nullptr);
    UniqueWinHttp request(connection ? WinHttpOpenRequest(connection.get(), L"GET", path, nullptr,
                                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                          WINHTTP_FLAG_SECURE)
                                     : nullptr);
    if (!request ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return false;
    UniqueFile file(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    std::vector<BYTE> buffer(readBufferSize);
    DWORD available = 0;
    while (WinHttpQueryDataAvailable(request.get(), &available) && available > 0) {
        DWORD read = 0, written = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), std::min(available, readBufferSize), &read) ||
            read == 0 || !WriteFile(file.get(), buffer.data(), read, &written, nullptr))
            return false;
        received += read;
    }
    return true;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: download_bench download|bare <url> <file>\n");
        return 2;
    }
    const std::wstring mode = argv[1], url = argv[2], file = argv[3];
    std::printf("start_peak_mb=%.1f\n", peakWorkingSetMb());
    const LARGE_INTEGER start = now();
    if (mode == L"bare") {
        uint64_t received = 0;
        if (!bareDownload(url, file, received))
            return 1;
        std::printf("bare_s=%.3f\nbytes=%llu\n", secondsSince(start),
                    static_cast<unsigned long long>(received));
    } else if (mode == L"download") {
        uint64_t received = 0;
        std::atomic<bool> cancel{false};
        const DownloadResult result = downloadFile(
            url, file, [&](uint64_t bytes, uint64_t) { received = bytes; }, cancel);
        if (!result.ok)
            return 1;
        std::printf("download_s=%.3f\nbytes=%llu\nsha256=%ls\n", secondsSince(start),
                    static_cast<unsigned long long>(received), result.sha256.c_str());
    } else {
        return 2;
    }
    std::printf("peak_mb=%.1f\n", peakWorkingSetMb());
    return 0;
}
