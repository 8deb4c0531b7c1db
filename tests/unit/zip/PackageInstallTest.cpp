// Unpacking packages over an installation under Wine: the tree, the times, the attributes, and
// what a failing or hostile package leaves behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <iterator>
#include <map>

#include "TempDir.h"
#include "ZipBuilder.h"
#include "ZipTestSupport.h"
#include "support/PathGuard.h"
#include "support/zip/UnzipFile.h"
#include "update/PackageInstall.h"

using namespace zipfield;

namespace {

/// The attributes Wine keeps for a file (it reports every file as archived).
constexpr DWORD kCompared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
/// More than one copy buffer, so the entry is written in several pieces before it is stamped.
constexpr std::size_t kLargeEntry = 200000;

using FileTree = std::map<std::string, std::string>;

/// Every file with its content and every directory under `dir` (relative, "\"-separated;
/// directories end with "\").
FileTree Tree(const std::string& dir)
{
    FileTree result;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string path = entry.path().string();
        if (entry.is_directory())
            result[path.substr(dir.size()) + "\\"] = "";
        else
            result[path.substr(dir.size())] = ReadWholeFile(path);
    }
    return result;
}

/// What the archive should leave on disk: its files and the directories they need.
FileTree ExpectedTree(const std::string& package)
{
    FileTree result;
    CUnzipFile archive(package.c_str());
    do {
        std::string name = CurrentName(archive);
        for (char& c : name)
            c = c == '/' ? '\\' : c;
        for (std::size_t cut = name.find('\\'); cut != std::string::npos && cut + 1 < name.size();
             cut = name.find('\\', cut + 1))
            result[name.substr(0, cut + 1)] = "";
        if (name.back() != '\\')
            result[name] = ReadCurrentEntry(archive, 4096);
    } while (archive.MoveToNextEntry());
    return result;
}

/// Whether `path` was last written at the DOS local time given, through the system's own time
/// zone conversion.
bool WrittenAtLocalTime(const std::string& path, WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    const SYSTEMTIME local{year, month, 0, day, hour, minute, second, 0};
    SYSTEMTIME utc{};
    FILETIME expected{};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return ::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) && ::SystemTimeToFileTime(&utc, &expected) &&
           ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
           ::CompareFileTime(&expected, &data.ftLastWriteTime) == 0;
}

DWORD ComparedAttributes(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) & kCompared;
}

/// An installation directory, alone in a throw-away directory, and the package inside it.
struct Installation {
    Installation() { ::CreateDirectoryA(install.c_str(), nullptr); }
    TempDir root;
    std::string install = root / "Lobby\\";
    std::string package = install + "update.zip";

    FileTree InstalledTree() const
    {
        auto tree = Tree(install);
        tree.erase("update.zip");
        return tree;
    }
};

struct InstallFixture : ::testing::Test, Installation {};

}  // namespace

// Archives of a standard writer: a file they do not hold stays, one they hold is replaced.
TEST(InstallPackage, TreesOfAStandardWriterAreInstalledOverTheOldFiles)
{
    const char* const fixtures[] = {"package.zip", "streamed.zip", "unixmade.zip"};  // streamed: data descriptors
    const std::string oldReadme = "an older readme";
    Installation installed[std::size(fixtures)];
    for (std::size_t i = 0; i < std::size(fixtures); ++i) {
        SCOPED_TRACE(fixtures[i]);
        ::CopyFileA(FixturePath(fixtures[i]).c_str(), installed[i].package.c_str(), FALSE);
        WriteWholeFile(installed[i].install + "readme.txt", oldReadme);
        ASSERT_TRUE(InstallPackage(installed[i].package));
        FileTree expected = ExpectedTree(installed[i].package);
        expected.emplace("readme.txt", oldReadme);
        EXPECT_EQ(installed[i].InstalledTree(), expected);
    }
    EXPECT_FALSE(FileExists(installed[0].install + "emptydir")) << "a directory entry alone creates nothing";
    // A Unix mode in the high word, read-only for its maker, is no attribute here.
    EXPECT_EQ(ComparedAttributes(installed[2].install + "tool.sh"), 0u);
    EXPECT_EQ(ReadWholeFile(installed[2].install + "tool.sh"), "#!/bin/sh\necho hello\n");
}

