// The delta query: after an update is offered to an installed version, the service's delta from
// that version to the offered one, and whether this setup may use it.
#pragma once

#include "state/setup_state.h"
#include "update/service_client.h"

#include <string>

// One row of the delta query's answer, each field as the answer writes it.
struct DeltaInfo {
    std::wstring version;
    std::wstring fromVersion;
    std::wstring downloadUrl;
    std::wstring sha256;
    std::wstring sizeBytes; // the digits of size_bytes
    std::wstring manifestSha256;
    std::wstring signature;
    std::wstring signatureExpires;
};

// How the query went: a row came back, the row set was empty, or no usable answer came.
enum class DeltaAnswer { Found, None, Failed };

// Blocking; update-check worker only. POSTs the query for fromVersion with the version query's
// headers and reads its answer; Failed when none came or its status was not 200.
DeltaAnswer queryUpdateDelta(const std::wstring& fromVersion, DeltaInfo& delta);

// The delta query's body for an installed version: {"from_version":"1.2.0"}.
std::string deltaRequestBody(const std::wstring& fromVersion);

// The row set of an answer: [] is None, an array whose first row has a version is Found with its
// fields, anything else Failed. Pure.
DeltaAnswer readDeltaAnswer(const std::string& body, DeltaInfo& delta);

// Why a found row cannot be used to go from installed to the offered release, "" when it can:
// it is for another pair of versions, a digest or the size is out of shape, or its URL lies
// outside the service's origin. The signature is checked apart. Pure.
std::wstring deltaRefusal(const DeltaInfo& delta, const std::wstring& installed, const std::wstring& offered);

// The state's record of a usable delta (its size read as a number).
DeltaOffer deltaOfferOf(const DeltaInfo& delta);
