// Unpacking packages over an installation under Wine: the tree, the times, the attributes, and
// what a failing or hostile package leaves behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>

#include "TempDir.h"
#include "ZipBuilder.h"
#include "ZipTestSupport.h"
#include "support/zip/UnzipFile.h"
#include "update/PackageInstall.h"

using namespace zipfield;

namespace {

constexpr DWORD kCompared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

/// Every file and directory under `dir` (relative, "\"-separated; directories end with "\").
std::map<std::string, std::string> Tree(const std::string& dir, const std::string& prefix = std::string())
{
    std::map<std::string, std::string> result;
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA((dir + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return result;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            result[prefix + name + "\\"] = "";
            for (const auto& entry : Tree(dir, prefix + name + "\\"))
                result.insert(entry);
        } else {
            result[prefix + name] = ReadBytes(dir + prefix + name);
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return result;
}

/// What the archive should leave on disk: its files and the directories they need.
std::map<std::string, std::string> ExpectedTree(const std::string& package)
{
    std::map<std::string, std::string> result;
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
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    ULARGE_INTEGER ticks;
    ticks.LowPart = data.ftLastWriteTime.dwLowDateTime;
    ticks.HighPart = data.ftLastWriteTime.dwHighDateTime;
    return static_cast<std::int64_t>(ticks.QuadPart / 10000000ULL) - 11644473600LL;
}

/// A DOS local time as seconds since 1970, through the system's own time zone conversion.
std::int64_t LocalDosTimeSeconds(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(year);
    local.wMonth = static_cast<WORD>(month);
    local.wDay = static_cast<WORD>(day);
    local.wHour = static_cast<WORD>(hour);
    local.wMinute = static_cast<WORD>(minute);
    local.wSecond = static_cast<WORD>(second);
    SYSTEMTIME utc{};
    FILETIME file{};
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !::SystemTimeToFileTime(&utc, &file))
        return -1;
    ULARGE_INTEGER ticks;
    ticks.LowPart = file.dwLowDateTime;
    ticks.HighPart = file.dwHighDateTime;
    return static_cast<std::int64_t>(ticks.QuadPart / 10000000ULL) - 11644473600LL;
}

bool NoTemporaryFileLeft(const std::map<std::string, std::string>& tree)
{
    for (const auto& entry : tree) {
        if (entry.first.find(".kvotmp") != std::string::npos)
            return false;
    }
    return true;
}

struct InstallFixture : ::testing::Test {
    TempDir root;                              // holds the installation and nothing else
    std::string install = root / "Lobby\\";
    std::string package = install + "update.zip";
    void SetUp() override { ::CreateDirectoryA(install.c_str(), nullptr); }

    std::map<std::string, std::string> InstalledTree()
    {
        auto tree = Tree(install);
        tree.erase("update.zip");
        return tree;
    }
};

}  // namespace

TEST_F(InstallFixture, TreeTimesAndAttributesFollowTheArchive)
{
    ::CopyFileA(FixturePath("package.zip").c_str(), package.c_str(), FALSE);
    WriteBytes(install + "readme.txt", "an older readme that the package replaces");
    ASSERT_TRUE(InstallPackage(package));

    const auto tree = InstalledTree();
    auto expected = ExpectedTree(package);
    expected.erase("emptydir\\");  // a directory entry alone creates nothing
    EXPECT_EQ(tree, expected);
    EXPECT_FALSE(PathExists(install + "emptydir"));
    EXPECT_TRUE(NoTemporaryFileLeft(tree));

    EXPECT_EQ(LastWriteSeconds(install + "readme.txt"), LocalDosTimeSeconds(2021, 6, 15, 13, 45, 30));
    EXPECT_EQ(LastWriteSeconds(install + "bin\\random.dat"), LocalDosTimeSeconds(2019, 12, 31, 23, 59, 58));
    EXPECT_EQ(LastWriteSeconds(install + "docs\\nested\\deep\\leaf.txt"), LocalDosTimeSeconds(2001, 2, 3, 4, 5, 6));
    EXPECT_EQ(::GetFileAttributesA((install + "hidden.txt").c_str()) & kCompared, DWORD{FILE_ATTRIBUTE_HIDDEN});
    // Made by Python with a Unix mode in the high word: nothing of it reaches the attributes.
    EXPECT_EQ(::GetFileAttributesA((install + "readme.txt").c_str()) & kCompared, 0u);
}

TEST_F(InstallFixture, UnixModeInTheHighWordIsNotAnAttribute)
{
    ::CopyFileA(FixturePath("unixmade.zip").c_str(), package.c_str(), FALSE);
    ASSERT_TRUE(InstallPackage(package));
    EXPECT_EQ(::GetFileAttributesA((install + "tool.sh").c_str()) & kCompared, 0u);
    EXPECT_EQ(ReadBytes(install + "tool.sh"), "#!/bin/sh\necho hello\n");
}

TEST_F(InstallFixture, PackageInASubdirectoryUnpacksThere)
{
    ::CreateDirectoryA((install + "maps").c_str(), nullptr);
    const std::string inner = install + "maps\\maps.zip";
    WriteBytes(inner, BuildZip({{"m1.dat", "map one"}, {"sub/m2.dat", "map two"}}));
    ASSERT_TRUE(InstallPackage(inner));
    EXPECT_EQ(ReadBytes(install + "maps\\m1.dat"), "map one");
    EXPECT_EQ(ReadBytes(install + "maps\\sub\\m2.dat"), "map two");
    EXPECT_FALSE(PathExists(install + "m1.dat"));
}

// Each row: an entry that cannot be installed. The file it would replace keeps every byte,
// the entry before it stays installed, and no temporary file remains.
TEST_F(InstallFixture, FailingEntryLeavesThePreviousFile)
{
    const std::string bigData = PseudoRandomBytes(40000, 21);
    ZipEntrySpec first{"first.txt", "installed first"};
    ZipEntrySpec victim{"data/victim.bin", bigData};
    victim.deflate = true;
    using Edit = std::function<void(std::string&, const ZipLayout&)>;
    const struct {
        const char* what;
        Edit edit;
    } cases[] = {
        {"CRC mismatch of the last entry", [](std::string& b, const ZipLayout& l) {
             PutLe32(b, l.localHeaders[1] + kLocalCrc, 0x12345678);
             PutLe32(b, l.centralRecords[1] + kCentralCrc, 0x12345678);
         }},
        {"corrupt deflate data", [](std::string& b, const ZipLayout& l) { b[l.dataOffsets[1]] = '\x07'; }},
        {"corrupt data deep in the stream", [](std::string& b, const ZipLayout& l) {
             for (std::size_t i = 0; i < 64; ++i)
                 b[l.dataOffsets[1] + 30000 + i] = '\xFF';
         }},
        {"stream shorter than declared", [&](std::string& b, const ZipLayout& l) {
             const auto longer = static_cast<std::uint32_t>(bigData.size() + 1);
             PutLe32(b, l.localHeaders[1] + kLocalUncompressed, longer);
             PutLe32(b, l.centralRecords[1] + kCentralUncompressed, longer);
         }},
        {"method 12", [](std::string& b, const ZipLayout& l) {
             PutLe16(b, l.localHeaders[1] + kLocalMethod, 12);
             PutLe16(b, l.centralRecords[1] + kCentralMethod, 12);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ZipLayout layout;
        std::string bytes = BuildZip({first, victim}, std::string(), &layout);
        c.edit(bytes, layout);
        WriteBytes(package, bytes);
        ::CreateDirectoryA((install + "data").c_str(), nullptr);
        WriteBytes(install + "data\\victim.bin", "the good old file");
        ::DeleteFileA((install + "first.txt").c_str());

        EXPECT_FALSE(InstallPackage(package));
        EXPECT_EQ(ReadBytes(install + "data\\victim.bin"), "the good old file");
        EXPECT_EQ(ReadBytes(install + "first.txt"), "installed first");
        EXPECT_TRUE(NoTemporaryFileLeft(InstalledTree()));
    }
}

TEST_F(InstallFixture, TargetsThatCannotBeReplacedFailTheInstallation)
{
    WriteBytes(package, BuildZip({{"a.txt", "new a"}, {"locked.txt", "new"}, {"z.txt", "new z"}}));
    WriteBytes(install + "locked.txt", "old");
    ::SetFileAttributesA((install + "locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(InstallPackage(package));
    EXPECT_EQ(ReadBytes(install + "locked.txt"), "old");
    EXPECT_EQ(ReadBytes(install + "a.txt"), "new a");
    EXPECT_FALSE(PathExists(install + "z.txt"));
    EXPECT_TRUE(NoTemporaryFileLeft(InstalledTree()));
    ::SetFileAttributesA((install + "locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

    // A component that exists as a file where a directory is needed.
    WriteBytes(package, BuildZip({{"bin/tool.exe", "tool"}}));
    WriteBytes(install + "bin", "a file named bin");
    EXPECT_FALSE(InstallPackage(package));
    EXPECT_EQ(ReadBytes(install + "bin"), "a file named bin");
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
        WriteBytes(package, BuildZip({{"good.txt", "good"}, {name, "evil"}}));
        EXPECT_FALSE(InstallPackage(package));
        EXPECT_EQ(InstalledTree(), (std::map<std::string, std::string>{}));
        EXPECT_EQ(Tree(root.path()).size(), 2u) << "only Lobby\\ and the package";
    }
}

TEST_F(InstallFixture, ArchivesThatCannotBeOpenedFail)
{
    EXPECT_FALSE(InstallPackage(install + "missing.zip"));
    WriteBytes(package, BuildZip({}));
    EXPECT_FALSE(InstallPackage(package));
    WriteBytes(package, "not an archive at all");
    EXPECT_FALSE(InstallPackage(package));
    EXPECT_FALSE(InstallPackage("update.zip"));  // no directory to unpack into
    EXPECT_TRUE(InstalledTree().empty());
}

TEST_F(InstallFixture, DataDescriptorsAndNestedDirectories)
{
    ::CopyFileA(FixturePath("streamed.zip").c_str(), package.c_str(), FALSE);
    ASSERT_TRUE(InstallPackage(package));
    EXPECT_EQ(InstalledTree(), ExpectedTree(package));
}

TEST(MakeDirectoryPath, CreatesMissingParentsAndRefusesFiles)
{
    TempDir dir;
    const std::string deep = dir / "a\\b\\c";
    EXPECT_EQ(MakeDirectoryPath(deep.c_str()), 1);
    EXPECT_TRUE(::GetFileAttributesA(deep.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(MakeDirectoryPath(deep.c_str()), 1) << "an existing directory";
    WriteBytes(dir / "file", "x");
    EXPECT_EQ(MakeDirectoryPath((dir / "file").c_str()), 0);
    EXPECT_EQ(MakeDirectoryPath((dir / "file\\sub").c_str()), 0);
    EXPECT_FALSE(PathExists(dir / "file\\sub"));
    EXPECT_EQ(MakeDirectoryPath(nullptr), 0);
    EXPECT_EQ(MakeDirectoryPath(""), 0);
    EXPECT_EQ(MakeDirectoryPath((dir / std::string(300, 'd')).c_str()), 0);
}

// Names are taken byte for byte in the system's code page (GBK here): "更新\文件.txt".
TEST_F(InstallFixture, ChineseNamesAreWrittenAsStored)
{
    const std::string directory = "\xB8\xFC\xD0\xC2";
    const std::string file = "\xCE\xC4\xBC\xFE.txt";
    WriteBytes(package, BuildZip({{directory + "/" + file, "gbk"}}));
    ASSERT_TRUE(InstallPackage(package));
    EXPECT_EQ(ReadBytes(install + directory + "\\" + file), "gbk");
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
    EXPECT_EQ(::GetFileAttributesA(path.c_str()) & kCompared, DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY});
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}
