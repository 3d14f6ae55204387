// The product's names and registry keys, shared by the setup, the uninstaller and the sample product.
#pragma once

inline constexpr const wchar_t* productName = L"Ostrel";
inline constexpr const wchar_t* publisherName = L"Ostrel Team";
inline constexpr const wchar_t* productExeName = L"Ostrel.exe";
inline constexpr const wchar_t* serviceExeName = L"OstrelService.exe";
inline constexpr const wchar_t* uninstallerName = L"Uninstall.exe";
// The package's own list of the files it installs, at the product root.
inline constexpr const wchar_t* fileListName = L"OstrelFiles.txt";
inline constexpr const wchar_t* shortcutFileName = L"Ostrel.lnk";
inline constexpr const wchar_t* startMenuFolderName = L"Ostrel";

inline constexpr const wchar_t* productKeyPath = L"Software\\Ostrel";
inline constexpr const wchar_t* uninstallKeyPath =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostrel";
inline constexpr const wchar_t* settingsKeyPath = L"Software\\Ostrel\\Application";
