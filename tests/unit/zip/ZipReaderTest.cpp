// The archive reader: finding the end record, walking the central directory, entry fields and
// names, and refusing every archive whose structure is wrong.
#include <gtest/gtest.h>

#include "ZipBuilder.h"
#include "ZipTestSupport.h"
#include "support/zip/UnzipFile.h"

using namespace zipfield;

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kMaxFoundComment = 0xFFFF - kEndRecordSize;  // the search reaches back 65535 bytes
constexpr std::size_t kSmallSecond = 300;  ///< keeps the byte-by-byte loops short

/// Two entries, stored and deflated; `secondSize` bytes that deflate hardly shrinks.
std::vector<ZipEntrySpec> TwoEntries(std::size_t secondSize = 5000)
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

std::vector<std::pair<std::string, std::string>> Expected(const std::vector<ZipEntrySpec>& entries)
{
    std::vector<std::pair<std::string, std::string>> result;
    for (const ZipEntrySpec& entry : entries)
        result.emplace_back(entry.name, entry.data);
    return result;
}

}  // namespace

TEST(ZipReader, ArchivesOfAStandardWriterReadBack)
{
    for (const char* fixture : {"package.zip", "streamed.zip", "unixmade.zip"}) {
        SCOPED_TRACE(fixture);
        CUnzipFile archive(FixturePath(fixture).c_str());
        unsigned entries = 0;
        do {
            EntryInfo info;
            archive.GetEntryInfo(&info);
            EXPECT_EQ(ReadCurrentEntry(archive, 4096).size(), info.uncompressedSize);
            ++entries;
        } while (archive.MoveToNextEntry());
        EXPECT_EQ(entries, archive.GetEntryCount());
        EXPECT_NO_THROW(archive.CloseArchive());
    }
}

// Comments of these lengths put the end signature right before, across and after the start of
// the first search window, and at the very limit of the search.
TEST(ZipReader, EndRecordIsFoundBehindCommentsAndPrefixes)
{
    const struct {
        std::size_t commentLength;
        std::size_t prefixLength;
    } cases[] = {{0, 0}, {1005, 0}, {1006, 0}, {1007, 0}, {1008, 0}, {1009, 0}, {2030, 0},
                 {2031, 0}, {kMaxFoundComment, 0}, {0, 4096}, {1007, 70000}, {kMaxFoundComment, 100}};
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

// Fields come from the central record. A buffer as large as a text gets it without terminator;
// one byte more gets the terminator.
TEST(ZipReader, EntryFieldsAndTextsComeFromTheCentralRecord)
{
    ZipEntrySpec entry{"info.txt", "content"};
    entry.externalAttributes = 0x81A40021;
    entry.extra = std::string("\x34\x12\x03\x00xyz", 7);
    entry.comment = "entry comment";
    ArchiveFile file(BuildZip({entry}));
    CUnzipFile archive(file.path.c_str());
    EntryInfo info;
    archive.GetEntryInfo(&info);
    EXPECT_EQ(info.method, 0u);
    EXPECT_EQ(info.crc32, Crc32Of("content"));
    EXPECT_EQ(info.compressedSize, 7u);
    EXPECT_EQ(info.uncompressedSize, 7u);
    EXPECT_EQ(info.nameLength, 8u);
    EXPECT_EQ(info.extraLength, 7u);
    EXPECT_EQ(info.commentLength, 13u);
    EXPECT_EQ(info.externalAttributes, 0x81A40021u);
    EXPECT_EQ(info.dosDateTime, entry.dosDateTime);
    EXPECT_NE(info.time, 0);

    const struct {
        std::uint32_t size;
        std::string expected;  // what the buffer holds afterwards, '#' where it was untouched
    } cases[] = {
        {0, "############"},
        {4, "info########"},
        {8, "info.txt####"},
        {9, std::string("info.txt\0###", 12)},
        {12, std::string("info.txt\0###", 12)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::string name(12, '#');
        archive.GetEntryInfo(nullptr, &name[0], c.size);
        EXPECT_EQ(name, c.expected);
    }
    std::string name(12, '#'), extra(8, '#'), comment(16, '#');
    archive.GetEntryInfo(nullptr, &name[0], 2, &extra[0], 3, &comment[0], 14);
    EXPECT_EQ(name, "in##########");
    EXPECT_EQ(extra, "\x34\x12\x03#####");
    EXPECT_EQ(comment, std::string("entry comment\0##", 16));
    archive.GetEntryInfo(nullptr, nullptr, 0, &extra[0], 8);
    EXPECT_EQ(extra, std::string("\x34\x12\x03\x00xyz#", 8));
}

TEST(ZipReader, MissingArchiveRaisesTheFileError)
{
    TempDir dir;
    EXPECT_THROW(CUnzipFile archive((dir / "missing.zip").c_str()), kvo::CFileException);
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
        {"shorter than a signature", "PK\x05"},
        {"no end record", PseudoRandomBytes(70000, 2)},
        {"end signature without its record", valid.substr(0, end + 10)},
        {"empty central directory", emptyDirectory},
        {"entries but no directory", endOnly},
        {"other disk", edited(end + kEndThisDisk, 1, false)},
        {"directory on other disk", edited(end + kEndDirectoryDisk, 1, false)},
        {"entry counts disagree", edited(end + kEndEntriesTotal, 3, false)},
        {"huge entry count", entryCounts(60000)},
        {"directory past the end record", edited(end + kEndDirectorySize, 0x10000, true)},
        {"offset plus size wraps 32 bits", edited(end + kEndDirectoryOffset, 0xFFFFFFF0u, true)},
        {"zip64 entry count", entryCounts(0xFFFF)},
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

// A move that cannot go on keeps the current entry: past the last one, or into a broken second
// record, which is only read when the walk gets there.
TEST(ZipReader, FailedMoveKeepsTheCurrentEntry)
{
    ZipLayout layout;
    const std::string valid = BuildZip(TwoEntries(), std::string(), &layout);
    std::string brokenSecond = valid;
    PutLe32(brokenSecond, layout.centralRecords[1], 0x12345678);
    const struct {
        const char* what;
        std::string bytes;
        std::uint32_t from;
        const char* name;
        int cause;
    } cases[] = {{"past the last", valid, 1, "dir/second.bin", 0},
                 {"broken second record", brokenSecond, 0, "first.txt", CZipException::badZipFile}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveFile file(c.bytes);
        CUnzipFile archive(file.path.c_str());
        ASSERT_TRUE(c.from == 0 || archive.MoveToNextEntry());
        bool moved = true;
        EXPECT_EQ(ZipCause([&] { moved = archive.MoveToNextEntry(); }), c.cause);
        EXPECT_TRUE(c.cause != 0 || !moved);
        EXPECT_EQ(archive.GetEntryIndex(), c.from);
        EXPECT_EQ(CurrentName(archive), c.name);
        archive.MoveToFirstEntry();
        EXPECT_EQ(CurrentName(archive), "first.txt");
    }
}

// Cutting a valid archive after any byte leaves no end record or one that points past the file;
// only a cut inside the archive comment, which no entry depends on, still reads. Bytes taken out
// of the middle shift everything the end record points to: refused, or read as the original.
TEST(ZipReader, EveryTruncationAndEveryHoleFailsCleanly)
{
    const std::vector<ZipEntrySpec> entries = TwoEntries(kSmallSecond);
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
