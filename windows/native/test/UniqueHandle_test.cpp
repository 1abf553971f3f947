#include "UniqueHandle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LogCapture.h"

using testing::HasSubstr;

namespace {

// A release that fails runs in a destructor: it must leave one ERROR record
// naming the call and the system's reason, and never raise.
TEST(Owners, FailedReleaseIsLoggedOnceNotRaised) {
    bmtest::LogCapture log;
    {
        UniqueHandle bogus(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7ffffff0)));
        EXPECT_TRUE(static_cast<bool>(bogus));
    }
    const auto errors = log.at(L"ERROR");
    ASSERT_EQ(1u, errors.size());
    const std::string text = tstrings::toUtf8(errors[0].message);
    EXPECT_THAT(text, HasSubstr("Exception with message '"));
    EXPECT_THAT(text, HasSubstr("CloseHandle(0x7ffffff0) failed. System error [6]("));
    EXPECT_THAT(text, HasSubstr("' caught"));
}

TEST(Owners, ReleaseMoveAndResetHandOverExactlyOnce) {
    bmtest::LogCapture log;
    UniqueHandle first(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(first);
    const HANDLE raw = first.get();

    UniqueHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(raw, second.get());
    UniqueHandle& same = second;
    second = std::move(same);
    EXPECT_EQ(raw, second.get());

    second.reset();
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags));
    // Neither kind of "no handle" is ever passed to CloseHandle.
    UniqueHandle(INVALID_HANDLE_VALUE).reset();
    EXPECT_TRUE(log.at(L"ERROR").empty());
}

}  // namespace
