#include "update/service_client.h"

#include "net/https.h"
#include "service_config.h"
#include "win/text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <string_view>

namespace {
constexpr const wchar_t* rpcPath = L"/rest/v1/rpc/get_latest_version";
constexpr char requestBody[] = "{}";
// A version answer is a few hundred bytes; anything near this is not one.
constexpr size_t answerLimit = 1024 * 1024;

// The service's answer to the version query, whatever its status; false when none arrived or it
// was longer than any real answer.
// Every handle is closed again by the time it returns.
bool fetchAnswer(std::string& body) {
    const HttpsRequest exchange =
        openHttpsRequest(L"POST", serviceHost, INTERNET_DEFAULT_HTTPS_PORT, rpcPath);
    if (!exchange)
        return false;
    const std::wstring headers =
        L"Content-Type: application/json\r\napikey: " + buildServiceApiKey() + L"\r\n";
    if (!sendHttpsRequest(exchange.get(), headers, requestBody))
        return false;
    return readBody(exchange.get(), answerLimit, body);
}
} // namespace

std::wstring buildServiceApiKey() {
    const wchar_t* const pieces[] = {
        serviceKeyPiece0,  serviceKeyPiece1,  serviceKeyPiece2,  serviceKeyPiece3,  serviceKeyPiece4,
        serviceKeyPiece5,  serviceKeyPiece6,  serviceKeyPiece7,  serviceKeyPiece8,  serviceKeyPiece9,
        serviceKeyPiece10, serviceKeyPiece11, serviceKeyPiece12, serviceKeyPiece13, serviceKeyPiece14,
        serviceKeyPiece15, serviceKeyPiece16, serviceKeyPiece17};
    std::wstring key;
    for (const wchar_t* piece : pieces)
        key.append(piece, wcslen(piece));
    return key;
}

std::wstring jsonStringField(const std::string& body, const std::string& key) {
    const std::string needle = "\"" + key + "\":\"";
    const size_t found = body.find(needle);
    if (found == std::string::npos)
        return {};
    const size_t start = found + needle.size();
    if (start >= body.size())
        return {};
    const size_t end = body.find('"', start);
    if (end == std::string::npos)
        return {};
    return fromUtf8(std::string_view(body).substr(start, end - start));
}

std::string jsonNumberText(const std::string& body, const std::string& key) {
    const std::string needle = "\"" + key + "\":";
    const size_t found = body.find(needle);
    if (found == std::string::npos)
        return {};
    size_t end = found + needle.size();
    while (end < body.size() && ((body[end] >= '0' && body[end] <= '9') || body[end] == '.'))
        ++end;
    return body.substr(found + needle.size(), end - found - needle.size());
}

double jsonNumberField(const std::string& body, const std::string& key) {
    const std::string digits = jsonNumberText(body, key);
    if (digits.empty())
        return 0.0;
    // A lone point or a value beyond a double is unusable, like any other malformed number.
    char* stop = nullptr;
    errno = 0;
    const double value = std::strtod(digits.c_str(), &stop);
    if (stop == digits.c_str() || errno == ERANGE || !std::isfinite(value))
        return 0.0;
    return value;
}

bool jsonBoolField(const std::string& body, const std::string& key) {
    const std::string needle = "\"" + key + "\":";
    const size_t found = body.find(needle);
    if (found == std::string::npos)
        return false;
    return body.compare(found + needle.size(), 4, "true") == 0;
}

std::wstring packageDigestField(const std::string& body) {
    std::wstring digest = jsonStringField(body, "sha256");
    if (!digest.empty())
        return digest;
    // The key followed by its colon, whatever sits between them.
    constexpr std::string_view key = "\"sha256\"";
    for (size_t found = body.find(key); found != std::string::npos; found = body.find(key, found + 1)) {
        const size_t colon = body.find_first_not_of(" \t\r\n", found + key.size());
        if (colon != std::string::npos && body[colon] == ':')
            return unreadableDigest;
    }
    return {};
}

bool queryLatestVersion(UpdateInfo& info) {
    std::string body;
    if (!fetchAnswer(body))
        return false;
    info.version = jsonStringField(body, "version");
    info.downloadUrl = jsonStringField(body, "download_url");
    info.releaseNotes = jsonStringField(body, "release_notes");
    info.isRequired = jsonBoolField(body, "is_required");
    info.fileSizeMb = jsonNumberField(body, "file_size_mb");
    info.sha256 = packageDigestField(body);
    info.sizeBytes = fromUtf8(jsonNumberText(body, "size_bytes"));
    info.signature = jsonStringField(body, "signature");
    info.signatureExpires = jsonStringField(body, "signature_expires");
    return !info.version.empty();
}
