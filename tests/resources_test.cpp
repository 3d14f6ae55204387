#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
// The tests run in <build>/tests; the setup is built into <build>.
const wchar_t* const setupPath = L"..\\OstrelSetup.exe";

#pragma pack(push, 2)
struct IconDirEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconDir {
    WORD reserved, type, count;
    IconDirEntry entries[1];
};
#pragma pack(pop)

struct LoadedModule {
    HMODULE module =
        LoadLibraryExW(setupPath, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ~LoadedModule() {
        if (module)
            FreeLibrary(module);
    }
};

std::string resourceText(HMODULE module, LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found)
        return {};
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return std::string(data, SizeofResource(module, found));
}

std::wstring versionString(const std::vector<BYTE>& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0)
        return {};
    return static_cast<const wchar_t*>(value);
}
} // namespace

TEST(Resources, IconGroupHoldsSixThirtyTwoBitSizes) {
    LoadedModule setup;
    ASSERT_NE(setup.module, nullptr);
    HRSRC found = FindResourceW(setup.module, MAKEINTRESOURCEW(101), RT_GROUP_ICON);
    ASSERT_NE(found, nullptr);
    const auto* group = static_cast<const IconDir*>(LockResource(LoadResource(setup.module, found)));
    ASSERT_EQ(group->count, 6);
    std::vector<int> sizes;
    for (int i = 0; i < group->count; ++i) {
        EXPECT_EQ(group->entries[i].bitCount, 32);
        sizes.push_back(group->entries[i].width == 0 ? 256 : group->entries[i].width);
    }
    EXPECT_EQ(sizes, (std::vector<int>{256, 64, 48, 32, 24, 16}));
}

TEST(Resources, ManifestRunsAsInvokerAndIsPerMonitorAware) {
    LoadedModule setup;
    ASSERT_NE(setup.module, nullptr);
    const std::string manifest = resourceText(setup.module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    for (const char* expected :
         {"name=\"OstrelSetup\"", "version=\"1.0.0.0\"", "<description>Ostrel Setup Launcher</description>",
          "level=\"asInvoker\"", "uiAccess=\"false\"", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9b}", "Microsoft.Windows.Common-Controls", "true/PM",
          "PerMonitorV2"})
        EXPECT_NE(manifest.find(expected), std::string::npos) << expected;
}

TEST(Resources, VersionInformationNamesTheSetup) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(setupPath, &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(setupPath, 0, size, block.data()));
    EXPECT_EQ(versionString(block, L"FileDescription"), L"Ostrel Setup");
    EXPECT_EQ(versionString(block, L"InternalName"), L"OstrelSetup.exe");
    EXPECT_EQ(versionString(block, L"OriginalFilename"), L"OstrelSetup.exe");
    EXPECT_EQ(versionString(block, L"ProductName"), L"Ostrel");
    EXPECT_EQ(versionString(block, L"FileVersion"), L"1.0.0.0");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
}
