// Unpacks the package into the staging folder through the system's Windows PowerShell.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// The extraction script around the archive path and the destination folder.
inline constexpr std::wstring_view extractionCommandHead =
    L"powershell.exe -NoProfile -NonInteractive -Command \"$ErrorActionPreference='Stop'; Add-Type "
    L"-AssemblyName "
    L"System.IO.Compression.FileSystem; $zip=[IO.Compression.ZipFile]::OpenRead('";
inline constexpr std::wstring_view extractionCommandMiddle = L"'); $dest='";
inline constexpr std::wstring_view extractionCommandTail =
    L"'; foreach($e in $zip.Entries){  $rel=$e.FullName;   if($rel.Contains('..')){throw 'Path traversal "
    L"detected'};   $p=Join-Path $dest $rel;   if($e.Length -eq 0 -and "
    L"$rel.EndsWith('/')){[IO.Directory]::CreateDirectory($p)|Out-Null}  "
    L"else{[IO.Directory]::CreateDirectory([IO.Path]::GetDirectoryName($p))|Out-Null;   "
    L"[IO.Compression.ZipFileExtensions]::ExtractToFile($e,$p,$true)}}; $zip.Dispose()\"";

// True when every entry was written below destination; false at once, starting nothing, for paths
// extractionRefusal refuses. Blocks for up to five minutes; a child still running then, or when the
// run ends (shutdownEvent), is terminated.
bool ExtractZip(const std::wstring& zipPath, const std::wstring& destination);

// Why the two paths cannot go into the script, "" when they can: a double quote would end the
// command's one argument, and a control character belongs in no path. Every other character is
// safe inside a single-quoted literal once its quotes are doubled. Pure.
std::wstring extractionRefusal(const std::wstring& zipPath, const std::wstring& destination);

// The path as the contents of a single-quoted PowerShell literal: each quote that would end it
// (the apostrophe and U+2018 to U+201B) written twice, which PowerShell reads as one. A grave
// accent and a dollar sign are plain characters there. Pure.
std::wstring scriptLiteral(const std::wstring& path);

// The extraction command line: the script with the two paths in its literals.
std::wstring extractionCommandLine(const std::wstring& zipPath, const std::wstring& destination);

// Starts application hidden, without a window, in workingFolder ("" keeps this process's), and
// waits up to timeoutMs for it, or until stop (an event; may be null) is signalled. Returns its exit code; 1
// when it could not start, the wait failed, the time ran out or stop came first; in the last two cases the
// child is terminated.
unsigned long runHiddenProcess(const std::wstring& application, const std::wstring& commandLine,
                               unsigned long timeoutMs, HANDLE stop = nullptr,
                               const std::wstring& workingFolder = {});

// The system folder + "\WindowsPowerShell\v1.0\powershell.exe", "" when it cannot be read.
std::wstring systemPowerShellPath();