TEST_F(InstallFixture, LeftoverTemporaryFilesGoOnlyFromTheDirectoriesThePackageWrites)
{
    for (const char* dir : {"data", "other"})
        ::CreateDirectoryA((install + dir).c_str(), nullptr);
    const char* const leftovers[] = {"data\\gone.txt.kvotmp", "data\\a.txt.kvotmp", "other\\kept.txt.kvotmp",
                                     "data\\notes.kvotmp.txt"};
    for (const char* name : leftovers)
        WriteWholeFile(install + name, "left by a killed run");
    WriteWholeFile(package, BuildZip({{"data/a.txt", "new a"}}));
    std::string problem;
    ASSERT_TRUE(InstallPackage(package, problem)) << problem;
    EXPECT_FALSE(FileExists(install + "data\\gone.txt.kvotmp")) << "its entry is no longer in the package";
    EXPECT_FALSE(FileExists(install + "data\\a.txt.kvotmp"));
    EXPECT_TRUE(FileExists(install + "other\\kept.txt.kvotmp")) << "a directory the package does not write";
    EXPECT_TRUE(FileExists(install + "data\\notes.kvotmp.txt")) << "not a temporary file";
    EXPECT_TRUE(FileExists(package)) << "the package being installed";
}

TEST_F(InstallFixture, AFailureNamesTheEntryAndTheReason)
{
    std::string package_ = BuildZip({{"ok.txt", "fine"}, {"sub/bad.txt", "will not match"}});
    WriteWholeFile(package, package_);
    ::CreateDirectoryA((install + "sub").c_str(), nullptr);
    ::CreateDirectoryA((install + "sub\\bad.txt").c_str(), nullptr);  // a directory where the file goes
    std::string problem;
    EXPECT_FALSE(InstallPackage(package, problem));
    EXPECT_EQ(problem.rfind("sub/bad.txt ", 0), 0u) << problem;
    WriteWholeFile(package, BuildZip({{"../escape.txt", "x"}}));
    EXPECT_FALSE(InstallPackage(package, problem));
    EXPECT_EQ(problem, "../escape.txt 文件名被拒绝");
}

TEST_F(InstallFixture, PackageInASubdirectoryUnpacksThere)
{
    ::CreateDirectoryA((install + "maps").c_str(), nullptr);
    const std::string inner = install + "maps\\maps.zip";
    WriteWholeFile(inner, BuildZip({{"m1.dat", "map one"}, {"sub/m2.dat", "map two"}}));
    ASSERT_TRUE(InstallPackage(inner));
    EXPECT_EQ(ReadWholeFile(install + "maps\\m1.dat"), "map one");
    EXPECT_EQ(ReadWholeFile(install + "maps\\sub\\m2.dat"), "map two");
    EXPECT_FALSE(FileExists(install + "m1.dat"));
}

