// Reading entries: stored and deflated data, the local header checks, the CRC check and the
// ways deflate data breaks.
#include <gtest/gtest.h>

#include "ZipBuilder.h"
#include "ZipTestSupport.h"
#include "support/zip/UnzipFile.h"

using namespace zipfield;

namespace {

/// Larger than one 16 KiB input chunk even when deflated.
const std::string kBigData = PseudoRandomBytes(50000, 11);

/// The big entry with only the first part of its deflate data, the headers saying so.
std::string DeflateDataCutShort()
{
    constexpr std::uint32_t kKept = 20000;
    ZipLayout layout;
    const std::string bytes = BuildZip({{"b.bin", kBigData, true}}, std::string(), &layout);
    const std::size_t removed = layout.dataSizes[0] - kKept;
    std::string cut = bytes.substr(0, layout.dataOffsets[0] + kKept) +
                      bytes.substr(layout.dataOffsets[0] + layout.dataSizes[0]);
    const std::size_t central = layout.centralRecords[0] - removed;
    PutLe32(cut, layout.localHeaders[0] + kLocalCompressed, kKept);
    PutLe32(cut, central + kCentralCompressed, kKept);
    PutLe32(cut, layout.endRecord - removed + kEndDirectoryOffset, static_cast<std::uint32_t>(central));
    return cut;
}

}  // namespace

TEST(ZipEntry, ContentIsTheSameInEveryPieceSize)
{
    const std::vector<ZipEntrySpec> entries = {{"stored.txt", "short stored text\r\n"}, {"big.stored", kBigData},
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

// Writers that stream set flag bit 3 and leave zeros in the local header.
TEST(ZipEntry, ZeroLocalSizesNeedFlagBit3)
{
    ZipEntrySpec streamed = ZipEntrySpec("streamed.bin", kBigData, true);
    streamed.dataDescriptor = true;
    ArchiveFile withFlag(BuildZip({streamed}));
    CUnzipFile flagged(withFlag.path.c_str());
    EXPECT_EQ(ReadCurrentEntry(flagged, 128), kBigData);
    ArchiveFile withoutFlag(
        Edited({streamed}, [](std::string& b, const ZipLayout& l) { PutLe16(b, l.localHeaders[0] + kLocalFlags, 0); }));
    CUnzipFile archive(withoutFlag.path.c_str());
    EXPECT_EQ(ZipCause([&] { archive.OpenEntry(); }), CZipException::badZipFile);
}

// Each row: a local header or data that contradicts the central directory.
TEST(ZipEntry, EntriesThatCannotBeReadAsDeclaredAreRefusedAtOpening)
{
    const std::vector<ZipEntrySpec> entries = {ZipEntrySpec("a.txt", "stored bytes", false), ZipEntrySpec("b.bin", kBigData, true)};
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
        {"name lengths disagree", 0, [](std::string& b, const ZipLayout& l) { PutLe16(b, l.localHeaders[0] + kLocalNameLength, 4); }},
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
        {"local header inside the directory", 1, [](std::string& b, const ZipLayout& l) {
             PutLe32(b, l.centralRecords[1] + kCentralLocalOffset, static_cast<std::uint32_t>(l.centralRecords[0]));
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
    const std::vector<ZipEntrySpec> entries = {{"a.bin", kBigData, true}, {"b.txt", "last", false}};
    const auto readToEnd = [](CUnzipFile& archive) {
        archive.OpenEntry();
        ReadOpenEntry(archive, 1000);
    };
    const auto readSome = [](CUnzipFile& archive) {
        archive.OpenEntry();
        char buffer[100];
        ASSERT_EQ(archive.ReadEntry(buffer, sizeof buffer), 100);
    };
    const struct {
        const char* what;
        std::size_t badEntry;
        std::function<void(CUnzipFile&)> read;
        std::function<void(CUnzipFile&)> close;
        int cause;
    } cases[] = {
        {"last entry, archive closed", 1, readToEnd, [](CUnzipFile& a) { a.CloseArchive(); }, CZipException::badCrc},
        {"last entry, entry closed", 1, readToEnd, [](CUnzipFile& a) { a.CloseEntry(); }, CZipException::badCrc},
        {"first entry, next one opened", 0, [readToEnd](CUnzipFile& a) {
             readToEnd(a);
             ASSERT_TRUE(a.MoveToNextEntry());
         }, [](CUnzipFile& a) { a.OpenEntry(); }, CZipException::badCrc},
        {"abandoned entry is not checked", 0, readSome, [](CUnzipFile& a) { a.CloseEntry(); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t bad = c.badEntry;
        ArchiveFile file(Edited(entries, [bad](std::string& b, const ZipLayout& l) {
            PutBoth(b, l, bad, kLocalCrc, kCentralCrc, 0xDEADBEEF);
        }));
        CUnzipFile archive(file.path.c_str());
        ASSERT_TRUE(bad == 0 || archive.MoveToNextEntry());
        c.read(archive);
        EXPECT_EQ(ZipCause([&] { c.close(archive); }), c.cause);
        if (c.cause == 0) {
            EXPECT_EQ(archive.GetZlibBlockCount(), 0u);
        }
    }
}

TEST(ZipEntry, BrokenDeflateDataIsReportedWithZlibsCause)
{
    const std::vector<ZipEntrySpec> entries = {ZipEntrySpec("b.bin", kBigData, true)};
    const struct {
        const char* what;
        std::string bytes;
        int cause;
    } cases[] = {
        {"reserved block type", Edited(entries, [](std::string& b, const ZipLayout& l) { b[l.dataOffsets[0]] = '\x07'; }),
         CZipException::dataError},
        {"deflate data cut short", DeflateDataCutShort(), CZipException::bufError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveFile file(c.bytes);
        CUnzipFile archive(file.path.c_str());
        EXPECT_EQ(ZipCause([&] { ReadCurrentEntry(archive, 128); }), c.cause);
    }
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

TEST(ZipEntry, CallsOutOfOrderAreBadFuncParam)
{
    ArchiveFile file(BuildZip({ZipEntrySpec("a.txt", "abc", false)}));
    CUnzipFile archive(file.path.c_str());
    char buffer[8];
    EXPECT_EQ(ZipCause([&] { archive.ReadEntry(buffer, sizeof buffer); }), CZipException::badFuncParam);
    EXPECT_EQ(ZipCause([&] { archive.CloseEntry(); }), 0);
    archive.OpenEntry();
    EXPECT_EQ(archive.ReadEntry(nullptr, 8), 0);
    EXPECT_EQ(archive.ReadEntry(buffer, 0), 0);
    archive.CloseArchive();
    EXPECT_EQ(ZipCause([&] { archive.CloseArchive(); }), 0);
}

// zlib's blocks of an entry abandoned mid-stream belong to the reader until it goes.
TEST(ZipEntry, AbandonedInflateIsFreedWithTheReader)
{
    ArchiveFile file(BuildZip({ZipEntrySpec("b.bin", kBigData, true), ZipEntrySpec("c.bin", kBigData, true)}));
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
