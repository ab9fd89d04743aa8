// publish_tool's INI text editing: what it is asked to change reads back through the
// installer's own INI reader, and every other byte of the file stays as it was.
#include "ini_edit.h"

#include <gtest/gtest.h>

#include <string>

#include "base/ini_file.h"
#include "base/text.h"

namespace installer {
namespace {

IniFile Read(const std::wstring& text) {
    return IniFile::Parse(WideToUtf8(text));
}

std::wstring Set(const std::wstring& text, const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    IniText edited(text);
    edited.Set(section, key, value);
    return edited.Text();
}

TEST(IniText, LeavesEveryByteOfAnUneditedFileAsItWas) {
    for (const wchar_t* text :
         {L"", L"; only a comment", L"[Info]\r\nFileCount=1\r\n",
          L"  ; lead\n\n[Info]\nA = 1 \n\n\n[File0]\r\nB=2\rC=3", L"[Info]\r\n\r\n\r\n", L"\n\r\n\r"}) {
        EXPECT_EQ(IniText(text).Text(), text);
    }
}

TEST(IniText, ReplacingAKeyChangesThatLineOnly) {
    const std::wstring before =
        L"; description of the package\r\n"
        L"\r\n"
        L"[Info]\r\n"
        L"  ; how many files\r\n"
        L"FileCount = 1   \r\n"
        L"Rate0=50\r\n"
        L"\r\n"
        L"[File0]\r\n"
        L"FileCount=7\r\n";
    const std::wstring after = Set(before, L"Info", L"FileCount", L"2");
    EXPECT_EQ(after,
              L"; description of the package\r\n"
              L"\r\n"
              L"[Info]\r\n"
              L"  ; how many files\r\n"
              L"FileCount=2\r\n"
              L"Rate0=50\r\n"
              L"\r\n"
              L"[File0]\r\n"
              L"FileCount=7\r\n");
    EXPECT_EQ(Read(after).GetInt(L"Info", L"FileCount", 0), 2);
    EXPECT_EQ(Read(after).GetInt(L"File0", L"FileCount", 0), 7);  // the same key in another section stays
}

TEST(IniText, AddsAMissingKeyAfterTheSectionsLastLineAndAMissingSectionAtTheEnd) {
    const std::wstring before = L"[Info]\r\nFileCount=1\r\n\r\n[File0]\r\nurl0=a\r\n";
    IniText edited(before);
    edited.Set(L"Info", L"Rate0", L"80");    // before the blank line that parts the sections
    edited.Set(L"Extra", L"Note", L"one");   // a new section at the end
    edited.Set(L"Extra", L"Other", L"two");  // and its second key below the first
    EXPECT_EQ(edited.Text(),
              L"[Info]\r\nFileCount=1\r\nRate0=80\r\n\r\n[File0]\r\nurl0=a\r\n[Extra]\r\nNote=one\r\nOther=two\r\n");
    EXPECT_EQ(Read(edited.Text()).GetString(L"Extra", L"Other", L""), L"two");

    // An empty file gets the profile functions' own line ending.
    EXPECT_EQ(Set(L"", L"Info", L"FileCount", L"1"), L"[Info]\r\nFileCount=1\r\n");
}

TEST(IniText, FindsSectionsAndKeysInEitherCaseAndKeepsTheFilesSpellingOfTheSection) {
    const std::wstring before = L"[INFO]\r\nfilecount=1\r\n[info]\r\nFileCount=9\r\n";
    const std::wstring after = Set(before, L"Info", L"FileCount", L"3");
    // The first section of the name is the one the installer reads; the second is left alone.
    EXPECT_EQ(after, L"[INFO]\r\nFileCount=3\r\n[info]\r\nFileCount=9\r\n");
    EXPECT_EQ(Read(after).GetInt(L"Info", L"FileCount", 0), 3);
    EXPECT_TRUE(IniText(before).HasSection(L" info "));
    EXPECT_FALSE(IniText(before).HasSection(L"File0"));
    // A line "[" without "]" is a key line to the reader, not a section.
    EXPECT_FALSE(IniText(L"[Info\r\n").HasSection(L"Info"));
}

TEST(IniText, NewLinesEndAsTheFilesLinesEnd) {
    EXPECT_EQ(Set(L"[Info]\nA=1\n", L"Info", L"B", L"2"), L"[Info]\nA=1\nB=2\n");
    EXPECT_EQ(Set(L"[Info]\r\nA=1\r\n", L"Info", L"B", L"2"), L"[Info]\r\nA=1\r\nB=2\r\n");
    // Each old line keeps its own ending in a mixed file; new lines take the first one's.
    EXPECT_EQ(Set(L"[Info]\nA=1\r\nB=1\r\n", L"Info", L"A", L"2"), L"[Info]\nA=2\r\nB=1\r\n");
    EXPECT_EQ(Set(L"[Info]\nA=1\r\n", L"New", L"C", L"3"), L"[Info]\nA=1\r\n[New]\nC=3\n");
}

TEST(IniText, AFileWithoutAFinalLineEndingKeepsThatForm) {
    // The key on the last line is replaced in place.
    EXPECT_EQ(Set(L"[Info]\r\nA=1", L"Info", L"A", L"2"), L"[Info]\r\nA=2");
    // A key added after the last line: the old last line gets its ending, the new one none.
    const std::wstring added = Set(L"[Info]\r\nA=1", L"Info", L"B", L"2");
    EXPECT_EQ(added, L"[Info]\r\nA=1\r\nB=2");
    EXPECT_EQ(Read(added).GetInt(L"Info", L"A", 0), 1);
    EXPECT_EQ(Read(added).GetInt(L"Info", L"B", 0), 2);
    EXPECT_EQ(Set(L"[Info]", L"Info", L"A", L"1"), L"[Info]\r\nA=1");
    // A later duplicate removed from the last line.
    EXPECT_EQ(Set(L"[Info]\nA=1\nB=2\nA=3", L"Info", L"A", L"4"), L"[Info]\nA=4\nB=2");
}

TEST(IniText, AValueMayHoldEqualsSigns) {
    const std::wstring before = L"[File0]\r\nurl0=http://127.0.0.1/get?a=1&b=2\r\nurl1 = x=y\r\n";
    const std::wstring after = Set(before, L"File0", L"url1", L"http://127.0.0.1/?c=3=4");
    EXPECT_EQ(after, L"[File0]\r\nurl0=http://127.0.0.1/get?a=1&b=2\r\nurl1=http://127.0.0.1/?c=3=4\r\n");
    EXPECT_EQ(Read(after).GetString(L"File0", L"url0", L""), L"http://127.0.0.1/get?a=1&b=2");
    EXPECT_EQ(Read(after).GetString(L"File0", L"url1", L""), L"http://127.0.0.1/?c=3=4");
    // A key named like the start of a value is not matched by that value.
    EXPECT_EQ(Set(L"[S]\r\nK=a=b\r\n", L"S", L"a", L"1"), L"[S]\r\nK=a=b\r\na=1\r\n");
}

TEST(IniText, DuplicateKeysLeaveOneValueThatEveryReaderFinds) {
    const std::wstring before =
        L"[Info]\r\nSerial=4\r\n; older\r\nserial = 2\r\nOther=1\r\nSERIAL\r\n[Next]\r\nSerial=8\r\n";
    const std::wstring after = Set(before, L"Info", L"Serial", L"5");
    EXPECT_EQ(after, L"[Info]\r\nSerial=5\r\n; older\r\nOther=1\r\n[Next]\r\nSerial=8\r\n");
    EXPECT_EQ(Read(after).GetInt(L"Info", L"Serial", 0), 5);
}

TEST(IniText, ReplacingASectionsKeysDropsStaleOnesAndKeepsItsComments) {
    const std::wstring before =
        L"[Info]\r\nFileCount=1\r\n\r\n"
        L"[file0]\r\n; mirrors below\r\nBlockCount=3\r\nurl0=a\r\nurl1=b\r\nurl2=c\r\n\r\n"
        L"[Other]\r\nurl0=keep\r\n";
    IniText edited(before);
    edited.ReplaceKeys(L"File0", {{L"BlockCount", L"1"}, {L"url0", L"z"}});
    EXPECT_EQ(edited.Text(),
              L"[Info]\r\nFileCount=1\r\n\r\n"
              L"[file0]\r\n; mirrors below\r\nBlockCount=1\r\nurl0=z\r\n\r\n"
              L"[Other]\r\nurl0=keep\r\n");
    const IniFile ini = Read(edited.Text());
    EXPECT_EQ(ini.GetString(L"File0", L"url1", L"none"), L"none");
    EXPECT_EQ(ini.GetString(L"Other", L"url0", L""), L"keep");

    // A section of comments only gets the keys after them; a missing one at the end.
    IniText comments(L"[File0]\n; nothing yet\n\n[Info]\nFileCount=1");
    comments.ReplaceKeys(L"File0", {{L"BlockCount", L"2"}});
    comments.ReplaceKeys(L"File1", {{L"BlockCount", L"3"}, {L"urlCount", L"0"}});
    EXPECT_EQ(comments.Text(),
              L"[File0]\n; nothing yet\nBlockCount=2\n\n[Info]\nFileCount=1\n[File1]\nBlockCount=3\nurlCount=0");
}

TEST(IniText, AddsASectionBeforeTheOthersOnlyWhenItIsMissing) {
    IniText edited(L"; published by the build\n[File0]\nurl0=a\n");
    edited.AddSectionFirst(L"Info");
    edited.Set(L"Info", L"FileCount", L"1");
    EXPECT_EQ(edited.Text(), L"; published by the build\n[Info]\nFileCount=1\n[File0]\nurl0=a\n");
    edited.AddSectionFirst(L"INFO");
    EXPECT_EQ(edited.Text(), L"; published by the build\n[Info]\nFileCount=1\n[File0]\nurl0=a\n");

    IniText empty(L"; nothing");
    empty.AddSectionFirst(L"Info");
    EXPECT_EQ(empty.Text(), L"; nothing\r\n[Info]");
}

}  // namespace
}  // namespace installer
