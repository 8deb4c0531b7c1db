// Packages written by the publishing tool, read back by the launcher's own reader: names, data,
// CRCs, times and attributes must all survive.
#include <gtest/gtest.h>

#include <vector>

#include "TempDir.h"
#include "support/zip/DosTime.h"
#include "support/zip/UnzipFile.h"
#include "tools/publish/ZipWriter.h"

namespace {

/// 2024-05-17 13:45:30 as a DOS date (high word) and time.
constexpr std::uint32_t kDosTime = (44u << 25 | 5u << 21 | 17u << 16) | (13u << 11 | 45u << 5 | 15u);

struct SourceFile {
    std::string entryName;  ///< "" for a directory entry given by `directory`
    std::string content;
    std::string directory;
};

std::string PseudoRandom(std::size_t size)
{
    std::string bytes(size, '\0');
    std::uint32_t state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

/// Writes `sources` as an archive at `path` (in order) and returns it.
void WriteArchive(const TempDir& dir, const std::string& path, const std::vector<SourceFile>& sources)
{
    kvo::CFile output;
    ASSERT_TRUE(output.Open(path.c_str(), kvo::CFile::modeCreate | kvo::CFile::modeWrite));
    CZipWriter zip(output);
    int n = 0;
    for (const SourceFile& source : sources) {
        if (!source.directory.empty()) {
            zip.AddDirectory(source.directory, kDosTime);
            continue;
        }
        const std::string sourcePath = dir / ("source" + std::to_string(n++));
        WriteWholeFile(sourcePath, source.content);
        kvo::CFile input;
        ASSERT_TRUE(input.Open(sourcePath.c_str(), kvo::CFile::modeRead));
        zip.AddFile(source.entryName, input, kDosTime, CZipWriter::kArchiveAttribute);
    }
    zip.Finish();
    output.Close();
}

const std::vector<SourceFile> kTree = {
    {"", "", "Data/"},
    {"Data/empty.txt", "", ""},
    {"Data/text.txt", std::string(200000, 'k') + "end", ""},       // deflates to almost nothing
    {"Data/noise.bin", PseudoRandom(150000), ""},                   // grows a little when deflated
    {"", "", "Data/sub/"},
    {"Data/sub/说明 & notes.txt", "数据 bytes\r\n", ""},           // GBK name, stored as given
};

}  // namespace

TEST(ZipWriter, ArchiveReadsBackThroughTheLaunchersReader)
{
    TempDir dir;
    const std::string archive = dir / "Data.zip";
    WriteArchive(dir, archive, kTree);

    CUnzipFile reader(archive.c_str());
    ASSERT_EQ(reader.GetEntryCount(), kTree.size());
    std::size_t index = 0;
    do {
        const SourceFile& expected = kTree[index++];
        EntryInfo info;
        char name[256] = {};
        reader.GetEntryInfo(&info, name, sizeof name);
        const bool isDirectory = !expected.directory.empty();
        EXPECT_EQ(name, isDirectory ? expected.directory : expected.entryName);
        EXPECT_EQ(info.dosDateTime, kDosTime);
        EXPECT_EQ(info.time, DosDateTimeToUnix(kDosTime));
        EXPECT_EQ(info.externalAttributes & 0xFFFF,
                  isDirectory ? CZipWriter::kDirectoryAttribute : CZipWriter::kArchiveAttribute);
        EXPECT_EQ(info.method, isDirectory ? 0u : 8u) << name;
        EXPECT_EQ(info.uncompressedSize, expected.content.size()) << name;

        reader.OpenEntry();
        std::string content;
        char block[4096];
        while (const int got = reader.ReadEntry(block, sizeof block))
            content.append(block, static_cast<std::size_t>(got));
        reader.CloseEntry();  // raises badCrc when the stored CRC is wrong
        EXPECT_EQ(content, expected.content) << name;
    } while (reader.MoveToNextEntry());
    EXPECT_EQ(index, kTree.size());
    reader.CloseArchive();
}

TEST(ZipWriter, RefusesWhatTheFormatCannotHold)
{
    TempDir dir;
    kvo::CFile output;
    ASSERT_TRUE(output.Open((dir / "x.zip").c_str(), kvo::CFile::modeCreate | kvo::CFile::modeWrite));
    CZipWriter zip(output);
    EXPECT_THROW(zip.AddDirectory("", kDosTime), kvo::CException);
    EXPECT_THROW(zip.AddDirectory(std::string(70000, 'a') + "/", kDosTime), kvo::CException);
    zip.AddDirectory("ok/", kDosTime);
    zip.Finish();
    EXPECT_THROW(zip.AddDirectory("late/", kDosTime), kvo::CException);
    EXPECT_THROW(zip.Finish(), kvo::CException);
}