// Each row: an entry that cannot be installed. The file it would replace keeps every byte,
// the entry before it stays installed, and no temporary file remains.
TEST_F(InstallFixture, FailingEntryLeavesThePreviousFile)
{
    const std::string bigData = PseudoRandomBytes(40000, 21);
    const ZipTestEntry first{"first.txt", "installed first"}, victim{"data/victim.bin", bigData, true};
    const struct {
        const char* what;
        ZipEdit edit;
    } cases[] = {
        {"CRC mismatch of the last entry", [](std::string& b, const ZipLayout& l) {
             PutBoth(b, l, 1, kLocalCrc, kCentralCrc, 0x12345678);
         }},
        {"corrupt deflate data", [](std::string& b, const ZipLayout& l) { b[l.dataOffsets[1]] = '\x07'; }},
        {"stream shorter than declared", [&](std::string& b, const ZipLayout& l) {
             PutBoth(b, l, 1, kLocalUncompressed, kCentralUncompressed, static_cast<std::uint32_t>(bigData.size() + 1));
         }},
        {"method 12", [](std::string& b, const ZipLayout& l) {
             PutLe16(b, l.localHeaders[1] + kLocalMethod, 12);
             PutLe16(b, l.centralRecords[1] + kCentralMethod, 12);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(package, Edited({first, victim}, c.edit));
        ::CreateDirectoryA((install + "data").c_str(), nullptr);
        WriteWholeFile(install + "data\\victim.bin", "the good old file");
        ::DeleteFileA((install + "first.txt").c_str());

        EXPECT_FALSE(InstallPackage(package));
        EXPECT_EQ(ReadWholeFile(install + "data\\victim.bin"), "the good old file");
        EXPECT_EQ(ReadWholeFile(install + "first.txt"), "installed first");
        EXPECT_EQ(TemporaryFilesBelow(install), std::vector<std::string>{});
    }
}

// Each row: a name that must not be written. The whole package is refused before anything of
// it is written, and nothing appears outside the installation directory.
TEST_F(InstallFixture, HostileNamesWriteNothingAnywhere)
{
    const std::string names[] = {
        "../outside.txt", "..\\outside.txt", "sub/../../outside.txt", "/outside.txt", "\\outside.txt",
        "C:\\outside.txt", "C:outside.txt", "\\\\host\\share\\outside.txt", "\\\\?\\C:\\outside.txt", "sub/..",
        "CON", "sub/COM1.dat", "file.txt:stream", std::string("a\0b.txt", 7),
        std::string(300, 'n'),
        std::string(kPathBufferSize - 1 - install.size(), 'n'),  // fits, but its temporary file does not
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        WriteWholeFile(package, BuildZip({{"good.txt", "good"}, {name, "evil"}}));
        EXPECT_FALSE(InstallPackage(package));
        EXPECT_EQ(InstalledTree(), (FileTree{}));
        EXPECT_EQ(Tree(root.path()).size(), 2u) << "only Lobby\\ and the package";
    }
}

// Names are taken byte for byte in the system's code page (GBK here): "更新\文件.txt".
TEST_F(InstallFixture, ChineseNamesAreWrittenAsStored)
{
    const std::string directory = "\xB8\xFC\xD0\xC2";
    const std::string file = "\xCE\xC4\xBC\xFE.txt";
    WriteWholeFile(package, BuildZip({{directory + "/" + file, "gbk"}}));
    ASSERT_TRUE(InstallPackage(package));
    EXPECT_EQ(ReadWholeFile(install + directory + "\\" + file), "gbk");
}

// Files of an earlier version are replaced: the new ones carry the entry's time (set before the
// move, after the last of several writes) and exactly the entry's attributes, never the old
// file's; directories are made whatever order the entries come in.
TEST_F(InstallFixture, ReplacedFilesTakeTheEntrysTimeAndAttributes)
{
    constexpr std::uint16_t kArchive = FILE_ATTRIBUTE_ARCHIVE;
    ZipTestEntry big{"data/large.bin", PseudoRandomBytes(kLargeEntry, 7), true};
    big.dosDateTime = 0x4A2B5C3Du;  // 2017-01-11 11:33:58
    big.externalAttributes = kArchive;
    ZipTestEntry hidden{"data/settings.ini", "now hidden"};
    hidden.externalAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | kArchive;
    ZipTestEntry shown{"readme.txt", "now shown"};
    shown.externalAttributes = FILE_ATTRIBUTE_READONLY;
    std::vector<ZipTestEntry> entries = {big, hidden, shown};
    for (const char* name : {"b/2.txt", "a/3.txt", "a/x/4.txt", "b/y/z/7.txt"})
        entries.emplace_back(name, name);
    WriteWholeFile(package, BuildZip(entries));
    ::CreateDirectoryA((install + "data").c_str(), nullptr);
    WriteWholeFile(install + "data\\large.bin", "old large");
    WriteWholeFile(install + "data\\settings.ini", "old settings");
    WriteWholeFile(install + "readme.txt", "old readme");
    ::SetFileAttributesA((install + "readme.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    for (int run = 0; run < 2; ++run) {  // the second run replaces what the first one wrote
        SCOPED_TRACE(run);
        ASSERT_TRUE(InstallPackage(package));
        FileTree expected = ExpectedTree(package);
        EXPECT_EQ(InstalledTree(), expected);
        EXPECT_TRUE(WrittenAtLocalTime(install + "data\\large.bin", 2017, 1, 11, 11, 33, 58));
        EXPECT_EQ(ComparedAttributes(install + "data\\large.bin"), 0u);
        EXPECT_EQ(ComparedAttributes(install + "data\\settings.ini"),
                  DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
        EXPECT_EQ(ComparedAttributes(install + "readme.txt"), DWORD{FILE_ATTRIBUTE_READONLY}) << "was hidden";
        ::SetFileAttributesA((install + "readme.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}
