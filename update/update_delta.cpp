#include "update/update_delta.h"

#include "net/download.h"
#include "win/text.h"

#include <cstdio>

namespace {
constexpr size_t digestDigits = 64;
constexpr size_t maxSizeDigits = 19; // any such number fits 64 bits

bool isJsonSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The text without blanks at either end.
std::string trimmed(const std::string& text) {
    size_t start = 0;
    size_t end = text.size();
    while (start < end && isJsonSpace(text[start]))
        ++start;
    while (end > start && isJsonSpace(text[end - 1]))
        --end;
    return text.substr(start, end - start);
}

bool isDigest(const std::wstring& text) {
    return text.size() == digestDigits && text.find_first_not_of(L"0123456789abcdef") == std::wstring::npos;
}

bool isSize(const std::wstring& text) {
    return !text.empty() && text.size() <= maxSizeDigits &&
           text.find_first_not_of(L"0123456789") == std::wstring::npos;
}

// The text as the contents of a JSON string.
std::string jsonEscaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            escaped += '\\';
            escaped += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char unit[7];
            std::snprintf(unit, sizeof(unit), "\\u%04x", static_cast<unsigned>(c));
            escaped += unit;
        } else {
            escaped += c;
        }
    }
    return escaped;
}
} // namespace

std::string deltaRequestBody(const std::wstring& fromVersion) {
    return "{\"from_version\":\"" + jsonEscaped(toUtf8(fromVersion)) + "\"}";
}

DeltaAnswer readDeltaAnswer(const std::string& body, DeltaInfo& delta) {
    const std::string rows = trimmed(body);
    if (rows.size() < 2 || rows.front() != '[' || rows.back() != ']')
        return DeltaAnswer::Failed;
    if (trimmed(rows.substr(1, rows.size() - 2)).empty())
        return DeltaAnswer::None;
    delta.version = jsonStringField(rows, "version");
    delta.fromVersion = jsonStringField(rows, "from_version");
    delta.downloadUrl = jsonStringField(rows, "download_url");
    delta.sha256 = jsonStringField(rows, "sha256");
    delta.sizeBytes = fromUtf8(jsonNumberText(rows, "size_bytes"));
    delta.manifestSha256 = jsonStringField(rows, "manifest_sha256");
    delta.signature = jsonStringField(rows, "signature");
    delta.signatureExpires = jsonStringField(rows, "signature_expires");
    return delta.version.empty() ? DeltaAnswer::Failed : DeltaAnswer::Found;
}

std::wstring deltaRefusal(const DeltaInfo& delta, const std::wstring& installed,
                          const std::wstring& offered) {
    if (delta.fromVersion != installed || delta.version != offered)
        return L"the delta goes from " + delta.fromVersion + L" to " + delta.version;
    if (!isDigest(delta.sha256) || !isDigest(delta.manifestSha256) || !isSize(delta.sizeBytes))
        return L"the delta's sha256, manifest_sha256 or size_bytes is unreadable";
    if (!isAllowedDownloadUrl(delta.downloadUrl))
        return L"the delta's URL is not in the allowed domain list: " + delta.downloadUrl;
    return {};
}

DeltaOffer deltaOfferOf(const DeltaInfo& delta) {
    DeltaOffer offer;
    offer.fromVersion = delta.fromVersion;
    offer.downloadUrl = delta.downloadUrl;
    offer.sha256 = delta.sha256;
    offer.manifestSha256 = delta.manifestSha256;
    offer.sizeBytes = isSize(delta.sizeBytes) ? std::stoull(delta.sizeBytes) : 0;
    return offer;
}
