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

struct ArchiveFile {
    ScratchDir dir;
    std::string path = dir / "entry.zip";
    explicit ArchiveFile(const std::string& bytes) { WriteBytes(path, bytes); }
};

ZipEntrySpec Entry(const std::string& name, const std::string& data, bool deflate)
{
    ZipEntrySpec entry{name, data};
    entry.deflate = deflate;
    return entry;
}

/// The archive of `entries` after `edit` changed its bytes.
std::string Edited(const std::vector<ZipEntrySpec>& entries,
                   const std::function<void(std::string&, const ZipLayout&)>& edit)
{
    ZipLayout layout;
    std::string bytes = BuildZip(entries, std::string(), &layout);
    edit(bytes, layout);
    return bytes;
}

/// Sets a 32-bit field in the local header and the central record of entry `index`.
void PutBoth(std::string& bytes, const ZipLayout& layout, std::size_t index, std::size_t localField,
             std::size_t centralField, std::uint32_t value)
{
    PutLe32(bytes, layout.localHeaders[index] + localField, value);
    PutLe32(bytes, layout.centralRecords[index] + centralField, value);
}

/// The big entry with only the first part of its deflate data, the headers saying so.
std::string DeflateDataCutShort()
{
    constexpr std::uint32_t kKept = 20000;
    ZipLayout layout;
    const std::string bytes = BuildZip({Entry("b.bin", kBigData, true)}, std::string(), &layout);
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
    const std::string text = "short stored text\r\n";
    ArchiveFile file(BuildZip({Entry("stored.txt", text, false), Entry("big.stored", kBigData, false),
                               Entry("big.deflated", kBigData, true), Entry("empty", "", true)}));
    for (const unsigned piece : {1u, 128u, 16384u, 100000u}) {
        SCOPED_TRACE(piece);
        CUnzipFile archive(file.path.c_str());
        EXPECT_EQ(ReadCurrentEntry(archive, piece), text);
        ASSERT_TRUE(archive.MoveToNextEntry());
        EXPECT_EQ(ReadCurrentEntry(archive, piece), kBigData);
        ASSERT_TRUE(archive.MoveToNextEntry());
        EXPECT_EQ(ReadCurrentEntry(archive, piece), kBigData);
        ASSERT_TRUE(archive.MoveToNextEntry());
        EXPECT_EQ(ReadCurrentEntry(archive, piece), "");
        EXPECT_NO_THROW(archive.CloseArchive());
    }
}

// Writers that stream set flag bit 3 and leave zeros in the local header.
TEST(ZipEntry, ZeroLocalSizesNeedFlagBit3)
{
    ZipEntrySpec streamed = Entry("streamed.bin", kBigData, true);
    streamed.dataDescriptor = true;
    {
        ArchiveFile file(BuildZip({streamed}));
        CUnzipFile archive(file.path.c_str());
        EXPECT_EQ(ReadCurrentEntry(archive, 128), kBigData);
    }
    ArchiveFile withoutFlag(Edited({streamed}, [](std::string& bytes, const ZipLayout& layout) {
        PutLe16(bytes, layout.localHeaders[0] + kLocalFlags, 0);
    }));
    CUnzipFile archive(withoutFlag.path.c_str());
    EXPECT_EQ(ZipCause([&] { archive.OpenEntry(); }), CZipException::badZipFile);
}

