#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "checks/sysinfo.h"
#include "common/text.h"

namespace wayfarer {
namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);

TEST(SystemDescriptionTest, NamesTheTrueVersion) {
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (rtlGetVersion == nullptr) {
        GTEST_SKIP() << "ntdll has no RtlGetVersion";
    }
    OSVERSIONINFOEXW real{};
    real.dwOSVersionInfoSize = sizeof real;
    ASSERT_EQ(rtlGetVersion(&real), 0);
    const std::string description = GetSystemDescription();
    std::cout << "described as: " << description << "\n";
    EXPECT_EQ(description.rfind("Microsoft ", 0), 0u);
    EXPECT_NE(description.find("(build " + std::to_string(real.dwBuildNumber) + ")"), std::string::npos);
    if (real.wProductType == VER_NT_WORKSTATION) {
        const std::string name = real.dwMajorVersion == 10 ? (real.dwBuildNumber >= 22000 ? "Windows 11 " : "Windows 10 ")
                                 : real.dwMajorVersion == 6 && real.dwMinorVersion == 1 ? "Windows 7 "
                                 : "";
        EXPECT_EQ(description.find("Microsoft " + name), 0u);
    }
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    const char* bits = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? " 64位" : " 32位";
    EXPECT_EQ(description.substr(description.size() - std::string(bits).size()), bits);
}

// Each test reads a key of its own under HKLM.
class BrowserVersionTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        key_ = L"Software\\WayfarerTest\\" + Utf8ToWide(info->name());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, key_.c_str());
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hkey_,
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(hkey_);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, key_.c_str());
    }
    void SetString(const std::wstring& text) {
        RegSetValueExW(hkey_, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1) * static_cast<DWORD>(sizeof(wchar_t)));
    }

    std::wstring key_;
    HKEY hkey_ = nullptr;
};

TEST_F(BrowserVersionTest, ReadsTheVersionString) {
    SetString(L"11.0.19041.1");
    EXPECT_EQ(GetBrowserVersion(key_.c_str()), "11.0.19041.1");
}

TEST_F(BrowserVersionTest, IsZeroWithoutAReadableString) {
    EXPECT_EQ(GetBrowserVersion(key_.c_str()), "0");  // no value
    const DWORD number = 11;
    RegSetValueExW(hkey_, L"Version", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    EXPECT_EQ(GetBrowserVersion(key_.c_str()), "0");
    SetString(std::wstring(150, L'9'));  // more than 200 bytes
    EXPECT_EQ(GetBrowserVersion(key_.c_str()), "0");
    EXPECT_EQ(GetBrowserVersion(L"Software\\WayfarerTest\\NoSuchKey"), "0");
}

TEST(BrowserVersionSystemTest, TheSystemsValueIsRead) {
    const std::string version = GetBrowserVersion();
    std::cout << "browser version: " << version << "\n";
    EXPECT_FALSE(version.empty());
}

}  // namespace
}  // namespace wayfarer
