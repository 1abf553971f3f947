#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorOf.h"
#include "HandleFiles.h"
#include "LogCapture.h"
#include "PackageFolder.h"
#include "PrivateFolderSecurity.h"
#include "TempDirTest.h"

using namespace FileUtils;
using bmtest::errorOf;
using ::testing::HasSubstr;

namespace {

class Package : public bmtest::TempDirTest {
protected:
    void TearDown() override {
        TestHooks::setBeforePackageHeld(nullptr);
        TempDirTest::TearDown();
    }
    // Makes a folder in `base`, lets `body` act on it, and returns its path.
    template <class Body>
    static tstring folderIn(const tstring& base, Body body) {
        tstring p;
        PackageFolder folder(base);
        p = folder.path();
        body(folder);
        return p;
    }
};

UniqueHandle keptWriter;

// What another process could do in the moment between the writer's close and
// the hold.
void overwrite(const tstring& path) {
    std::ofstream(path.c_str(), std::ios::binary | std::ios::in) << "X";
}
void keepWriting(const tstring& path) {
    keptWriter.reset(CreateFileW(path.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
}
void replace(const tstring& path) {
    std::ofstream((path + L".new").c_str(), std::ios::binary) << "package";
    MoveFileExW((path + L".new").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}
void remove(const tstring& path) {
    DeleteFileW(path.c_str());
}

TEST_F(Package, IsHeldAsWrittenOrRefusedWithTheFolderRemoved) {
    tstring folderPath = folderIn(dir, [&](PackageFolder& folder) {
        EXPECT_TRUE(tstrings::equals(dir, dirname(folder.path()), tstrings::IgnoreCase));
        EXPECT_EQ(folder.path() + L"\\main.msi", folder.addPackage(L"main.msi", "package", 7));
        folder.verify(L"now");
        EXPECT_EQ("package", readFile(folder.path() + L"\\main.msi"));
        // What else is in the folder goes with it, read-only files too.
        CreateDirectoryW((folder.path() + L"\\sub").c_str(), nullptr);
        writeFile(folder.path() + L"\\sub\\inner.txt", "x");
        writeFile(folder.path() + L"\\ro.txt", "x");
        SetFileAttributesW((folder.path() + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    });
    EXPECT_FALSE(exists(folderPath));

    for (auto change : {&overwrite, &replace}) {
        TestHooks::setBeforePackageHeld(change);
        EXPECT_THAT(errorOf([&] {
                        folderIn(dir, [&](PackageFolder& folder) {
                            folderPath = folder.path();
                            folder.addPackage(L"main.msi", "package", 7);
                        });
                    }),
                    HasSubstr("main.msi] was changed by another process before msiexec started"));
        EXPECT_FALSE(exists(folderPath));
    }

    // Each failure names its call and its own error.
    TestHooks::setBeforePackageHeld(&remove);
    EXPECT_THAT(errorOf([&] {
                    folderIn(dir, [](PackageFolder& f) { f.addPackage(L"main.msi", "p", 1); });
                }),
                HasSubstr("main.msi) failed. System error [2]("));
    EXPECT_THAT(errorOf([&] { PackageFolder folder(path(L"missing")); }),
                HasSubstr("CreateFile(" + tstrings::toUtf8(path(L"missing")) +
                          ") failed. System error [2]("));

    // A writer that stays is refused, and keeps the folder from going: after
    // a few seconds of retries the folder is reported and left. Only under
    // Wine: Windows 10 and later delete with POSIX semantics, which take the
    // file's name away at once, and then the folder goes too.
    TestHooks::setBeforePackageHeld(&keepWriting);
    bmtest::LogCapture log;
    EXPECT_THAT(errorOf([&] {
                    folderIn(dir, [&](PackageFolder& folder) {
                        folderPath = folder.path();
                        folder.addPackage(L"main.msi", "package", 7);
                    });
                }),
                HasSubstr("main.msi] against changes: another process has it open. System error "
                          "[32]("));
    keptWriter.reset();
    EXPECT_TRUE(log.contains(L"WARNING: [" + folderPath +
                             L"] directory could not be deleted: another process still has a file "
                             L"in it open. It stays behind"));
}

TEST_F(Package, PackagePathsLongerThanMaxPathReachMsiexecShortened) {
    // Folders of 80 characters, made through the form without a length limit.
    tstring base = L"\\\\?\\" + dir;
    for (int i = 0; i < 3; ++i) {
        base += L"\\" + tstring(80, static_cast<wchar_t>(L'a' + i));
        ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
    }
    // Wine gives every long name a short one.
    const tstring folderPath = folderIn(base.substr(4), [&](PackageFolder& folder) {
        const tstring package = folder.addPackage(L"main.msi", "package", 7);
        EXPECT_LT(package.size(), static_cast<size_t>(MAX_PATH)) << package;
        EXPECT_EQ("package", readFile(package));
        folder.verify(L"now");
    });
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((L"\\\\?\\" + folderPath).c_str()));

    // Where the volume has no short names, or its short form is another
    // folder or still too long, msiexec gets nothing.
    const tstring longFolder = L"C:\\" + tstring(260, L'l');
    const struct {
        tstring folder, shortFolder;
        bool shortIsHeld;
        tstring expected;
    } cases[] = {
        {L"C:\\t\\1.tmp", L"", false, L"C:\\t\\1.tmp\\main.msi"},
        {longFolder, L"C:\\LLLLLL~1", true, L"C:\\LLLLLL~1\\main.msi"},
        {longFolder, L"C:\\LLLLLL~1", false, L""},
        {longFolder, longFolder, true, L""},
        {longFolder, L"C:\\" + tstring(250, L's'), true, L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, pathForMsiexec(c.folder, c.shortFolder, c.shortIsHeld, L"main.msi"))
            << tstrings::toUtf8(c.folder) << " " << tstrings::toUtf8(c.shortFolder);
    }
}

// A server that refuses to normalize, as some do.
DWORD WINAPI openedOnly(HANDLE, LPWSTR buffer, DWORD size, DWORD flags) {
    const tstring opened = L"\\\\?\\UNC\\server\\share\\Temp\\1.tmp";
    if ((flags & FILE_NAME_OPENED) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (size <= opened.size()) {
        return static_cast<DWORD>(opened.size() + 1);
    }
    wcscpy(buffer, opened.c_str());
    return static_cast<DWORD>(opened.size());
}

TEST_F(Package, PathsAsTheSystemGivesThemAreJoinedAndHandedOutPlain) {
    // A drive as TEMP names its root, not the current folder on it.
    const tstring drive = dir.substr(0, 2);
    const tstring before = FileUtils::toAbsolutePath(L"");
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    const tstring atRoot = folderIn(drive, [](PackageFolder&) {});
    SetCurrentDirectoryW(before.c_str());
    EXPECT_TRUE(tstrings::equals(drive, dirname(atRoot), tstrings::IgnoreCase)) << atRoot;
    EXPECT_FALSE(exists(atRoot));

    tstring final;
    ASSERT_TRUE(finalPathBy(openedOnly, nullptr, final));
    EXPECT_EQ(L"\\\\server\\share\\Temp\\1.tmp", plainPath(final));
    EXPECT_EQ(L"R:\\1.tmp", plainPath(childPath(L"\\\\?\\R:\\", L"1.tmp")));
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\1.tmp",
              childPath(L"\\\\?\\UNC\\server\\share\\", L"1.tmp"));
    EXPECT_EQ(L"\\\\?\\C:\\t\\1.tmp", childPath(L"\\\\?\\C:\\t", L"1.tmp"));
}

TEST_F(Package, OnlyAnotherObjectAtThePathIsTakenForAnotherProcesssDoing) {
    const DWORD folder = FILE_ATTRIBUTE_DIRECTORY;
    const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    // Held attributes, index, spelled alike, elsewhere; at the path:
    // attributes, opened, index, spelled alike.
    const struct {
        Sighting seen;
        Identity expected;
    } cases[] = {
        {{folder, 7, true, false, folder, true, 7, true}, Identity::Same},
        {{folder, 7, true, false, folder, true, 8, true}, Identity::Other},
        {{folder, 7, true, false, link, true, 7, true}, Identity::Other},
        {{link, 7, true, false, folder, true, 7, true}, Identity::Other},
        {{folder, 7, false, true, folder, true, 7, true}, Identity::Other},
        // A subst drive, a short name, a server's own spelling: the same
        // object in the same folder, no proof of anything.
        {{folder, 7, false, false, folder, true, 7, true}, Identity::Unknown},
        {{folder, 7, true, false, folder, true, 7, false}, Identity::Unknown},
        {{folder, 7, true, false, INVALID_FILE_ATTRIBUTES, false, 0, false}, Identity::Unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, judge(c.seen))
            << c.seen.heldAttributes << " " << c.seen.pathAttributes << " " << c.seen.pathIndex;
    }
}

bool underWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool elevated() {
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool known =
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
    CloseHandle(token);
    return known && elevation.TokenIsElevated;
}

// The list in SDDL, and the label ACE by its fields: Wine writes no label
// into SDDL.
std::string sddlOf(PSECURITY_DESCRIPTOR descriptor) {
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return "<none>";
    }
    std::string sddl = tstrings::toUtf8(tstring(text));
    LocalFree(text);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL sacl = nullptr;
    void* ace = nullptr;
    LPWSTR sid = nullptr;
    if (GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted) && present && sacl &&
        sacl->AceCount == 1 && GetAce(sacl, 0, &ace) &&
        ConvertSidToStringSidW(&static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace)->SidStart, &sid)) {
        const auto* label = static_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(ace);
        sddl += " label type=" + std::to_string(label->Header.AceType) +
                " flags=" + std::to_string(label->Header.AceFlags) +
                " mask=" + std::to_string(label->Mask) + " " + tstrings::toUtf8(tstring(sid));
        LocalFree(sid);
    }
    return sddl;
}

TEST_F(Package, AnElevatedFolderAdmitsSystemAdministratorsAndTheUserWithHighIntegrityOnly) {
    const PrivateFolderSecurity security;
    const std::string sddl = sddlOf(security.get());
    const std::string start = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-";
    // Inherited by files and folders, no write up, High.
    const std::string label = ") label type=17 flags=3 mask=1 S-1-16-12288";
    EXPECT_EQ(start, sddl.substr(0, start.size())) << sddl;
    EXPECT_EQ(label, sddl.substr(sddl.find(')', start.size()))) << sddl;

    // Wine reports every process as elevated, but keeps no security
    // descriptor of a folder (it reads back a default one) and enforces
    // neither lists nor labels: only Windows shows the folder's own.
    folderIn(dir, [&](PackageFolder& folder) {
        PSECURITY_DESCRIPTOR read = nullptr;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                  GetNamedSecurityInfoW(folder.path().c_str(), SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                                        nullptr, nullptr, nullptr, nullptr, &read));
        const std::string readBack = sddlOf(read);
        LocalFree(read);
        if (elevated() && !underWine()) {
            EXPECT_EQ(start, readBack.substr(0, start.size())) << readBack;
            EXPECT_EQ(label, readBack.substr(readBack.find(')', start.size()))) << readBack;
        }
    });
}

}  // namespace
