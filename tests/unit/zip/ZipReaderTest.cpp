// The archive reader: finding the end record, walking the central directory and refusing every
// archive whose structure is wrong; reading entries: stored and deflated data, the local header
// checks, the CRC check and declared sizes that disagree with the data.
#include <gtest/gtest.h>

#include "ZipBuilder.h"
#include "ZipTestSupport.h"
#include "support/zip/UnzipFile.h"

using namespace zipfield;

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kMaxFoundComment = 0xFFFF - kEndRecordSize;  // the search reaches back 65535 bytes
constexpr std::size_t kSmallSecond = 300;  ///< keeps the byte-by-byte loops short
/// Larger than one 16 KiB input chunk even when deflated.
const std::string kBigData = PseudoRandomBytes(50000, 11);

/// Two entries, stored and deflated; `secondSize` bytes that deflate hardly shrinks.
std::vector<ZipTestEntry> TwoEntries(std::size_t secondSize = 5000)
{
    return {{"first.txt", "the first entry\r\n"}, {"dir/second.bin", PseudoRandomBytes(secondSize, 1), true}};
}

/// Every entry's name and content, in directory order.
std::vector<std::pair<std::string, std::string>> ReadEverything(const std::string& path)
{
    CUnzipFile archive(path.c_str());
    std::vector<std::pair<std::string, std::string>> result;
    do {
        const std::string name = CurrentName(archive);
        result.emplace_back(name, ReadCurrentEntry(archive, 128));
    } while (archive.MoveToNextEntry());
    archive.CloseArchive();
    return result;
}

std::vector<std::pair<std::string, std::string>> Expected(const std::vector<ZipTestEntry>& entries)
{
    std::vector<std::pair<std::string, std::string>> result;
    for (const ZipTestEntry& entry : entries)
        result.emplace_back(entry.name, entry.data);
    return result;
}

}  // namespace

TEST(ZipReader, ArchivesOfAStandardWriterReadBackAndAMissingOneRaisesTheFileError)
{
    for (const char* fixture : {"package.zip", "streamed.zip", "unixmade.zip"}) {
        CUnzipFile archive(FixturePath(fixture).c_str());
        do {
            EntryInfo info;
            archive.GetEntryInfo(&info);
            EXPECT_EQ(ReadCurrentEntry(archive, 4096).size(), info.uncompressedSize) << fixture;
        } while (archive.MoveToNextEntry());
        EXPECT_EQ(archive.GetEntryIndex() + 1, archive.GetEntryCount()) << fixture;
    }
    TempDir dir;
    EXPECT_THROW(CUnzipFile archive((dir / "missing.zip").c_str()), kvo::CFileException);
}

// Comments of these lengths put the end signature right before, across and after the start of
// the first search window, and at the very limit of the search.
TEST(ZipReader, EndRecordIsFoundBehindCommentsAndPrefixes)
{
    const struct {
        std::size_t commentLength;
        std::size_t prefixLength;
    } cases[] = {{0, 0}, {1006, 0}, {1007, 0}, {1008, 0}, {2031, 0}, {kMaxFoundComment, 0}, {1007, 70000}};
    for (const auto& c : cases) {
        SCOPED_TRACE("comment " + std::to_string(c.commentLength) + ", prefix " + std::to_string(c.prefixLength));
        const std::string prefix = PseudoRandomBytes(c.prefixLength, 5);
        const std::string comment(c.commentLength, 'c');
        ArchiveFile file(prefix + BuildZip(TwoEntries(), comment));
        CUnzipFile archive(file.path.c_str());
        EXPECT_EQ(archive.GetBytesBefore(), c.prefixLength);
        archive.CloseArchive();
        EXPECT_EQ(ReadEverything(file.path), Expected(TwoEntries()));
    }
}

