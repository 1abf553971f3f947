#include "ErrorHandling.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "Log.h"
#include "LogCapture.h"
#include "WinErrorHandling.h"

namespace {

struct Raiser {
    static int line;
    void raise() const {
        line = __LINE__ + 1;
        BM_THROW_MSG("bad value " << 3);
    }
    ~Raiser() {
        try {
            throw std::bad_alloc();
        }
        BM_GUARD_CATCH
    }
};
int Raiser::line;

namespace inner {
int createDirLine;
void createDir(const tstring& path) {
    SetLastError(ERROR_ACCESS_DENIED);
    createDirLine = __LINE__ + 1;
    BM_THROW_SYSERROR("CreateDirectory(" << path << ") failed", CreateDirectoryW);
}
}  // namespace inner

}  // namespace

TEST(JoinMessages, PunctuationAndBlanks) {
    struct Case {
        const char* first;
        const char* second;
        const char* joined;
    } cases[] = {
        {"", "  second  ", "second"},
        {"   ", "second", "second"},
        {"first", "", "first"},
        {"first  \t", " \n ", "first"},
        {"first", "second", "first. second"},
        {"first  ", "  second \n", "first. second"},
        {"first;", "second", "first; second"},
        {"first.", "second", "first. second"},
        {"first,", "second", "first, second"},
        {"first:", "second", "first: second"},
        {"first!", "second", "first! second"},
        {"first?", "second", "first? second"},
        {"first?  ", "", "first?"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.joined, joinMessages(c.first, c.second))
            << "'" << c.first << "' + '" << c.second << "'";
    }
    // A buffer's terminator caught in the text is no punctuation.
    EXPECT_EQ(std::string("first\0. second", 14),
              joinMessages(std::string("first\0", 6), "second"));
}

TEST(LocatedErrors, MessageCarriesLocationAndBareMessageDoesNot) {
    EXPECT_EQ("a.cpp", sourceFileName("a.cpp"));
    EXPECT_EQ("c.cpp", sourceFileName("x\\y/b\\c.cpp"));
    EXPECT_EQ("d.h", sourceFileName("x/y\\d.h"));

    try {
        Raiser().raise();
        FAIL() << "no error raised";
    } catch (const BmErrorBase& e) {
        EXPECT_STREQ("bad value 3", e.bareMessage());
        const std::string expected = "ErrorHandling_test.cpp(" + std::to_string(Raiser::line) +
                                     ") at {anonymous}::Raiser::raise(): bad value 3";
        EXPECT_EQ(expected, dynamic_cast<const std::exception&>(e).what());
    }
}

TEST(LocatedErrors, SysErrorTextOfAFailedCall) {
    const tstring path = L"C:\\T\\a.tmp\\";
    try {
        inner::createDir(path);
        FAIL() << "no error raised";
    } catch (const BmError<SysError>& e) {
        const std::string bare =
            "CreateDirectory(C:\\T\\a.tmp\\) failed. System error [5](system error 5 (Access "
            "denied))";
        EXPECT_EQ(bare, e.bareMessage());
        EXPECT_EQ("ErrorHandling_test.cpp(" + std::to_string(inner::createDirLine) +
                      ") at {anonymous}::inner::createDir(): " + bare,
                  e.what());
    }
}

TEST(LocatedErrors, CallerOutsideAnyModuleLosesTheDescription) {
    bmtest::LogCapture log;
    int onTheStack = 0;
    const SysError e(tstrings::MessageBuilder("Words"), &onTheStack, 2, nullptr);
    EXPECT_STREQ("Words. Some error [2]", e.what());
    ASSERT_EQ(1u, log.events.size());
    EXPECT_EQ(L"WARNING", log.events[0].levelName);
    EXPECT_EQ(0u, log.events[0].message.find(L"GetModuleHandleEx() failed for "));
    EXPECT_NE(tstring::npos, log.events[0].message.find(L" address."));
}

TEST(LocatedErrors, SystemAndComDescriptions) {
    EXPECT_EQ(L"system error 2 (File not found)", SysError::systemErrorText(2, nullptr));
    EXPECT_EQ(L"No description available", describeMessageId(0x7fffabcd, nullptr));
    EXPECT_EQ(L"COM error 0x80070005 (Access denied)", SysError::comErrorText(E_ACCESSDENIED));
    // Outside the Win32 facility the whole status is looked up.
    EXPECT_EQ(L"COM error 0x80004005 (Call failed)", SysError::comErrorText(E_FAIL));
    EXPECT_STREQ("Some words. System error [5](system error 5 (Access denied))",
                 SysError("Some words", nullptr, 5).what());
}

TEST(Guard, LogsCaughtErrorsAtTheGuard) {
    bmtest::LogCapture log;
    { Raiser r; }
    try {
        Raiser().raise();
    }
    BM_GUARD_CATCH
    const int guardLine = __LINE__ - 1;
    ASSERT_EQ(3u, log.events.size());

    const LogEvent& unknown = log.events[0];
    EXPECT_EQ(L"ERROR", unknown.levelName);
    EXPECT_EQ(L"Unknown exception caught", unknown.message);
    EXPECT_EQ(L"{anonymous}::Raiser::~Raiser", unknown.function);

    const LogEvent& caught = log.events[2];
    EXPECT_EQ(L"ErrorHandling_test.cpp", caught.file);
    EXPECT_EQ(guardLine, caught.line);
    EXPECT_EQ(L"Exception with message 'ErrorHandling_test.cpp(" + std::to_wstring(Raiser::line) +
                  L") at {anonymous}::Raiser::raise(): bad value 3' caught",
              caught.message);
}

TEST(Guard, TextThatIsNoUtf8IsLoggedByteByByte) {
    bmtest::LogCapture log;
    try {
        throw std::runtime_error("C:\\J\xfcrgen");
    }
    BM_GUARD_CATCH
    ASSERT_EQ(1u, log.events.size());
    EXPECT_EQ(L"Exception with message 'C:\\J\u00fcrgen' caught", log.events[0].message);
}

TEST(Guard, LastCrtErrorText) {
    errno = ENOENT;
    EXPECT_EQ("No such file or directory", lastCrtErrorText());
}

namespace {
struct Lookup {
    using Fn = int (*)(int);
    Fn find(const char*) const { return BM_THROW_MSG("x"), nullptr; }
    static const char* name() { return BM_FUNCTION_NAME; }
};
}  // namespace

TEST(LocatedErrors, FunctionNamesAreQualifiedWithoutSignature) {
    EXPECT_STREQ("{anonymous}::Lookup::name", Lookup::name());
    try {
        Lookup().find("a");
        FAIL() << "no error raised";
    } catch (const std::exception& e) {
        EXPECT_NE(nullptr, std::strstr(e.what(), ") at {anonymous}::Lookup::find(): x"))
            << e.what();
    }
    auto lambda = [] { return BM_FUNCTION_NAME; };
    EXPECT_STREQ(
        "LocatedErrors_FunctionNamesAreQualifiedWithoutSignature_Test::TestBody()::<lambda()>",
        lambda());
}
