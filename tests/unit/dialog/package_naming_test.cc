// Package file names, setup arguments and the command line that starts the setup.
#include "dialog/package_naming.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(PackageNamingTest, FileNameForTheThreeArgumentForms) {
    EXPECT_EQ(PackageFileName(L"Soft", L""), L"Soft.exe");
    EXPECT_EQ(PackageFileName(L"Soft", L"setup"), L"Soft.exe");
    EXPECT_EQ(PackageFileName(L"Soft", L"setup_1001_77"), L"Soft_1001_77.exe");
    EXPECT_EQ(PackageFileName(L"Soft", L"setup_1001_77_pure"), L"Soft_1001_77_pure.exe");
}

TEST(PackageNamingTest, FileNameReadsNumbersAsStartUpDoes) {
    // Sub-number beyond 32 bits is kept in full, negatives keep their sign.
    EXPECT_EQ(PackageFileName(L"Soft", L"setup_1001_9876543210"), L"Soft_1001_9876543210.exe");
    EXPECT_EQ(PackageFileName(L"Soft", L"x_-5_-7"), L"Soft_-5_-7.exe");
    // Numbers that cannot be read stay 0, but the tail is still there.
    EXPECT_EQ(PackageFileName(L"Soft", L"a_b_c"), L"Soft_0_0.exe");
    EXPECT_EQ(PackageFileName(L"Soft", L"x_12"), L"Soft_12_0.exe");
    // "_pure" is case-sensitive and may sit anywhere, also before the numbers.
    EXPECT_EQ(PackageFileName(L"Soft", L"x_5_7_PURE"), L"Soft_5_7.exe");
    EXPECT_EQ(PackageFileName(L"Soft", L"_pure_5_7"), L"Soft_0_0_pure.exe");
    // Home mode does not change the name.
    EXPECT_EQ(PackageFileName(L"Soft", L"x_5_7_homepg"), L"Soft_5_7.exe");
}

TEST(PackageNamingTest, SubDirectoryCannotLeaveTheFolderOrBreakTheQuotes) {
    EXPECT_EQ(PackageFileName(L"..\\..\\Windows\\evil", L""), L".._.._Windows_evil.exe");
    EXPECT_EQ(PackageFileName(L"a/b:c*d?e\"f<g>h|i", L""), L"a_b_c_d_e_f_g_h_i.exe");
    EXPECT_EQ(PackageFileName(L"新软件 2", L""), L"新软件 2.exe");
    EXPECT_EQ(PackagePath(L"C:\\Users\\Public\\Documents", L"Soft", L"s_1_2_pure"),
              L"C:\\Users\\Public\\Documents\\Soft_1_2_pure.exe");
}

TEST(PackageNamingTest, SetupArgumentsWithAndWithoutRun) {
    EXPECT_EQ(SetupArguments(true, L"D:\\Program Files\\Soft"), L" /S /RUN /D=D:\\Program Files\\Soft");
    EXPECT_EQ(SetupArguments(false, L"D:\\Program Files\\Soft"), L" /S  /D=D:\\Program Files\\Soft");
}

TEST(PackageNamingTest, CommandLineQuotesPathAndKeepsDirectoryLastUnquoted) {
    const std::wstring line = SetupCommandLine(L"C:\\Users\\Public\\Documents\\My Soft.exe",
                                               SetupArguments(false, L"C:\\Program Files\\My Soft"));
    EXPECT_EQ(line, L"\"C:\\Users\\Public\\Documents\\My Soft.exe\" /S  /D=C:\\Program Files\\My Soft");
}

TEST(PackageNamingTest, MainProgramPath) {
    EXPECT_EQ(MainProgramPath(L"D:\\Games\\Soft"), L"D:\\Games\\Soft\\Main.exe");
    EXPECT_EQ(MainProgramPath(L"D:\\"), L"D:\\Main.exe");
}

}  // namespace
}  // namespace installer
