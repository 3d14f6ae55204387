// The update service call: one HTTPS POST and a plain-text search of its answer.
#pragma once

#include <string>

struct UpdateInfo {
    std::wstring version;
    std::wstring downloadUrl;
    std::wstring releaseNotes;
    std::wstring sha256;
    bool isRequired = false;
    double fileSizeMb = 0.0;
    // The signed release's fields (builds with a release key check them): size_bytes as its
    // digits, the base64 signature and signature_expires.
    std::wstring sizeBytes;
    std::wstring signature;
    std::wstring signatureExpires;
};

// Blocking; update-check worker only. True when the exchange succeeded and a version came back;
// the record is left as it was when no answer arrived.
bool queryLatestVersion(UpdateInfo& info);

// Every field of the record from the answer's text, each its default when the answer lacks it.
void readAnswer(const std::string& body, UpdateInfo& info);

// The 208-character API key, joined from its pieces at run time.
std::wstring buildServiceApiKey();

// The value of the key's first occurrence anywhere in the answer, blanks around its colon allowed
// (for a string, the first with a string value), a string's escapes decoded; defaults when absent
// or malformed.
std::wstring jsonStringField(const std::string& body, const std::string& key);
double jsonNumberField(const std::string& body, const std::string& key);
// The run of digits and points after the key's colon and any blanks, as written.
std::string jsonNumberText(const std::string& body, const std::string& key);
bool jsonBoolField(const std::string& body, const std::string& key);

// Never equal to a digest: the service named a hash that the search cannot read, so the package
// must fail its check rather than install unchecked.
inline constexpr wchar_t unreadableDigest[] = L"(unreadable)";

// The package's expected digest: "" only when the answer has no sha256 key at all (no check), the
// value when it reads as a string, else unreadableDigest.
std::wstring packageDigestField(const std::string& body);