// Each row is a structure that some reader has trusted and paid for.
TEST(ZipReader, BrokenStructuresAreRefusedAtOpening)
{
    ZipLayout layout;
    const std::string valid = BuildZip(TwoEntries(), std::string(), &layout);
    const std::size_t end = layout.endRecord;
    const auto edited = [&](std::size_t position, std::uint32_t value, bool wide) {
        std::string bytes = valid;
        wide ? PutLe32(bytes, position, value) : PutLe16(bytes, position, value);
        return bytes;
    };
    const auto entryCounts = [&](std::uint32_t count) {
        std::string bytes = edited(end + kEndEntriesOnDisk, count, false);
        PutLe16(bytes, end + kEndEntriesTotal, count);
        return bytes;
    };
    const std::string endOnly = valid.substr(end);
    std::string emptyDirectory = endOnly;
    PutLe16(emptyDirectory, kEndEntriesOnDisk, 0);
    PutLe16(emptyDirectory, kEndEntriesTotal, 0);
    PutLe32(emptyDirectory, kEndDirectorySize, 0);
    PutLe32(emptyDirectory, kEndDirectoryOffset, 0);
    std::string zip64Locator = valid.substr(0, end) + std::string("PK\x06\x07", 4) + std::string(16, '\0') +
                               valid.substr(end);
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"end record beyond the search reach", BuildZip(TwoEntries(), std::string(kMaxFoundComment + 1, 'c'))},
        {"no end record", PseudoRandomBytes(70000, 2)},
        {"end signature without its record", valid.substr(0, end + 10)},
        {"empty central directory", emptyDirectory},
        {"entries but no directory", endOnly},
        {"other disk", edited(end + kEndThisDisk, 1, false)},
        {"entry counts disagree", edited(end + kEndEntriesTotal, 3, false)},
        {"huge entry count", entryCounts(60000)},
        {"directory past the end record", edited(end + kEndDirectorySize, 0x10000, true)},
        {"offset plus size wraps 32 bits", edited(end + kEndDirectoryOffset, 0xFFFFFFF0u, true)},
        {"zip64 directory offset", edited(end + kEndDirectoryOffset, 0xFFFFFFFFu, true)},
        {"zip64 locator", zip64Locator},
        {"wrong central signature", edited(layout.centralRecords[0], 0x02014B51, true)},
        {"zip64 sizes in the first record", edited(layout.centralRecords[0] + kCentralUncompressed, 0xFFFFFFFFu, true)},
        {"first record runs out of the directory", edited(layout.centralRecords[0] + 28, 0x4000, false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveFile file(c.bytes);
        EXPECT_EQ(ZipCause([&] { CUnzipFile archive(file.path.c_str()); }), CZipException::badZipFile);
    }
}

// A move into a broken second record, which is only read when the walk gets there, raises and
// keeps the current entry.
TEST(ZipReader, FailedMoveKeepsTheCurrentEntry)
{
    ZipLayout layout;
    std::string bytes = BuildZip(TwoEntries(), std::string(), &layout);
    PutLe32(bytes, layout.centralRecords[1], 0x12345678);
    ArchiveFile file(bytes);
    CUnzipFile archive(file.path.c_str());
    EXPECT_EQ(ZipCause([&] { archive.MoveToNextEntry(); }), CZipException::badZipFile);
    EXPECT_EQ(archive.GetEntryIndex(), 0u);
    EXPECT_EQ(ReadCurrentEntry(archive, 64), TwoEntries()[0].data);
}

// Cutting a valid archive after any byte leaves no end record or one that points past the file;
// only a cut inside the archive comment, which no entry depends on, still reads. Bytes taken out
// of the middle shift everything the end record points to: refused, or read as the original.
TEST(ZipReader, EveryTruncationAndEveryHoleFailsCleanly)
{
    const std::vector<ZipTestEntry> entries = TwoEntries(kSmallSecond);
    ZipLayout layout;
    const std::string withComment = BuildZip(entries, "comment", &layout);
    const std::size_t commentStart = layout.endRecord + kEndRecordSize;
    const std::string plain = BuildZip(entries);
    constexpr std::size_t kHole = 3;
    TempDir dir;
    const std::string path = dir / "damaged.zip";
    std::vector<std::pair<std::string, std::string>> read;
    const auto cause = [&](const std::string& bytes) {
        WriteWholeFile(path, bytes);
        read.clear();
        return ZipCause([&] { read = ReadEverything(path); });
    };
    for (std::size_t at = 0; at < withComment.size(); ++at) {
        const int cutCause = cause(withComment.substr(0, at));
        if (at >= commentStart)
            ASSERT_EQ(read, Expected(entries)) << "cut at " << at;
        else
            ASSERT_EQ(cutCause, CZipException::badZipFile) << "cut at " << at;
        if (at + kHole >= plain.size())
            continue;
        const int holeCause = cause(plain.substr(0, at) + plain.substr(at + kHole));
        if (holeCause == 0)
            EXPECT_EQ(read, Expected(entries)) << "hole at " << at;
        else
            EXPECT_GT(holeCause, 0) << "hole at " << at;
    }
}


