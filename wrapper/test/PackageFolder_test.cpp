#include <windows.h>

#include <sddl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorOf.h"
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

TEST_F(Package, IsHeldAsWrittenOrRefusedWithTheFolderRemoved) {
    tstring folderPath;
    {
        PackageFolder folder(dir);
        folderPath = folder.path();
        EXPECT_EQ(folderPath + L"\\main.msi", folder.addPackage(L"main.msi", "package", 7));
        folder.verify("now");
        EXPECT_EQ("package", readFile(folderPath + L"\\main.msi"));
    }
    EXPECT_FALSE(exists(folderPath));

    for (auto change : {&overwrite, &replace}) {
        TestHooks::setBeforePackageHeld(change);
        EXPECT_THAT(errorOf([&] {
                        PackageFolder folder(dir);
                        folderPath = folder.path();
                        folder.addPackage(L"main.msi", "package", 7);
                    }),
                    HasSubstr("main.msi] was changed by another process before msiexec started"));
        EXPECT_FALSE(exists(folderPath));
    }

    // A writer that stays is refused, and keeps the folder from going: after
    // a few seconds of retries the folder is reported and left.
    TestHooks::setBeforePackageHeld(&keepWriting);
    bmtest::LogCapture log;
    EXPECT_THAT(errorOf([&] {
                    PackageFolder folder(dir);
                    folderPath = folder.path();
                    folder.addPackage(L"main.msi", "package", 7);
                }),
                HasSubstr("main.msi] against changes: another process has it open. System error "
                          "[32]("));
    keptWriter.reset();
    EXPECT_TRUE(log.contains(L"WARNING: [" + folderPath +
                             L"] directory could not be deleted: another process still has a file "
                             L"in it open. It stays behind"));
}

TEST(PrivateFolder, AdmitsSystemAdministratorsAndTheUserOnly) {
    PrivateFolderSecurity security;
    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        security.get()->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
        nullptr));
    const std::string sddl = tstrings::toUtf8(tstring(text));
    LocalFree(text);
    const std::string start = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-";
    EXPECT_EQ(start, sddl.substr(0, start.size()));
    EXPECT_EQ(std::string::npos, sddl.find('(', start.size())) << sddl;
}

}  // namespace
