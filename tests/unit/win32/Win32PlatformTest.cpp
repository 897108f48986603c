// The real backend, run as a Windows exe (under Wine here): the contract
// cases the simulated machine also passes, and the few calls the
// pass-through does more than forward (a looked-up procedure, a library
// loaded on demand, a null argument list).
#include <gtest/gtest.h>

#include "platform/win32/Win32Platform.h"
#include "tests/unit/platform/ContractCases.h"

#include <htmlhelp.h>

#include <cwctype>
#include <memory>
#include <string>

namespace {

struct Win32Factory {
    static std::unique_ptr<Platform> Make() { return std::make_unique<Win32Platform>(); }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, PlatformContract, Win32Factory);

TEST(Win32Platform, LastErrorSurvivesTheVirtualCall) {
    Win32Platform p;
    p.SetLastError(0xdeadbeef);
    EXPECT_EQ(0xdeadbeefu, p.GetLastError());
    p.SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), p.GetLastError());
}

// The program asks for the 64-bit edition through the looked-up procedure; a
// wrong cast or calling convention would crash or garble the answer.
TEST(Win32Platform, Wow64DirectoryThroughTheLookedUpProcedure) {
    Win32Platform p;
    HMODULE kernel = p.GetModuleHandleW(L"kernel32.dll");
    ASSERT_NE(nullptr, kernel);
    FARPROC procedure = p.GetProcAddress(kernel, "GetSystemWow64DirectoryW");
    ASSERT_NE(nullptr, procedure);

    WCHAR buffer[MAX_PATH] = {};
    p.SetLastError(0xdeadbeef);
    const UINT length = p.GetSystemWow64DirectoryW(procedure, buffer, MAX_PATH);
    if (length == 0) {
        // A 32-bit edition (a win32 prefix).
        EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), p.GetLastError());
        return;
    }
    ASSERT_LT(length, static_cast<UINT>(MAX_PATH));
    std::wstring path(buffer, length);
    for (auto& c : path) c = static_cast<WCHAR>(std::towlower(c));
    EXPECT_NE(std::wstring::npos, path.find(L"syswow64")) << "got a path of " << length << " chars";

    // Too small: the size needed, terminator included.
    WCHAR tiny[2] = {};
    EXPECT_EQ(length + 1, p.GetSystemWow64DirectoryW(procedure, tiny, 2));
}

TEST(Win32Platform, FormatMessageWithoutArgumentList) {
    Win32Platform p;
    WCHAR text[256] = {};
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length = p.FormatMessageW(flags, nullptr, ERROR_FILE_NOT_FOUND, 0, text, 256);
    EXPECT_GT(length, 0u);
    EXPECT_EQ(std::wstring(text).size(), length);

    p.SetLastError(0xdeadbeef);
    EXPECT_EQ(0u, p.FormatMessageW(flags, nullptr, 0x2FFFFFFF, 0, text, 256));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), p.GetLastError());
}

// hhctrl.ocx is loaded on the first call; closing all help windows when none
// is open proves the load and the call without opening a window.
TEST(Win32Platform, HtmlHelpLoadsItsLibraryOnDemand) {
    Win32Platform p;
    EXPECT_EQ(nullptr, p.HtmlHelpW(nullptr, nullptr, HH_CLOSE_ALL, 0));
    EXPECT_EQ(nullptr, p.HtmlHelpW(nullptr, nullptr, HH_CLOSE_ALL, 0));
}

TEST(Win32Platform, MissingFileIsAnInvalidHandleWithItsError) {
    Win32Platform p;
    p.SetLastError(0xdeadbeef);
    UniqueHandle file(p, p.CreateFileW(L"C:\\trayhop-no-such-file.txt", GENERIC_READ,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), p.GetLastError());
}
