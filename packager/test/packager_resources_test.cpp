// The wrapped setup program as Windows reads it without running it.

#include <windows.h>

#include <gtest/gtest.h>
#include <imagehlp.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "Checksum.h"
#include "PeFile.h"
#include "WinDll.h"
#include "WinFileUtils.h"
#include "WinSysInfo.h"

namespace {

tstring setupPath() {
    return SysInfo::getEnvVariable(L"BRUMLET_TEST_SETUP");
}

tstring versionString(const std::vector<BYTE>& info, const tstring& key) {
    void* value = nullptr;
    UINT length = 0;
    const tstring path = L"\\StringFileInfo\\040904B0\\" + key;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length)) {
        return L"<missing>";
    }
    return tstring(static_cast<const wchar_t*>(value));
}

TEST(WrappedSetup, VersionInformationComesFromThePackage) {
    const tstring path = setupPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << GetLastError();
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data())) << GetLastError();

    EXPECT_EQ(versionString(info, L"ProductName"), L"Brumlet Tool Test");
    EXPECT_EQ(versionString(info, L"ProductVersion"), L"2.3.4");
    EXPECT_EQ(versionString(info, L"FileVersion"), L"2.3.4");
    EXPECT_EQ(versionString(info, L"CompanyName"), L"Brumlet Testers");
    EXPECT_EQ(versionString(info, L"FileDescription"), L"Brumlet Tool Test Setup");
    EXPECT_EQ(versionString(info, L"OriginalFilename"), L"tool-setup.exe");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020003u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00040000u);
}

// The manifest of the stub stays; the package's product icon arrives as a
// group whose entries all name icons that exist.
TEST(WrappedSetup, KeepsTheManifestAndCarriesTheProductIcon) {
    const HMODULE module = LoadLibraryExW(setupPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST), nullptr);

    const HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
    EXPECT_EQ(count, 2u);
    for (WORD i = 0; i < count; ++i) {
        const WORD id = *reinterpret_cast<const WORD*>(dir + 6 + i * 14 + 12);
        EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(id), RT_ICON), nullptr) << id;
    }
    const int best = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(dir), TRUE, 32, 32, 0);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(best), RT_ICON), nullptr);
    FreeLibrary(module);
}

std::vector<std::uint8_t> readAll(const tstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

// Checked against the system's own implementation, also for a file of odd
// length whose last word is incomplete.
TEST(WrappedSetup, ChecksumIsTheOneTheSystemComputes) {
    const tstring path = setupPath();
    const std::vector<std::uint8_t> bytes = readAll(path);
    const image::PeFile pe(bytes.data(), bytes.size());
    EXPECT_EQ(pe.subsystem(), image::PeFile::subsystemWindowsGui);
    EXPECT_EQ(pe.directory(image::PeFile::certificateDirectory).size, 0u);

    DWORD stored = 0;
    DWORD computed = 0;
    ASSERT_EQ(MapFileAndCheckSumW(path.c_str(), &stored, &computed), CHECKSUM_SUCCESS);
    EXPECT_EQ(stored, computed);
    EXPECT_EQ(image::Checksum::of(bytes.data(), bytes.size(), pe.checksumOffset()), computed);

    const tstring odd = FileUtils::joinPath(FileUtils::getTempDirectory(), L"brm-odd.exe");
    FileUtils::copyFile(path, odd, false);
    std::ofstream(odd.c_str(), std::ios::binary | std::ios::app).write("\x7f", 1);
    ASSERT_EQ(MapFileAndCheckSumW(odd.c_str(), &stored, &computed), CHECKSUM_SUCCESS);
    const std::vector<std::uint8_t> oddBytes = readAll(odd);
    EXPECT_EQ(image::Checksum::of(oddBytes.data(), oddBytes.size(), pe.checksumOffset()), computed);
    FileUtils::deleteFile(odd);
}

}  // namespace
