// Names from packages and manifests: what may be written under the installation and what not.
#include <gtest/gtest.h>

#include "support/PathGuard.h"

TEST(PathGuard, NamesThatStayInsideAreAccepted)
{
    const char* const names[] = {
        "KVOLobby.exe", "data/maps/level1.dat", "data\\maps\\level1.dat", "docs/", "a//b.txt", "./a.txt",
        "a/./b", "..a", "a..", "file..txt", ".hidden", "CONFIG.ini", "console.log", "COM10", "LPT", "NULL.txt",
        "AUXILIARY", "a b/c d.txt", "\xB8\xFC\xD0\xC2.txt",  // a GBK name
    };
    for (const char* name : names)
        EXPECT_TRUE(IsSafeRelativePath(name)) << name;
}

// Each row is a way out of the target directory that an unpacker has let through.
TEST(PathGuard, NamesThatLeaveOrMisleadAreRefused)
{
    const std::string names[] = {
        "", "/etc/passwd", "\\Windows\\win.ini", "C:\\x", "C:x", "c:/x", "\\\\host\\share\\x", "\\\\?\\C:\\x",
        "//host/share", "..", "../x", "..\\x", "a/../../x", "a\\..\\..\\x", "a/..", "a/../b", "...", "a/.../b",
        ". .", ".. ", "a/.. /b", " ", "file.txt:stream", "file.txt::$DATA", std::string("a\0b", 3), "tab\there",
        "CON", "con", "PRN.txt", "aux.tar.gz", "NUL", "nul.", "NUL ", "Com1", "COM9.log", "LPT1", "lpt9.x",
        "CONIN$", "conout$.txt", "dir/CON/file", "dir/aux", "CON .txt", "CON..",
    };
    for (const std::string& name : names)
        EXPECT_FALSE(IsSafeRelativePath(name)) << "\"" << name << "\"";
}

TEST(PathGuard, JoinTurnsSlashesAndRefusesWhatDoesNotFit)
{
    std::string joined = "untouched";
    EXPECT_TRUE(JoinUnderBase("C:\\Game\\", "data/a.txt", joined));
    EXPECT_EQ(joined, "C:\\Game\\data\\a.txt");
    EXPECT_TRUE(JoinUnderBase("C:\\Game", "b.txt", joined));
    EXPECT_EQ(joined, "C:\\Game\\b.txt");

    joined = "untouched";
    EXPECT_FALSE(JoinUnderBase("C:\\Game\\", "../b.txt", joined));
    EXPECT_FALSE(JoinUnderBase("", "b.txt", joined));
    EXPECT_EQ(joined, "untouched");

    const std::string base = "C:\\Game\\";
    const std::string longest(kPathBufferSize - 1 - base.size(), 'n');
    EXPECT_TRUE(JoinUnderBase(base, longest, joined));
    EXPECT_EQ(joined.size(), kPathBufferSize - 1);
    EXPECT_FALSE(JoinUnderBase(base, longest + "n", joined));
}
