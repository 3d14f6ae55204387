// Steering and observing the local update service (backend/update_service.py) from a test
// running under Wine: its folder lives in the build folder, reached through drive Z:.
#pragma once

#include <map>
#include <string>
#include <vector>

// One request as the service recorded it; header names are lower-case.
struct RecordedRequest {
    std::string method, path;
    std::map<std::string, std::string> headers;
    std::string body;
};

// <build>\service-root
std::wstring serviceRootPath();
// <build>\service-root\packages\<name>: where a package is written to be served.
std::wstring packagePath(const std::wstring& name);
// serviceOrigin() + L"packages/" + name
std::wstring packageUrl(const std::wstring& name);

void clearRecordedRequests();
// Every request received since the last clear, oldest first; a line that does not parse is skipped.
std::vector<RecordedRequest> recordedRequests();

// The version query's next answers: this body with this status. Status 0 makes the service close
// the connection without answering.
void setLatestAnswer(const std::string& body, int status = 200);
// No release published: the version query answers 404.
void clearLatestAnswer();

// The delta query's next answers, verbatim with 200, instead of the database's; clear goes back
// to the database.
void setDeltaAnswer(const std::string& body);
void clearDeltaAnswer();

// From the next connection on, the service shows the named certificate of its folder
// ("untrusted", "wrong-name"); "" restores its own.
void useServiceCertificate(const std::string& name);
