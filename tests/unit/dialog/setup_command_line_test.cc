// The demo setup reads back exactly what the installer's command line carries.
#include "setup_command_line.h"

#include <gtest/gtest.h>

#include "dialog/package_naming.h"

namespace installer::demo {
namespace {

TEST(SetupCommandLineTest, RoundTripsTheInstallersCommandLine) {
    for (bool run : {true, false}) {
        const std::wstring dir = L"C:\\Program Files (x86)\\My Soft";
        const std::wstring line =
            SetupCommandLine(L"C:\\Users\\Public\\Documents\\My Soft_1_2.exe", SetupArguments(run, dir));
        const SetupSwitches switches = ParseSetupCommandLine(line);
        EXPECT_TRUE(switches.silent);
        EXPECT_EQ(switches.run, run);
        ASSERT_TRUE(switches.install_dir.has_value());
        EXPECT_EQ(*switches.install_dir, dir);
    }
}

TEST(SetupCommandLineTest, SwitchesInsideTheQuotedProgramOrAfterDirAreNotSwitches) {
    SetupSwitches s = ParseSetupCommandLine(L"\"C:\\a /S /RUN\\setup.exe\" /D=D:\\x /RUN");
    EXPECT_FALSE(s.silent);
    EXPECT_FALSE(s.run);
    ASSERT_TRUE(s.install_dir.has_value());
    EXPECT_EQ(*s.install_dir, L"D:\\x /RUN");
}

TEST(SetupCommandLineTest, MissingOrEmptyDirectoryAndCaseSensitiveSwitches) {
    SetupSwitches s = ParseSetupCommandLine(L"setup.exe /s /run /D=   ");
    EXPECT_FALSE(s.silent);
    EXPECT_FALSE(s.run);
    EXPECT_FALSE(s.install_dir.has_value());
    EXPECT_FALSE(ParseSetupCommandLine(L"setup.exe /S").install_dir.has_value());
    EXPECT_FALSE(ParseSetupCommandLine(L"").install_dir.has_value());
    // A shell that quotes the whole switch.
    EXPECT_EQ(ParseSetupCommandLine(L"setup.exe /S \"/D=C:\\My Dir\"").install_dir.value_or(L""), L"C:\\My Dir");
    // "/DIR=x" is not "/D=".
    EXPECT_FALSE(ParseSetupCommandLine(L"setup.exe /DIR=x").install_dir.has_value());
    // An unquoted program path ends at its first blank.
    EXPECT_TRUE(ParseSetupCommandLine(L"setup.exe\t/S\t/D=E:\\").silent);
}

}  // namespace
}  // namespace installer::demo