// Each row: a local header or data that contradicts the central directory.
TEST(ZipEntry, EntriesThatCannotBeReadAsDeclaredAreRefusedAtOpening)
{
    const std::vector<ZipEntrySpec> entries = {Entry("a.txt", "stored bytes", false), Entry("b.bin", kBigData, true)};
    using Edit = std::function<void(std::string&, const ZipLayout&)>;
    const struct {
        const char* what;
        std::size_t entry;
        Edit edit;
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
    const std::vector<ZipEntrySpec> entries = {Entry("a.bin", kBigData, true), Entry("b.txt", "last", false)};
    const auto badCrc = [&](std::size_t index) {
        return Edited(entries, [index](std::string& b, const ZipLayout& l) {
            PutBoth(b, l, index, kLocalCrc, kCentralCrc, 0xDEADBEEF);
        });
    };
    const auto readToEnd = [](CUnzipFile& archive) {
        archive.OpenEntry();
        std::vector<char> buffer(1000);
        while (archive.ReadEntry(buffer.data(), 1000) > 0) {
        }
    };
    {
        ArchiveFile file(badCrc(1));
        CUnzipFile archive(file.path.c_str());
        ASSERT_TRUE(archive.MoveToNextEntry());
        readToEnd(archive);
        EXPECT_EQ(ZipCause([&] { archive.CloseArchive(); }), CZipException::badCrc);
    }
    {
        ArchiveFile file(badCrc(1));
        CUnzipFile archive(file.path.c_str());
        ASSERT_TRUE(archive.MoveToNextEntry());
        readToEnd(archive);
        EXPECT_EQ(ZipCause([&] { archive.CloseEntry(); }), CZipException::badCrc);
    }
    {
        ArchiveFile file(badCrc(0));
        CUnzipFile archive(file.path.c_str());
        readToEnd(archive);
        ASSERT_TRUE(archive.MoveToNextEntry());
        EXPECT_EQ(ZipCause([&] { archive.OpenEntry(); }), CZipException::badCrc);
    }
    {
        ArchiveFile file(badCrc(0));
        CUnzipFile archive(file.path.c_str());
        archive.OpenEntry();
        char buffer[100];
        ASSERT_EQ(archive.ReadEntry(buffer, sizeof buffer), 100);
        EXPECT_EQ(ZipCause([&] { archive.CloseEntry(); }), 0) << "an abandoned entry is not checked";
        EXPECT_EQ(archive.GetZlibBlockCount(), 0u);
    }
}

TEST(ZipEntry, BrokenDeflateDataIsReportedWithZlibsCause)
{
    const std::vector<ZipEntrySpec> entries = {Entry("b.bin", kBigData, true)};
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

// Declared larger than the deflate stream: what the stream holds, then 0, and no CRC check.
TEST(ZipEntry, StreamEndingBeforeTheDeclaredSizeReturnsWhatItHolds)
{
    ArchiveFile file(Edited({Entry("b.bin", kBigData, true)}, [](std::string& b, const ZipLayout& l) {
        PutBoth(b, l, 0, kLocalUncompressed, kCentralUncompressed, static_cast<std::uint32_t>(kBigData.size() + 10));
    }));
    CUnzipFile archive(file.path.c_str());
    archive.OpenEntry();
    std::string content;
    std::vector<char> buffer(4096);
    for (int count; (count = archive.ReadEntry(buffer.data(), 4096)) > 0;)
        content.append(buffer.data(), static_cast<std::size_t>(count));
    EXPECT_EQ(content, kBigData);
    EXPECT_EQ(archive.ReadEntry(buffer.data(), 4096), 0);
    EXPECT_EQ(ZipCause([&] { archive.CloseEntry(); }), 0);
}

// Declared smaller than the stream: never more than declared.
TEST(ZipEntry, ReadsStopAtTheDeclaredSize)
{
    ArchiveFile file(Edited({Entry("b.bin", kBigData, true)}, [](std::string& b, const ZipLayout& l) {
        PutBoth(b, l, 0, kLocalUncompressed, kCentralUncompressed, 1000);
        PutBoth(b, l, 0, kLocalCrc, kCentralCrc, Crc32Of(kBigData.substr(0, 1000)));
    }));
    CUnzipFile archive(file.path.c_str());
    EXPECT_EQ(ReadCurrentEntry(archive, 300), kBigData.substr(0, 1000));
}

TEST(ZipEntry, CallsOutOfOrderAreBadFuncParam)
{
    ArchiveFile file(BuildZip({Entry("a.txt", "abc", false)}));
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
    ArchiveFile file(BuildZip({Entry("b.bin", kBigData, true), Entry("c.bin", kBigData, true)}));
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
