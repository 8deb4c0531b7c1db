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

std::vector<ZipEntrySpec> TwoEntries()
{
    ZipEntrySpec first{"first.txt", "the first entry\r\n"};
    ZipEntrySpec second{"dir/second.bin", PseudoRandomBytes(5000, 1)};
    second.deflate = true;
    return {first, second};
}

struct ArchiveFile {
    ScratchDir dir;
    std::string path = dir / "test.zip";
    explicit ArchiveFile(const std::string& bytes) { WriteBytes(path, bytes); }
};

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

TEST(ZipReader, EndRecordBeyondTheSearchReachIsNotFound)
{
    ArchiveFile file(BuildZip(TwoEntries(), std::string(kMaxFoundComment + 1, 'c')));
    EXPECT_EQ(ZipCause([&] { CUnzipFile archive(file.path.c_str()); }), CZipException::badZipFile);
}

TEST(ZipReader, MoveToNextOnTheLastEntryChangesNothing)
{
    ArchiveFile file(BuildZip(TwoEntries()));
    CUnzipFile archive(file.path.c_str());
    ASSERT_TRUE(archive.MoveToNextEntry());
    EXPECT_FALSE(archive.MoveToNextEntry());
    EXPECT_EQ(archive.GetEntryIndex(), 1u);
    EXPECT_EQ(CurrentName(archive), "dir/second.bin");
    archive.MoveToFirstEntry();
    EXPECT_EQ(archive.GetEntryIndex(), 0u);
    EXPECT_EQ(CurrentName(archive), "first.txt");
}

TEST(ZipReader, EntryFieldsComeFromTheCentralRecord)
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
}

// A buffer as large as the name gets it without terminator; one byte more gets the terminator.
TEST(ZipReader, NameAndCommentBuffersFollowTheirSizes)
{
    ZipEntrySpec entry{"name.txt", "x"};
    entry.extra = "EXTRA";
    entry.comment = "a comment";
    ArchiveFile file(BuildZip({entry}));
    CUnzipFile archive(file.path.c_str());
    const struct {
        std::uint32_t size;
        std::string expected;  // what the buffer holds afterwards, '#' where it was untouched
    } cases[] = {
        {0, "############"},
        {4, "name########"},
        {8, "name.txt####"},
        {9, std::string("name.txt\0###", 12)},
        {12, std::string("name.txt\0###", 12)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::string name(12, '#');
        archive.GetEntryInfo(nullptr, &name[0], c.size);
        EXPECT_EQ(name, c.expected);
    }
    std::string name(12, '#'), extra(8, '#'), comment(12, '#');
    archive.GetEntryInfo(nullptr, &name[0], 2, &extra[0], 3, &comment[0], 10);
    EXPECT_EQ(name, "na##########");
    EXPECT_EQ(extra, "EXT#####");
    EXPECT_EQ(comment, std::string("a comment\0##", 12));
    archive.GetEntryInfo(nullptr, nullptr, 0, &extra[0], 8);
    EXPECT_EQ(extra, "EXTRA###");
}

TEST(ZipReader, MissingArchiveRaisesTheFileError)
{
    ScratchDir dir;
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
        {"shorter than a signature", "PK\x05"},
        {"no end record", PseudoRandomBytes(70000, 2)},
        {"end signature without its record", valid.substr(0, end + 10)},
        {"empty central directory", emptyDirectory},
        {"entries but no directory", endOnly},
        {"other disk", edited(end + kEndThisDisk, 1, false)},
        {"directory on other disk", edited(end + kEndDirectoryDisk, 1, false)},
        {"entry counts disagree", edited(end + kEndEntriesTotal, 3, false)},
        {"huge entry count", [&] {
             std::string bytes = edited(end + kEndEntriesOnDisk, 60000, false);
             PutLe16(bytes, end + kEndEntriesTotal, 60000);
             return bytes;
         }()},
        {"directory past the end record", edited(end + kEndDirectorySize, 0x10000, true)},
        {"offset plus size wraps 32 bits", edited(end + kEndDirectoryOffset, 0xFFFFFFF0u, true)},
        {"zip64 entry count", [&] {
             std::string bytes = edited(end + kEndEntriesOnDisk, 0xFFFF, false);
             PutLe16(bytes, end + kEndEntriesTotal, 0xFFFF);
             return bytes;
         }()},
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

// The second record is only read when the walk gets there.
TEST(ZipReader, BrokenSecondRecordFailsTheWalkAndKeepsTheCurrentEntry)
{
    ZipLayout layout;
    std::string bytes = BuildZip(TwoEntries(), std::string(), &layout);
    PutLe32(bytes, layout.centralRecords[1], 0x12345678);
    ArchiveFile file(bytes);
    CUnzipFile archive(file.path.c_str());
    EXPECT_EQ(ZipCause([&] { archive.MoveToNextEntry(); }), CZipException::badZipFile);
    EXPECT_EQ(archive.GetEntryIndex(), 0u);
    EXPECT_EQ(CurrentName(archive), "first.txt");
}

// Cutting a valid archive after any byte leaves no end record or one that points past the file;
// only a cut inside the archive comment, which no entry depends on, still reads.
TEST(ZipReader, EveryTruncationFailsCleanly)
{
    std::vector<ZipEntrySpec> entries = TwoEntries();
    entries[1].data = PseudoRandomBytes(300, 3);
    ZipLayout layout;
    const std::string valid = BuildZip(entries, "comment", &layout);
    const std::size_t commentStart = layout.endRecord + kEndRecordSize;
    ScratchDir dir;
    const std::string path = dir / "cut.zip";
    for (std::size_t length = 0; length < valid.size(); ++length) {
        WriteBytes(path, valid.substr(0, length));
        std::vector<std::pair<std::string, std::string>> read;
        const int cause = ZipCause([&] { read = ReadEverything(path); });
        if (length >= commentStart)
            ASSERT_EQ(read, Expected(entries)) << "cut at " << length;
        else
            ASSERT_EQ(cause, CZipException::badZipFile) << "cut at " << length;
    }
}

// Bytes taken out of the middle shift everything the end record points to.
TEST(ZipReader, EveryHoleFailsCleanlyOrReadsTheOriginal)
{
    std::vector<ZipEntrySpec> entries = TwoEntries();
    entries[1].data = PseudoRandomBytes(300, 3);
    const std::string valid = BuildZip(entries);
    ScratchDir dir;
    const std::string path = dir / "hole.zip";
    constexpr std::size_t kHole = 3;
    for (std::size_t start = 0; start + kHole < valid.size(); ++start) {
        WriteBytes(path, valid.substr(0, start) + valid.substr(start + kHole));
        std::vector<std::pair<std::string, std::string>> read;
        const int cause = ZipCause([&] { read = ReadEverything(path); });
        if (cause == 0)
            EXPECT_EQ(read, Expected(entries)) << "hole at " << start;
        else
            EXPECT_GT(cause, 0) << "hole at " << start;
    }
}
