// Installing over an existing installation: times stamped through the still open temporary file
// survive the move, attributes end as the entry asks whatever the replaced file had, and the
// directories are made whatever order the entries come in.
#include <gtest/gtest.h>
#include <windows.h>

#include "TempDir.h"
#include "ZipBuilder.h"
#include "ZipTestSupport.h"
#include "framework/FileStatus.h"
#include "support/zip/UnzipFile.h"
#include "update/PackageInstall.h"

namespace {

/// The attributes Wine keeps for a file (it reports every file as archived).
constexpr DWORD kCompared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr std::uint16_t kArchive = FILE_ATTRIBUTE_ARCHIVE;
constexpr std::uint16_t kHidden = FILE_ATTRIBUTE_HIDDEN;
/// More than one copy buffer, so the entry is written in several pieces before it is stamped.
constexpr std::size_t kLargeEntry = 200000;

DWORD ComparedAttributes(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) & kCompared;
}

FILETIME LastWriteTime(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

/// The modification time of each entry of `package`, as the reader gives it to unpacked files.
std::vector<std::int64_t> EntryTimes(const std::string& package)
{
    std::vector<std::int64_t> times;
    CUnzipFile archive(package.c_str());
    do {
        EntryInfo info;
        archive.GetEntryInfo(&info);
        times.push_back(info.time);
    } while (archive.MoveToNextEntry());
    return times;
}

}  // namespace

// Each row: what a file has and the word asked for. The file ends with what was asked, also when
// the check for an unchanged word lets the call be skipped.
TEST(SetFileAttributeWord, EndsWithTheWordAskedForWhateverTheFileHad)
{
    const struct {
        const char* what;
        DWORD before;
        std::uint16_t asked;
        DWORD after;
    } cases[] = {
        {"hidden file asked for archive only", FILE_ATTRIBUTE_HIDDEN, kArchive, 0},
        {"plain file asked for hidden and system", 0, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"hidden file asked for what it has", FILE_ATTRIBUTE_HIDDEN, kHidden | kArchive, FILE_ATTRIBUTE_HIDDEN},
        {"read-only file asked for nothing", FILE_ATTRIBUTE_READONLY, 0, 0},
        {"plain file asked for read-only", 0, FILE_ATTRIBUTE_READONLY | kArchive, FILE_ATTRIBUTE_READONLY},
        {"system file asked for hidden", FILE_ATTRIBUTE_SYSTEM, kHidden, FILE_ATTRIBUTE_HIDDEN},
    };
    TempDir dir;
    const std::string path = dir / "file.dat";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(path, "x");
        ASSERT_TRUE(::SetFileAttributesA(path.c_str(), c.before ? c.before : FILE_ATTRIBUTE_NORMAL));
        EXPECT_TRUE(kvo::SetFileAttributeWord(path, c.asked));
        EXPECT_EQ(ComparedAttributes(path), c.after);
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    EXPECT_FALSE(kvo::SetFileAttributeWord(dir / "missing.dat", kArchive));
}

// Files of an earlier version are replaced: the new ones carry the entry's time (set before the
// move, after the last of several writes) and the entry's attributes, never the old file's.
TEST(InstallPackage, ReplacedFilesTakeTheEntrysTimeAndAttributes)
{
    TempDir dir;
    const std::string package = dir / "update.zip";
    const std::string large = PseudoRandomBytes(kLargeEntry, 7);
    ZipEntrySpec big{"data/large.bin", large, true};
    big.dosDateTime = 0x4A2B5C3Du;  // 2017-01-11 11:33:58
    big.externalAttributes = kArchive;
    ZipEntrySpec hidden{"data/settings.ini", "now hidden"};
    hidden.externalAttributes = kHidden | kArchive;
    ZipEntrySpec shown{"readme.txt", "now shown"};
    shown.dosDateTime = 0x3C2A1B0Fu;  // 2010-01-10 03:24:30
    shown.externalAttributes = kArchive;
    WriteWholeFile(package, BuildZip({big, hidden, shown}));

    ::CreateDirectoryA((dir / "data").c_str(), nullptr);
    WriteWholeFile(dir / "data\\large.bin", "old large");
    WriteWholeFile(dir / "data\\settings.ini", "old settings");
    WriteWholeFile(dir / "readme.txt", "old readme");
    ::SetFileAttributesA((dir / "readme.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);

    const std::vector<std::int64_t> times = EntryTimes(package);
    for (int run = 0; run < 2; ++run) {  // the second run replaces what the first one wrote
        SCOPED_TRACE(run);
        ASSERT_TRUE(InstallPackage(package));
        EXPECT_EQ(ReadWholeFile(dir / "data\\large.bin"), large);
        EXPECT_EQ(ReadWholeFile(dir / "data\\settings.ini"), "now hidden");
        EXPECT_EQ(ReadWholeFile(dir / "readme.txt"), "now shown");
        EXPECT_EQ(UnixSeconds(LastWriteTime(dir / "data\\large.bin")), times[0]);
        EXPECT_EQ(UnixSeconds(LastWriteTime(dir / "data\\settings.ini")), times[1]);
        EXPECT_EQ(UnixSeconds(LastWriteTime(dir / "readme.txt")), times[2]);
        EXPECT_EQ(ComparedAttributes(dir / "data\\large.bin"), 0u);
        EXPECT_EQ(ComparedAttributes(dir / "data\\settings.ini"), DWORD{FILE_ATTRIBUTE_HIDDEN});
        EXPECT_EQ(ComparedAttributes(dir / "readme.txt"), 0u) << "the replaced file was hidden";
    }
}

// Entries whose directory comes back after others, nests deeper, lies at the top or differs only
// in case: each file lands where its name says.
TEST(InstallPackage, DirectoriesInAnyOrderOfTheEntries)
{
    TempDir dir;
    const std::string package = dir / "update.zip";
    const char* const names[] = {"a/1.txt", "b/2.txt", "a/3.txt", "a/x/4.txt", "5.txt", "A/6.txt", "b/y/z/7.txt",
                                 "a/8.txt"};
    std::vector<ZipEntrySpec> entries;
    for (const char* name : names)
        entries.emplace_back(name, std::string("content of ") + name);
    WriteWholeFile(package, BuildZip(entries));
    ASSERT_TRUE(InstallPackage(package));
    for (const char* name : names) {
        std::string path = dir / name;
        for (char& c : path)
            c = c == '/' ? '\\' : c;
        EXPECT_EQ(ReadWholeFile(path), std::string("content of ") + name) << name;
    }
}