TEST(ZipEntry, ContentIsTheSameInEveryPieceSize)
{
    const std::vector<ZipTestEntry> entries = {{"stored.txt", "short stored text\r\n"}, {"big.stored", kBigData},
                                               {"big.deflated", kBigData, true}, {"empty", "", true}};
    ArchiveFile file(BuildZip(entries));
    for (const unsigned piece : {1u, 128u, 16384u, 100000u}) {
        SCOPED_TRACE(piece);
        CUnzipFile archive(file.path.c_str());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            ASSERT_TRUE(i == 0 || archive.MoveToNextEntry());
            EXPECT_EQ(ReadCurrentEntry(archive, piece), entries[i].data) << entries[i].name;
        }
        EXPECT_NO_THROW(archive.CloseArchive());
    }
}

// Each row: a local header or data that contradicts the central directory.
TEST(ZipEntry, EntriesThatCannotBeReadAsDeclaredAreRefusedAtOpening)
{
    const std::vector<ZipTestEntry> entries = {ZipTestEntry("a.txt", "stored bytes", false), ZipTestEntry("b.bin", kBigData, true)};
    const struct {
        const char* what;
        std::size_t entry;
        ZipEdit edit;
    } cases[] = {
        {"wrong local signature", 0, [](std::string& b, const ZipLayout& l) { PutLe32(b, l.localHeaders[0], 0x04034B51); }},
        {"method 12", 1, [](std::string& b, const ZipLayout& l) {
             PutLe16(b, l.localHeaders[1] + kLocalMethod, 12);
             PutLe16(b, l.centralRecords[1] + kCentralMethod, 12);
         }},
        {"methods disagree", 1, [](std::string& b, const ZipLayout& l) { PutLe16(b, l.localHeaders[1] + kLocalMethod, 0); }},
        {"CRCs disagree", 1, [](std::string& b, const ZipLayout& l) { PutLe32(b, l.localHeaders[1] + kLocalCrc, 1); }},
        {"compressed sizes disagree", 1, [](std::string& b, const ZipLayout& l) { PutLe32(b, l.localHeaders[1] + kLocalCompressed, 7); }},
        {"stored size larger than its data", 0, [](std::string& b, const ZipLayout& l) {
             PutBoth(b, l, 0, kLocalUncompressed, kCentralUncompressed, 5000);
         }},
        {"data runs into the directory", 1, [](std::string& b, const ZipLayout& l) {
             PutBoth(b, l, 1, kLocalCompressed, kCentralCompressed, static_cast<std::uint32_t>(l.dataSizes[1] + 100));
         }},
        {"local header past the end", 1, [](std::string& b, const ZipLayout& l) {
             PutLe32(b, l.centralRecords[1] + kCentralLocalOffset, 0x7FFFFFF0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveFile file(Edited(entries, c.edit));
        CUnzipFile archive(file.path.c_str());
        for (std::size_t i = 0; i < c.entry; ++i)
            ASSERT_TRUE(archive.MoveToNextEntry());
        EXPECT_EQ(ZipCause([&] { archive.OpenEntry(); }), CZipException::badZipFile);
        EXPECT_EQ(archive.GetZlibBlockCount(), 0u);
    }
}

// A CRC mismatch shows only once the entry was read to its end, wherever it is closed.
TEST(ZipEntry, CrcMismatchIsRaisedWhenAFullyReadEntryCloses)
{
    const std::vector<ZipTestEntry> entries = {{"a.bin", kBigData, true}, {"b.txt", "last", false}};
    ArchiveFile file(Edited(entries, [](std::string& b, const ZipLayout& l) {
        PutBoth(b, l, 0, kLocalCrc, kCentralCrc, 0xDEADBEEF);
        PutBoth(b, l, 1, kLocalCrc, kCentralCrc, 0xDEADBEEF);
    }));
    const auto readToEnd = [](CUnzipFile& archive) {
        archive.OpenEntry();
        ReadOpenEntry(archive, 1000);
    };
    {
        CUnzipFile archive(file.path.c_str());
        archive.OpenEntry();
        char buffer[100];
        ASSERT_EQ(archive.ReadEntry(buffer, sizeof buffer), 100);
        EXPECT_EQ(ZipCause([&] { archive.CloseEntry(); }), 0) << "an abandoned entry is not checked";
        ASSERT_TRUE(archive.MoveToNextEntry());
        readToEnd(archive);
        EXPECT_EQ(ZipCause([&] { archive.CloseArchive(); }), CZipException::badCrc);
    }
    {
        CUnzipFile archive(file.path.c_str());
        readToEnd(archive);
        ASSERT_TRUE(archive.MoveToNextEntry());
        EXPECT_EQ(ZipCause([&] { archive.OpenEntry(); }), CZipException::badCrc) << "closed by the next opening";
    }
    CUnzipFile archive(file.path.c_str());
    ASSERT_TRUE(archive.MoveToNextEntry());
    readToEnd(archive);
    EXPECT_EQ(ZipCause([&] { archive.CloseEntry(); }), CZipException::badCrc);
}

// A declared size that disagrees with the deflate stream: larger gets what the stream holds, then
// 0, and no CRC check; smaller gets never more than declared.
TEST(ZipEntry, ReadsEndAtTheStreamOrTheDeclaredSizeWhicheverComesFirst)
{
    constexpr std::uint32_t kShorter = 1000;
    constexpr unsigned kPiece = 300;
    const struct {
        const char* what;
        std::uint32_t declared;
        std::string expected;
    } cases[] = {
        {"declared larger", static_cast<std::uint32_t>(kBigData.size() + 10), kBigData},
        {"declared smaller", kShorter, kBigData.substr(0, kShorter)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveFile file(Edited({{"b.bin", kBigData, true}}, [&c](std::string& b, const ZipLayout& l) {
            PutBoth(b, l, 0, kLocalUncompressed, kCentralUncompressed, c.declared);
            PutBoth(b, l, 0, kLocalCrc, kCentralCrc, Crc32Of(c.expected));
        }));
        CUnzipFile archive(file.path.c_str());
        archive.OpenEntry();
        EXPECT_EQ(ReadOpenEntry(archive, kPiece), c.expected);
        char buffer[kPiece];
        EXPECT_EQ(archive.ReadEntry(buffer, kPiece), 0);
        EXPECT_EQ(ZipCause([&] { archive.CloseEntry(); }), 0);
    }
}

// zlib's blocks of an entry abandoned mid-stream belong to the reader until it goes.
TEST(ZipEntry, AbandonedInflateIsFreedWithTheReader)
{
    ArchiveFile file(BuildZip({ZipTestEntry("b.bin", kBigData, true), ZipTestEntry("c.bin", kBigData, true)}));
    {
        CUnzipFile archive(file.path.c_str());
        archive.OpenEntry();
        char buffer[100];
        ASSERT_EQ(archive.ReadEntry(buffer, sizeof buffer), 100);
        EXPECT_GT(archive.GetZlibBlockCount(), 0u);
        ASSERT_TRUE(archive.MoveToNextEntry());
        archive.OpenEntry();  // closes the first, unchecked
        ASSERT_EQ(archive.ReadEntry(buffer, sizeof buffer), 100);
    }  // the sanitizer build reports any block left behind
}
