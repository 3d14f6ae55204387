// The background check that decides between install, update and nothing to do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Thread body; never lets an exception escape.
void updateCheckWorker();

// Digit runs of the text as numbers, padded with zeros to at least three elements.
std::vector<int32_t> parseVersion(const std::wstring& text);

// Compares the first three components: negative when installed is older, 0 when equal.
int compareVersions(const std::vector<int32_t>& installed, const std::vector<int32_t>& latest);

// "Ready to install Ostrel - v1.3.0 (85.3 MB)"; no size part for 0 or less.
std::wstring readyToInstallText(const wchar_t* ready, const std::wstring& version, double sizeMb);
