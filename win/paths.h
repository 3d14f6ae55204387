// Where things are: files that exist, the shell's known folders, the temporary folder, this program.
#pragma once

#include <string>

// True when anything (file, folder, link) is at the path. An error other than the
// not-found codes (access denied, say) counts as present: something is there.
bool pathExists(const std::wstring& path);

// A known folder from SHGetFolderPathW (CSIDL_DESKTOP, CSIDL_PROGRAMS, ...); "" when it fails.
std::wstring knownFolderPath(int csidl);

// GetTempPathW's folder with its trailing backslash; "" when it fails or does not fit MAX_PATH.
std::wstring temporaryFolder();

// The full path of the running executable, however long; "" when it cannot be read.
std::wstring modulePath();

// The folder of the running executable, without a trailing backslash; "" when unknown.
std::wstring moduleFolder();
