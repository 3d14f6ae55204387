#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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

// Read by the system's own manifest parser, as the loader reads it when the setup starts.
TEST(Resources, ManifestRunsAsInvokerAndIsPerMonitorAware) {
    wchar_t fullPath[MAX_PATH] = {};
    ASSERT_GT(GetFullPathNameW(setupPath, MAX_PATH, fullPath, nullptr), 0u);
    ACTCTXW request{};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = fullPath;
    request.lpResourceName = MAKEINTRESOURCEW(1);
    const HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << GetLastError();

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel{};
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &runLevel,
                             sizeof(runLevel), nullptr));
    EXPECT_EQ(runLevel.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(runLevel.UiAccess, 0u);

    // The record is followed by the manifest paths it points at.
    alignas(ACTIVATION_CONTEXT_DETAILED_INFORMATION) BYTE detail[4096] = {};
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, ActivationContextDetailedInformation, detail,
                             sizeof(detail), nullptr))
        << GetLastError();
    EXPECT_EQ(reinterpret_cast<const ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(detail)->ulAssemblyCount, 2u)
        << "the setup and the common controls it depends on";

    for (const auto& [space, name, expected] :
         {std::tuple{L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true/PM"},
          std::tuple{L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness",
                     L"PerMonitorV2"}}) {
        wchar_t value[64] = {};
        SIZE_T written = 0;
        EXPECT_TRUE(QueryActCtxSettingsW(0, context, space, name, value, 64, &written)) << GetLastError();
        EXPECT_STREQ(value, expected);
    }
    ReleaseActCtx(context);
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
