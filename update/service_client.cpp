#include "update/service_client.h"

#include "net/https.h"
#include "service_config.h"
#include "update/update_delta.h"
#include "win/text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <string_view>

namespace {
constexpr const wchar_t* rpcPath = L"/rest/v1/rpc/get_latest_version";
constexpr const wchar_t* deltaRpcPath = L"/rest/v1/rpc/get_update_delta";
constexpr char requestBody[] = "{}";
// A version or delta answer is a few hundred bytes; anything near this is not one.
constexpr size_t answerLimit = 1024 * 1024;
constexpr DWORD statusOk = 200;

// The service's answer to a POST of requestJson to the function at path, with its status, over
// the run's route; false when none arrived or it was longer than any real answer.
// Every handle is closed again by the time it returns.
bool fetchAnswer(const wchar_t* path, const std::string& requestJson, std::string& body, DWORD& status) {
    const RoutedCall call = sendOverRunRoute(
        {L"POST", serviceHost, INTERNET_DEFAULT_HTTPS_PORT, path,
         L"Content-Type: application/json\r\napikey: " + buildServiceApiKey() + L"\r\n", requestJson});
    if (call.end != CallEnd::Answered || !responseStatus(call.exchange->get(), status))
        return false;
    return readBody(call.exchange->get(), answerLimit, body);
}

bool isJsonSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

size_t skipSpace(const std::string& body, size_t at) {
    while (at < body.size() && isJsonSpace(body[at]))
        ++at;
    return at;
}

// Where the value of the first "key" after from that a colon follows starts, blanks skipped;
// npos when there is none.
size_t valueStart(const std::string& body, const std::string& key, size_t from) {
    const std::string quoted = "\"" + key + "\"";
    for (size_t found = body.find(quoted, from); found != std::string::npos;
         found = body.find(quoted, found + 1)) {
        const size_t colon = skipSpace(body, found + quoted.size());
        if (colon < body.size() && body[colon] == ':')
            return skipSpace(body, colon + 1);
    }
    return std::string::npos;
}

// The four hex digits at body[at], as one UTF-16 unit.
bool readUnit(const std::string& body, size_t at, wchar_t& unit) {
    if (at + 4 > body.size())
        return false;
    unsigned value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const char c = body[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    unit = static_cast<wchar_t>(value);
    return true;
}

bool isHighSurrogate(wchar_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(wchar_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The JSON string that opens with the quote at body[at], its escapes decoded and the rest read as
// UTF-8; an unpaired surrogate becomes U+FFFD. False when it is not closed or has an escape that
// JSON does not.
bool decodeString(const std::string& body, size_t at, std::wstring& text) {
    constexpr std::string_view simpleEscapes = "\"\\/bfnrt";
    constexpr std::wstring_view simpleUnits = L"\"\\/\b\f\n\r\t";
    size_t run = at + 1;
    for (size_t i = run; i < body.size(); ++i) {
        if (body[i] != '"' && body[i] != '\\')
            continue;
        text += fromUtf8(std::string_view(body).substr(run, i - run));
        if (body[i] == '"')
            return true;
        if (++i == body.size())
            return false;
        wchar_t unit = 0;
        wchar_t low = 0;
        if (const size_t simple = simpleEscapes.find(body[i]); simple != std::string_view::npos) {
            text += simpleUnits[simple];
        } else if (body[i] == 'u' && readUnit(body, i + 1, unit)) {
            i += 4;
            if (isHighSurrogate(unit) && body.compare(i + 1, 2, "\\u") == 0 && readUnit(body, i + 3, low) &&
                isLowSurrogate(low)) {
                text += unit;
                text += low;
                i += 6;
            } else {
                text += isHighSurrogate(unit) || isLowSurrogate(unit) ? L'\uFFFD' : unit;
            }
        } else {
            return false;
        }
        run = i + 1;
    }
    return false;
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
    for (size_t at = valueStart(body, key, 0); at != std::string::npos; at = valueStart(body, key, at)) {
        if (body[at] != '"')
            continue;
        std::wstring text;
        return decodeString(body, at, text) ? text : std::wstring();
    }
    return {};
}

std::string jsonNumberText(const std::string& body, const std::string& key) {
    const size_t start = valueStart(body, key, 0);
    if (start == std::string::npos)
        return {};
    size_t end = start;
    while (end < body.size() && ((body[end] >= '0' && body[end] <= '9') || body[end] == '.'))
        ++end;
    return body.substr(start, end - start);
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
    const size_t start = valueStart(body, key, 0);
    return start != std::string::npos && body.compare(start, 4, "true") == 0;
}

std::wstring packageDigestField(const std::string& body) {
    std::wstring digest = jsonStringField(body, "sha256");
    if (!digest.empty())
        return digest;
    return valueStart(body, "sha256", 0) == std::string::npos ? std::wstring() : unreadableDigest;
}

void readAnswer(const std::string& body, UpdateInfo& info) {
    info.version = jsonStringField(body, "version");
    info.downloadUrl = jsonStringField(body, "download_url");
    info.releaseNotes = jsonStringField(body, "release_notes");
    info.isRequired = jsonBoolField(body, "is_required");
    info.fileSizeMb = jsonNumberField(body, "file_size_mb");
    info.sha256 = packageDigestField(body);
    info.sizeBytes = fromUtf8(jsonNumberText(body, "size_bytes"));
    info.signature = jsonStringField(body, "signature");
    info.signatureExpires = jsonStringField(body, "signature_expires");
}

bool queryLatestVersion(UpdateInfo& info) {
    std::string body;
    DWORD status = 0; // any: an answer without a version is no answer
    if (!fetchAnswer(rpcPath, requestBody, body, status))
        return false;
    readAnswer(body, info);
    return !info.version.empty();
}

DeltaAnswer queryUpdateDelta(const std::wstring& fromVersion, DeltaInfo& delta) {
    std::string body;
    DWORD status = 0;
    if (!fetchAnswer(deltaRpcPath, deltaRequestBody(fromVersion), body, status) || status != statusOk)
        return DeltaAnswer::Failed;
    return readDeltaAnswer(body, delta);
}
