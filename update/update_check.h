// The background check that decides between install, update and nothing to do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Thread body; never lets an exception escape.
void updateCheckWorker();

// Digit runs of the text as numbers, padded with zeros to at least three elements.
std::vector<int32_t> parseVersion(const std::wstring& text);
