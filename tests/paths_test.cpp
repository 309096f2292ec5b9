#include "scaffold/paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Str(LPCSTR psz) { return psz ? std::string(psz) : std::string("<none>"); }
std::string P(const std::string &path)
{
    // Writes a path with '/' and turns it into the platform's separators.
    std::string out = path;
    for (char &c : out)
        if (c == '/') c = PATH_SEP;
    return out;
}

TEST(Paths, FileNamePart)
{
    EXPECT_EQ(Str(GetFileNamePart(P("/dir/name.avi").c_str())), "name.avi");
    EXPECT_EQ(Str(GetFileNamePart(P("/dir/").c_str())), "");
    EXPECT_EQ(Str(GetFileNamePart("name")), "name");
    EXPECT_EQ(Str(GetFileNamePart("")), "");
    // The result points into the argument.
    std::string path = P("a/b/c.d");
    EXPECT_EQ(GetFileNamePart(path.c_str()), path.c_str() + 4);
}

TEST(Paths, ExtensionPart)
{
    EXPECT_EQ(Str(GetExtensionPart(P("/a.b/name").c_str())), "<none>");
    EXPECT_EQ(Str(GetExtensionPart("name.tar.gz")), "gz");
    EXPECT_EQ(Str(GetExtensionPart("name.")), "");
    EXPECT_EQ(Str(GetExtensionPart(P("/dir/.hidden").c_str())), "hidden");
    EXPECT_EQ(Str(GetExtensionPart("")), "<none>");
}

TEST(Paths, DriveNumber)
{
    EXPECT_EQ(GetDriveNumber("d:\\x"), 4);
    EXPECT_EQ(GetDriveNumber("A:"), 1);
    EXPECT_EQ(GetDriveNumber("Z:\\"), 26);
    EXPECT_EQ(GetDriveNumber("\\\\server\\share\\x"), 0);
    EXPECT_EQ(GetDriveNumber("name.avi"), 0);
    EXPECT_EQ(GetDriveNumber("1:\\x"), 0);
    EXPECT_EQ(GetDriveNumber(""), 0);
    EXPECT_EQ(GetDriveNumber("d"), 0);
}

TEST(Paths, ProgramFolderEndsWithSeparator)
{
    std::string folder = GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), PATH_SEP);
    // Filled once and kept.
    EXPECT_EQ(GetProgramFolder(), GetProgramFolder());
}

#ifdef _WIN32
TEST(Paths, WindowsDrivesAndSeparators)
{
    EXPECT_EQ(Str(GetFileNamePart("C:\\dir\\name.avi")), "name.avi");
    EXPECT_EQ(Str(GetFileNamePart("C:name")), "name");
    EXPECT_EQ(Str(GetFileNamePart("C:\\dir\\")), "");
    // '/' is not a separator for these helpers.
    EXPECT_EQ(Str(GetFileNamePart("C:\\dir\\a/b")), "a/b");
    EXPECT_EQ(Str(GetExtensionPart("C:\\a.b\\name")), "<none>");
}

TEST(Paths, DoubleByteCharactersEndingInBackslash)
{
    // Under code page 932 the second byte of "表" (0x95 0x5C) and of "ソ"
    // (0x83 0x5C) is '\': only real separators split the path.
    ASSERT_EQ(GetACP(), 932u);
    std::string path = "C:\\\x95\x5C\\\x83\x5C\x95\x5C.avi";
    EXPECT_EQ(Str(GetFileNamePart(path.c_str())), "\x83\x5C\x95\x5C.avi");
    std::string folderOnly = "C:\\\x95\x5C";
    EXPECT_EQ(Str(GetFileNamePart(folderOnly.c_str())), "\x95\x5C");
    std::string dotted = "C:\\a.b\\\x95\x5C";
    EXPECT_EQ(Str(GetExtensionPart(dotted.c_str())), "<none>");
}

// Names whose double-byte characters end in the byte of '\' hold no folder
// for it: a codec's driver "表示.dll" is a plain file name.
TEST(Paths, FolderPartsUnderCodePage932)
{
    ASSERT_EQ(GetACP(), 932u);
    struct {
        const char *psz;
        BOOL fFolder;
    } aCases[] = {
        {"\x95\x5C\x8E\xA6.dll", FALSE},  // 表示.dll
        {"\x83\x5C.dll", FALSE},            // ソ.dll
        {"plain.dll", FALSE},
        {"dir\\x.dll", TRUE},
        {"\x95\x5C\\x.dll", TRUE},        // 表\x.dll
        {"dir/x.dll", TRUE},
        {"C:x.dll", TRUE},
    };
    for (const auto &c : aCases) EXPECT_EQ(HasFolderPart(c.psz), c.fFolder) << c.psz;
    const char *pszTable = "a\x95\x5C\\";  // a表\ : bytes 0..4
    const BOOL afStarts[] = {TRUE, TRUE, FALSE, TRUE, TRUE};
    for (size_t i = 0; i < 5; i++) EXPECT_EQ(StartsCharacter(pszTable, i), afStarts[i]) << i;
}
#endif

}  // namespace
