// Signed release records: the bytes the publisher signs, and their check against the build's key.
#pragma once

#include "update/service_client.h"
#include "update/update_delta.h"

#include <cstdint>
#include <string>

enum class ReleaseVerdict { Trusted, NoDigest, NoSignature, Unreadable, Expired, BadSignature };

// The signed bytes of a release: "ostrel-release-v1", version, download_url, sha256, size_bytes,
// is_required ("true" or "false") and signature_expires, each followed by a line feed. "" when a
// field is empty or holds a control character, so no two records share their bytes.
std::string releaseSignedBytes(const UpdateInfo& info);

// The signed bytes of a delta's row: "ostrel-delta-v1", version, from_version, download_url,
// sha256, size_bytes, manifest_sha256 and signature_expires, each followed by a line feed; ""
// as for a release.
std::string deltaSignedBytes(const DeltaInfo& delta);

// signature_expires as the service writes it, "2027-03-01T10:00:00+00:00", in seconds since
// 1970 (UTC); false for any other form.
bool parseExpiry(const std::wstring& text, int64_t& unixSeconds);

// Strict base64 with padding; false on anything else.
bool decodeBase64(const std::wstring& text, std::string& bytes);

// The verdict on an answer at the time now: its digest and signature present, the expiry not
// passed, and the signature (raw r and s, base64) made over releaseSignedBytes by the private
// half of publicKey (X then Y). Calls CNG; any thread.
ReleaseVerdict checkRelease(const UpdateInfo& info, int64_t now, const unsigned char (&publicKey)[64]);

// checkRelease with the key built into this program at the system clock's time.
ReleaseVerdict checkReleaseWithBuiltKey(const UpdateInfo& info);

// The same for a delta's row and deltaSignedBytes; NoDigest when either digest is missing.
ReleaseVerdict checkDelta(const DeltaInfo& delta, int64_t now, const unsigned char (&publicKey)[64]);
ReleaseVerdict checkDeltaWithBuiltKey(const DeltaInfo& delta);

// What the log says of a verdict other than Trusted.
std::wstring refusalReason(ReleaseVerdict verdict, const UpdateInfo& info);
std::wstring verdictReason(ReleaseVerdict verdict, const std::wstring& signatureExpires);
