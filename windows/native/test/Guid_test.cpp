#include "Guid.h"

#include <gtest/gtest.h>

#include "ErrorHandling.h"

#include <set>
#include <string>

namespace {

const GUID sample = {0x6B29FC40, 0xCA47, 0x1067, {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}};

std::string parseError(const tstring& text) {
    try {
        Guid g(text);
    } catch (const BmError<std::runtime_error>& e) {
        return e.what();
    }
    return "no error";
}

TEST(Guid, AcceptedFormsAllParseToTheSameValue) {
    const tstring forms[] = {
        L"{6B29FC40-CA47-1067-B31D-00DD010662DA}", L"6B29FC40-CA47-1067-B31D-00DD010662DA",
        L"{6B29FC40CA471067B31D00DD010662DA}",     L"6B29FC40CA471067B31D00DD010662DA",
        L"6b29fc40ca471067b31d00dd010662da",
    };
    for (const tstring& form : forms) {
        EXPECT_EQ(Guid(sample), Guid(form)) << tstrings::toUtf8(form);
    }
    // The product-code resource arrives as narrow text.
    EXPECT_EQ(Guid(sample), Guid(std::string("6B29FC40-CA47-1067-B31D-00DD010662DA")));
}

TEST(Guid, MalformedTextFailsShowingWhatWasGiven) {
    // One brace and no dashes: no second brace is added, so the dashes do not
    // fit and the text goes on as it came.
    EXPECT_NE(std::string::npos,
              parseError(L"{6B29FC40CA471067B31D00DD010662DA")
                  .find(" at {anonymous}::initGuid(): "
                        "IIDFromString({6B29FC40CA471067B31D00DD010662DA) failed"));
    EXPECT_NE(std::string::npos,
              parseError(L"6B29FC40CA471067B31D00DD010662D")
                  .find("IIDFromString(6B29FC40CA471067B31D00DD010662D) failed"));
    EXPECT_NE(std::string::npos, parseError(L"").find("IIDFromString() failed"));
    EXPECT_NE(std::string::npos,
              parseError(L"{6B29FC40-CA47-1067-B31D-00DD010662DX}")
                  .find("IIDFromString({6B29FC40-CA47-1067-B31D-00DD010662DX})"));
    EXPECT_NE(std::string::npos, parseError(L"6B29FC40CA471067B31D00DD010662DA00")
                                     .find("IIDFromString(6B29FC40CA471067B31D00DD010662DA00)"));
}

TEST(Guid, StringFlagsApplyInOrder) {
    const Guid zero;
    EXPECT_EQ(L"{00000000-0000-0000-0000-000000000000}", zero.toString());
    EXPECT_EQ(tstring(32, L'0'),
              zero.toString(Guid::WithoutBraces | Guid::WithoutDashes | Guid::Lowercase));

    const Guid g(sample);
    EXPECT_EQ(L"{6B29FC40-CA47-1067-B31D-00DD010662DA}", g.toString());
    EXPECT_EQ(L"{6b29fc40-ca47-1067-b31d-00dd010662da}", g.toString(Guid::Lowercase));
    EXPECT_EQ(L"6B29FC40-CA47-1067-B31D-00DD010662DA", g.toString(Guid::WithoutBraces));
    EXPECT_EQ(L"{6B29FC40CA471067B31D00DD010662DA}", g.toString(Guid::WithoutDashes));
}

TEST(Guid, GeneratedValuesAreDistinctAndSurviveTheirText) {
    std::set<Guid> seen;
    for (int i = 0; i < 50; ++i) {
        const Guid g = Guid::generate();
        EXPECT_NE(Guid(), g);
        EXPECT_EQ(g, Guid(g.toString(Guid::WithoutBraces | Guid::WithoutDashes | Guid::Lowercase)));
        EXPECT_TRUE(seen.insert(g).second);
    }
}

TEST(Guid, OrderFollowsTheTextNotTheBytes) {
    // Data1 lies little-endian in memory: comparing bytes would put `high`
    // first.
    const Guid low(L"{00000001-0000-0000-0000-000000000000}");
    const Guid high(L"{00000100-0000-0000-0000-000000000000}");
    EXPECT_TRUE(low < high);
    EXPECT_FALSE(high < low);
    EXPECT_FALSE(low < low);
    EXPECT_NE(low, high);
}

}  // namespace
