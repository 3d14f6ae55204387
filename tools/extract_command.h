// The one command line the PowerShell stand-in accepts, and the rules its script applies to each
// entry name. Pure functions: no file system access.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The script around the two paths, as the setup writes it. The stand-in keeps its own copy on
// purpose: a setup whose texts drift by one character must be refused here, as a real shell
// would misread it.
inline constexpr std::wstring_view extractCommandHead =
    L"powershell.exe -NoProfile -NonInteractive -Command \"$ErrorActionPreference='Stop'; Add-Type "
    L"-AssemblyName System.IO.Compression.FileSystem; $zip=[IO.Compression.ZipFile]::OpenRead('";
inline constexpr std::wstring_view extractCommandMiddle = L"'); $dest='";
inline constexpr std::wstring_view extractCommandTail =
    L"'; foreach($e in $zip.Entries){  $rel=$e.FullName;   if($rel.Contains('..')){throw 'Path traversal "
    L"detected'};   $p=Join-Path $dest $rel;   if($e.Length -eq 0 -and "
    L"$rel.EndsWith('/')){[IO.Directory]::CreateDirectory($p)|Out-Null}  "
    L"else{[IO.Directory]::CreateDirectory([IO.Path]::GetDirectoryName($p))|Out-Null;   "
    L"[IO.Compression.ZipFileExtensions]::ExtractToFile($e,$p,$true)}}; $zip.Dispose()\"";

struct ExtractCommand {
    std::wstring zipPath;
    std::wstring destination;
};

// The two paths of an extraction command line as GetCommandLineW gives it. The program token may
// be "powershell.exe" or a full path to it, quoted or not; everything after it must be the fixed
// texts with the paths in their places. Inside the literals a quote that ends a PowerShell
// literal (the apostrophe or U+2018 to U+201B) stands for itself only when written twice; a single
// one ends the literal. Empty when the line is anything else.
std::optional<ExtractCommand> parseExtractCommand(std::wstring_view commandLine);

// An entry name holding ".." anywhere fails the whole run, even "readme..txt".
bool isTraversalName(std::wstring_view entryName);

// A zero-length entry whose name ends with "/" stands for a folder.
bool isFolderEntry(std::wstring_view entryName, std::uint64_t length);

// destination joined with the entry name as Join-Path joins them: forward slashes become
// backslashes, and one separator between the two parts.
std::wstring entryTargetPath(std::wstring_view destination, std::wstring_view entryName);
