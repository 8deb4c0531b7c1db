// Unpacking packages over an installation under Wine: the tree, the times, the attributes, and
// what a failing or hostile package leaves behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>

#include "TempDir.h"
#include "ZipBuilder.h"
#include "ZipTestSupport.h"
#include "support/ReplaceFile.h"
#include "support/zip/UnzipFile.h"
#include "update/PackageInstall.h"

using namespace zipfield;

namespace {

constexpr DWORD kCompared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

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

/// The last-write time of `path` as seconds since 1970.
std::int64_t LastWriteSeconds(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? UnixSeconds(data.ftLastWriteTime) : -1;
}

/// A DOS local time as seconds since 1970, through the system's own time zone conversion.
std::int64_t LocalDosTimeSeconds(int year, int month, int day, int hour, int minute, int second)
{
    const SYSTEMTIME local{static_cast<WORD>(year), static_cast<WORD>(month), 0, static_cast<WORD>(day),
                           static_cast<WORD>(hour), static_cast<WORD>(minute), static_cast<WORD>(second), 0};
    SYSTEMTIME utc{};
    FILETIME file{};
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !::SystemTimeToFileTime(&utc, &file))
        return -1;
    return UnixSeconds(file);
}

DWORD ComparedAttributes(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) & kCompared;
}

bool NoTemporaryFileLeft(const FileTree& tree)
{
    return std::none_of(tree.begin(), tree.end(), [](const FileTree::value_type& entry) {
        return entry.first.find(CTempFileBeside::kSuffix) != std::string::npos;
    });
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
TEST(InstallPackage, TreeTimesAndAttributesFollowTheArchive)
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
    const std::string& package = installed[0].install;
    EXPECT_FALSE(FileExists(package + "emptydir")) << "a directory entry alone creates nothing";
    EXPECT_EQ(LastWriteSeconds(package + "readme.txt"), LocalDosTimeSeconds(2021, 6, 15, 13, 45, 30));
    EXPECT_EQ(LastWriteSeconds(package + "bin\\random.dat"), LocalDosTimeSeconds(2019, 12, 31, 23, 59, 58));
    EXPECT_EQ(LastWriteSeconds(package + "docs\\nested\\deep\\leaf.txt"), LocalDosTimeSeconds(2001, 2, 3, 4, 5, 6));
    EXPECT_EQ(ComparedAttributes(package + "hidden.txt"), DWORD{FILE_ATTRIBUTE_HIDDEN});
    EXPECT_EQ(ComparedAttributes(package + "readme.txt"), 0u);
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
    const ZipEntrySpec first{"first.txt", "installed first"}, victim{"data/victim.bin", bigData, true};
    const struct {
        const char* what;
        ZipEdit edit;
    } cases[] = {
        {"CRC mismatch of the last entry", [](std::string& b, const ZipLayout& l) {
             PutBoth(b, l, 1, kLocalCrc, kCentralCrc, 0x12345678);
         }},
        {"corrupt deflate data", [](std::string& b, const ZipLayout& l) { b[l.dataOffsets[1]] = '\x07'; }},
        {"corrupt data deep in the stream", [](std::string& b, const ZipLayout& l) {
             b.replace(l.dataOffsets[1] + 30000, 64, 64, '\xFF');
         }},
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
        EXPECT_TRUE(NoTemporaryFileLeft(InstalledTree()));
    }
}

TEST_F(InstallFixture, TargetsThatCannotBeReplacedFailTheInstallation)
{
    WriteWholeFile(package, BuildZip({{"a.txt", "new a"}, {"locked.txt", "new"}, {"z.txt", "new z"}}));
    WriteWholeFile(install + "locked.txt", "old");
    ::SetFileAttributesA((install + "locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(InstallPackage(package));
    EXPECT_EQ(ReadWholeFile(install + "locked.txt"), "old");
    EXPECT_EQ(ReadWholeFile(install + "a.txt"), "new a");
    EXPECT_FALSE(FileExists(install + "z.txt"));
    EXPECT_TRUE(NoTemporaryFileLeft(InstalledTree()));
    ::SetFileAttributesA((install + "locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

    // A component that exists as a file where a directory is needed.
    WriteWholeFile(package, BuildZip({{"bin/tool.exe", "tool"}}));
    WriteWholeFile(install + "bin", "a file named bin");
    EXPECT_FALSE(InstallPackage(package));
    EXPECT_EQ(ReadWholeFile(install + "bin"), "a file named bin");
}

// Each row: a name that must not be written. The whole package is refused before anything of
// it is written, and nothing appears outside the installation directory.
TEST_F(InstallFixture, HostileNamesWriteNothingAnywhere)
{
    const std::string names[] = {
        "../outside.txt", "..\\outside.txt", "sub/../../outside.txt", "/outside.txt", "\\outside.txt",
        "C:\\outside.txt", "C:outside.txt", "\\\\host\\share\\outside.txt", "\\\\?\\C:\\outside.txt",
        "sub/..", "CON", "nul.txt", "sub/COM1.dat", "LPT9 .x", "file.txt:stream", std::string("a\0b.txt", 7),
        std::string(300, 'n'),
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        WriteWholeFile(package, BuildZip({{"good.txt", "good"}, {name, "evil"}}));
        EXPECT_FALSE(InstallPackage(package));
        EXPECT_EQ(InstalledTree(), (FileTree{}));
        EXPECT_EQ(Tree(root.path()).size(), 2u) << "only Lobby\\ and the package";
    }
}

TEST_F(InstallFixture, ArchivesThatCannotBeOpenedFail)
{
    EXPECT_FALSE(InstallPackage(install + "missing.zip"));
    WriteWholeFile(package, BuildZip({}));
    EXPECT_FALSE(InstallPackage(package));
    WriteWholeFile(package, "not an archive at all");
    EXPECT_FALSE(InstallPackage(package));
    EXPECT_FALSE(InstallPackage("update.zip"));  // no directory to unpack into
    EXPECT_TRUE(InstalledTree().empty());
}

TEST(MakeDirectoryPath, CreatesMissingParentsAndRefusesFiles)
{
    TempDir dir;
    const std::string deep = dir / "a\\b\\c";
    EXPECT_EQ(MakeDirectoryPath(deep.c_str()), 1);
    EXPECT_TRUE(::GetFileAttributesA(deep.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(MakeDirectoryPath(deep.c_str()), 1) << "an existing directory";
    WriteWholeFile(dir / "file", "x");
    EXPECT_EQ(MakeDirectoryPath((dir / "file").c_str()), 0);
    EXPECT_EQ(MakeDirectoryPath((dir / "file\\sub").c_str()), 0);
    EXPECT_FALSE(FileExists(dir / "file\\sub"));
    EXPECT_EQ(MakeDirectoryPath(nullptr), 0);
    EXPECT_EQ(MakeDirectoryPath(""), 0);
    EXPECT_EQ(MakeDirectoryPath((dir / std::string(300, 'd')).c_str()), 0);
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

TEST(SetEntryFileStatus, ClosesTheFileAndStampsItsTimeAndAttributes)
{
    TempDir dir;
    const std::string path = dir / "stamped.txt";
    kvo::CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), kvo::CFile::modeCreate | kvo::CFile::modeWrite));
    file.Write("x", 1);
    EntryInfo info;
    info.time = LocalDosTimeSeconds(2010, 10, 10, 10, 10, 10);
    info.externalAttributes = 0x81A40000u | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
    CUnzipFile::SetEntryFileStatus(file, info);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(LastWriteSeconds(path), info.time);
    EXPECT_EQ(ComparedAttributes(path), DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY});
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}
