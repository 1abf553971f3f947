#include "WinDll.h"

#include <gtest/gtest.h>

#include <utility>

#include "ErrorOf.h"
#include "FileUtils.h"
#include "WinErrorHandling.h"
#include "WinSysInfo.h"

// Declared only to lend its type to BM_DLL_BIND; the test never links it.
extern "C" int brumletFixtureAnswer(int x);
// Stands in for the header macros that map a name to its W export.
#define FixtureAnswer brumletFixtureAnswer

using bmtest::errorOf;

namespace {

const wchar_t fixtureName[] = L"brumlet_dll_fixture.dll";

tstring fixturePath() {
    return FileUtils::joinPath(FileUtils::dirname(SysInfo::getCurrentModulePath()), fixtureName);
}

bool fixtureLoaded() {
    return GetModuleHandleW(fixtureName) != nullptr;
}

TEST(Dll, BindsExportsByNameWithTheirDeclaredType) {
    const Dll dll(tstrings::MessageBuilder() << fixturePath());
    EXPECT_EQ(fixturePath(), dll.getPath());

    EXPECT_EQ(43, dll.bind<int(int)>("brumletFixtureAnswer")(1));
    auto* answer = BM_DLL_BIND(dll, FixtureAnswer);
    static_assert(std::is_same<decltype(answer), int (*)(int)>::value, "declared type");
    EXPECT_EQ(50, answer(8));

    // SysInfo linked into a library must name the library, not the process.
    wchar_t path[1024];
    const int n = dll.bind<int(wchar_t*, int)>("brumletFixtureModulePath")(path, 1024);
    EXPECT_EQ(fixturePath(), tstring(path, n > 0 ? n : 0));
}

TEST(Dll, MissingExportIsNullOrANamedSystemError) {
    const Dll dll(tstrings::MessageBuilder() << fixturePath());
    EXPECT_EQ(nullptr, dll.getFunction("NoSuchExport", false));

    const std::string expected =
        "GetProcAddress(" + tstrings::toUtf8(fixturePath()) +
        ", NoSuchExport) failed. System error [127](" +
        tstrings::toUtf8(SysError::systemErrorText(127, GetModuleHandleW(L"kernel32.dll"))) + ")";
    const std::string what = errorOf([&] { dll.getFunction("NoSuchExport", true); });
    EXPECT_NE(std::string::npos, what.find(" at Dll::getFunction(): " + expected)) << what;
    EXPECT_EQ(what.size(), what.find(expected) + expected.size()) << what;

    EXPECT_NE(std::string::npos, errorOf([&] { dll.bind<void()>("NoSuchExport"); }).find(expected));
}

TEST(Dll, EveryObjectHoldsItsOwnReference) {
    ASSERT_FALSE(fixtureLoaded());
    // Taking a module by name never loads it.
    const std::string what = errorOf([] { Dll(tstring(fixtureName)); });
    EXPECT_NE(std::string::npos,
              what.find(" at Dll::Dll(): GetModuleHandleExW(" + tstrings::toUtf8(fixtureName) +
                        ") failed. System error [126]"))
        << what;
    {
        Dll byPath(tstrings::MessageBuilder() << fixturePath());
        {
            const Dll byName{tstring(fixtureName)};
            EXPECT_EQ(43, byName.bind<int(int)>("brumletFixtureAnswer")(1));
        }
        ASSERT_TRUE(fixtureLoaded());

        Dll moved(std::move(byPath));
        Dll assigned(tstring(L"kernel32.dll"));
        assigned = std::move(moved);
        {
            // The ones moved from must not give the reference back.
            Dll gone1(std::move(byPath));
            Dll gone2(std::move(moved));
        }
        ASSERT_TRUE(fixtureLoaded());
        EXPECT_EQ(45, assigned.bind<int(int)>("brumletFixtureAnswer")(3));
    }
    EXPECT_FALSE(fixtureLoaded());
}

TEST(Dll, SystemLibrariesComeOnlyFromTheSystemDirectory) {
    const Dll kernel(tstrings::MessageBuilder() << L"kernel32.dll", Dll::System());
    EXPECT_EQ(SysInfo::getSystemDir() + L"\\kernel32.dll", kernel.getPath());
    EXPECT_EQ(GetCurrentProcessId(), BM_DLL_BIND(kernel, GetCurrentProcessId)());

    // The fixture lies next to the executable, where a plain load would find it.
    const std::string what =
        errorOf([] { Dll(tstrings::MessageBuilder() << fixtureName, Dll::System()); });
    EXPECT_NE(std::string::npos, what.find(" at {anonymous}::loadLibrary(): LoadLibraryW(" +
                                           tstrings::toUtf8(SysInfo::getSystemDir()) +
                                           "\\brumlet_dll_fixture.dll) failed. System error [126]"))
        << what;
    EXPECT_FALSE(fixtureLoaded());
}

}  // namespace
