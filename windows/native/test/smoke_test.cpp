// Proves the chain: cross compiler, static runtime, GoogleTest and Wine together.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>

namespace {

TEST(Toolchain, WideCharactersAreUtf16Units) {
    static_assert(sizeof(wchar_t) == 2, "Windows text is UTF-16");
    const std::wstring text = L"\u00e9\U0001F600";
    EXPECT_EQ(3u, text.size());
}

TEST(Toolchain, UnicodeApiIsSelected) {
    // The W entry points must be the defaults: a build without UNICODE would
    // silently route every Windows call through the ANSI code page.
    EXPECT_EQ(reinterpret_cast<void*>(&::GetTempPath), reinterpret_cast<void*>(&::GetTempPathW));
}

TEST(Toolchain, StandardThreadingPrimitivesWork) {
    std::mutex m;
    std::lock_guard<std::mutex> lock(m);
    SUCCEED();
}

TEST(Platform, ProcessAndTempDirectoryAreReal) {
    EXPECT_NE(0u, ::GetCurrentProcessId());

    wchar_t buf[MAX_PATH + 1] = {};
    const DWORD len = ::GetTempPathW(MAX_PATH + 1, buf);
    ASSERT_GT(len, 0u);
    ASSERT_LE(len, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(L'\\', buf[len - 1]);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(buf));
}

}  // namespace
