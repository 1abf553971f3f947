#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorOf.h"
#include "LogCapture.h"
#include "Resources.h"
#include "TempDirTest.h"

namespace {

using bmtest::errorOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string payloadBytes(
    "\x00\x01\x02\x03"
    "abc",
    7);

std::string text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(Resource, ReadsDataNamedByTextOrId) {
    const Resource payload(L"payload", RT_RCDATA);
    EXPECT_TRUE(payload.available());
    EXPECT_EQ(7u, payload.size());
    EXPECT_EQ(payloadBytes, text(payload.bytes()));
    DWORD size = 0;
    EXPECT_EQ(payload.rawData(), payload.getPtr(size));
    EXPECT_EQ(7u, size);

    EXPECT_EQ("id seven", text(Resource(7, RT_RCDATA, GetModuleHandleW(nullptr)).bytes()));
    EXPECT_EQ("custom", text(Resource(L"typed", L"CUSTOMTYPE").bytes()));

    const Resource empty(L"empty", RT_RCDATA);
    EXPECT_TRUE(empty.available());
    EXPECT_EQ(0u, empty.size());
    EXPECT_TRUE(empty.bytes().empty());
}

TEST(Resource, MissingResourceNamesItselfInTheError) {
    const Resource missing(L"product_code", RT_RCDATA);
    EXPECT_FALSE(missing.available());
    try {
        missing.bytes();
        FAIL() << "no error raised";
    } catch (const BmErrorBase& e) {
        EXPECT_THAT(e.bareMessage(),
                    StartsWith("cannot find resource (name='product_code', type='#10'). "
                               "System error [1814]"));
    }
    EXPECT_THAT(errorOf([] { Resource(8, RT_RCDATA).size(); }),
                HasSubstr("cannot find resource (name='#8', type='#10')"));

    // The caller's text need not outlive the object.
    std::wstring name = L"gone";
    const Resource byText(name.c_str(), L"CUSTOMTYPE");
    name = L"xxxx";
    EXPECT_EQ("cannot load resource (name='gone', type='CUSTOMTYPE')",
              byText.errorText("cannot load resource"));
}

class ResourceFile : public bmtest::TempDirTest {};

TEST_F(ResourceFile, SaveReplacesTheFileAndMissingDataTouchesNothing) {
    const tstring target = path(L"main.msi");
    Resource(L"payload", RT_RCDATA).saveToFile(target);
    EXPECT_EQ(payloadBytes, readFile(target));

    Resource(L"empty", RT_RCDATA).saveToFile(target);
    EXPECT_EQ("", readFile(target));

    EXPECT_THROW(Resource(L"product_code", RT_RCDATA).saveToFile(path(L"other.msi")),
                 std::runtime_error);
    EXPECT_EQ(tstring_array{L"main.msi"}, names(dir));
}

TEST(StringResource, FindsEntriesInTheirBlock) {
    EXPECT_EQ(L"one", StringResource(1).string());
    EXPECT_EQ(L"seventeen", StringResource(17).string());
    EXPECT_EQ(L"gr\u00fc\u00dfe", StringResource(19).string());
    EXPECT_EQ(L"last", StringResource(31).string());
    // Undefined ids inside a defined block are empty entries, not errors.
    EXPECT_EQ(L"", StringResource(18).string());
    EXPECT_EQ(L"", StringResource(0).string());
}

TEST(StringResource, RefusesToReadPastADamagedBlock) {
    for (WORD id : {48, 49, 63}) {
        EXPECT_THAT(errorOf([id] { StringResource(id).string(); }),
                    HasSubstr("): damaged string table block (name='#" + std::to_string(id) +
                              "', type='#6')"));
    }
}

TEST(StringResource, NoThrowFormLogsAndFallsBack) {
    bmtest::LogCapture log;
    EXPECT_EQ(L"seventeen", StringResource(17).string(std::nothrow, L"fallback"));
    EXPECT_TRUE(log.events.empty());

    // Ids 32 to 47 form block 3, which does not exist.
    EXPECT_EQ(L"fallback", StringResource(40).string(std::nothrow, L"fallback"));
    ASSERT_EQ(1u, log.events.size());
    EXPECT_THAT(log.lines()[0], StartsWith(L"ERROR: Exception with message '"));
    EXPECT_THAT(log.lines()[0], HasSubstr(L"cannot find resource (name='#40', type='#6')"));
}

}  // namespace
