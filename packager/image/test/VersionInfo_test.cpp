#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ByteView.h"
#include "ErrorOf.h"
#include "Utf16.h"
#include "VersionInfo.h"

namespace {

struct VersionCase {
    const char* text;
    // The fixed information's file version, high and low double words.
    std::uint32_t high;
    std::uint32_t low;
    const char* error;
};

class VersionText : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionText, GivesTheFixedVersionOrSaysWhyNot) {
    image::VersionInfo info;
    const std::string error = bmtest::errorOf([&] { info.setVersion(GetParam().text); });
    EXPECT_THAT(error, testing::HasSubstr(GetParam().error));
    const std::vector<std::uint8_t> bytes = info.bytes();
    // VS_VERSION_INFO's key and padding put the fixed information at 40.
    ASSERT_EQ(image::ByteView::le32(&bytes[40]), 0xfeef04bdu);
    EXPECT_EQ(image::ByteView::le32(&bytes[48]), GetParam().high);
    EXPECT_EQ(image::ByteView::le32(&bytes[52]), GetParam().low);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionText,
    testing::Values(VersionCase{"1.2.3.4", 0x10002, 0x30004, "<no error>"},
                    VersionCase{"2.3.4", 0x20003, 0x40000, "<no error>"},
                    VersionCase{"65535", 0xffff0000, 0, "<no error>"},
                    VersionCase{"65536.1", 0, 0, "has a version field above 65535"},
                    VersionCase{"0000001", 0, 0, "has a version field above 65535"},
                    VersionCase{"1.2.3.4.5", 0, 0, "is no version of up to four numbers"},
                    VersionCase{"1..2", 0, 0, "is no version of up to four numbers"},
                    VersionCase{"1.2.", 0, 0, "is no version of up to four numbers"},
                    VersionCase{"1.2b", 0, 0, "is no version of up to four numbers"},
                    VersionCase{"\xd9\xa1.2", 0, 0, "is no version of up to four numbers"},
                    VersionCase{"", 0, 0, "an empty version"}));

std::u16string utf16Of(const std::vector<std::uint8_t>& bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(image::ByteView::le16(&bytes[i])));
    }
    return text;
}

TEST(VersionInfo, StoresItsStringsInUtf16WithConsistentLengths) {
    image::VersionInfo info;
    info.setString("ProductName", "Caf\xc3\xa9 \xf0\x9f\x98\x80");
    info.setString("CompanyName", "First");
    info.setString("CompanyName", "Second");
    const std::vector<std::uint8_t> bytes = info.bytes();
    EXPECT_EQ(image::ByteView::le16(&bytes[0]), bytes.size());
    const std::u16string text = utf16Of(bytes);
    EXPECT_NE(text.find(u"ProductName"), std::u16string::npos);
    EXPECT_NE(text.find(u"Caf\u00e9 \U0001F600"), std::u16string::npos);
    EXPECT_EQ(text.find(u"First"), std::u16string::npos);
    EXPECT_LT(text.find(u"ProductName"), text.find(u"CompanyName"));
    EXPECT_NE(text.find(u"040904B0"), std::u16string::npos);

    EXPECT_THAT(bmtest::errorOf([&] { info.setString("Comments", std::string(70000, 'x')); }),
                testing::HasSubstr("<no error>"));
    EXPECT_THAT(bmtest::errorOf([&] { info.bytes(); }), testing::HasSubstr("too long"));
}

TEST(Utf16, ConvertsBothWaysAndRefusesBytesThatAreNoUtf8) {
    EXPECT_EQ(image::Utf16::fromUtf8("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"),
              u"a\u00e9\u20ac\U0001F600");
    EXPECT_EQ(image::Utf16::toUtf8(u"a\u00e9\u20ac\U0001F600"),
              "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(image::Utf16::toUtf8(std::u16string(1, char16_t(0xd800))), "\xef\xbf\xbd");
    for (const char* bad : {"\xff", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"}) {
        EXPECT_THAT(bmtest::errorOf([&] { image::Utf16::fromUtf8(bad); }),
                    testing::HasSubstr("not UTF-8"))
            << bad;
    }
}

}  // namespace
