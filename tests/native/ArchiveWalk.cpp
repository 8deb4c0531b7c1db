#include "ArchiveWalk.h"

#include <cstring>
#include <memory>
#include <vector>

#include "support/PathGuard.h"
#include "support/zip/UnzipFile.h"

namespace {

const std::string kBase = "C:\\Lobby\\";
constexpr unsigned kPieceSizes[] = {1, 128, 4096, 70000};
constexpr unsigned char kGuardByte = 0xA5;

/// Reads the open entry in pieces of `piece` bytes, checking each count.
std::uint64_t ReadAll(CUnzipFile& archive, unsigned piece, std::uint32_t declared, WalkReport& report)
{
    std::vector<unsigned char> buffer(piece + 1, kGuardByte);
    std::uint64_t total = 0;
    for (;;) {
        const int count = archive.ReadEntry(buffer.data(), piece);
        if (count < 0 || static_cast<unsigned>(count) > piece)
            report.violations.push_back("read returned more than asked");
        if (buffer[piece] != kGuardByte)
            report.violations.push_back("read wrote past the buffer");
        if (count <= 0)
            break;
        total += static_cast<unsigned>(count);
        if (total > declared) {
            report.violations.push_back("read more than the declared size");
            break;
        }
    }
    return total;
}

void CheckName(CUnzipFile& archive, const EntryInfo& info, WalkReport& report)
{
    std::vector<char> name(info.nameLength + 1, '\x7F');
    archive.GetEntryInfo(nullptr, name.data(), info.nameLength);  // exactly as large: no terminator
    if (name[info.nameLength] != '\x7F')
        report.violations.push_back("name buffer overrun");
    archive.GetEntryInfo(nullptr, name.data(), info.nameLength + 1);
    if (name[info.nameLength] != '\0')
        report.violations.push_back("name not terminated");
    std::vector<char> extra(info.extraLength + 1);
    std::vector<char> comment(info.commentLength + 1);
    archive.GetEntryInfo(nullptr, nullptr, 0, extra.data(), info.extraLength, comment.data(), info.commentLength + 1);

    const std::string stored(name.data(), info.nameLength);
    std::string joined;
    if (JoinUnderBase(kBase, stored, joined)) {
        if (!StaysUnder(kBase, joined))
            report.violations.push_back("accepted name leaves the directory: " + joined);
        if (joined.size() >= kPathBufferSize)
            report.violations.push_back("accepted path longer than the path buffers");
    }
}

}  // namespace

bool StaysUnder(const std::string& base, const std::string& joined)
{
    if (joined.compare(0, base.size(), base) != 0)
        return false;
    int depth = 0;
    std::size_t start = base.size();
    while (start <= joined.size()) {
        const std::size_t end = std::min(joined.find_first_of("\\/", start), joined.size());
        const std::string component = joined.substr(start, end - start);
        if (start == base.size() && component.empty() && end < joined.size())
            return false;  // rooted
        if (component.find(':') != std::string::npos || component.find('\0') != std::string::npos)
            return false;
        if (component.find_first_not_of(". ") == std::string::npos && component.size() > 1)
            --depth;  // ".." or what Windows trims to it
        else if (!component.empty() && component != ".")
            ++depth;
        if (depth < 0)
            return false;
        start = end + 1;
    }
    return true;
}

WalkReport WalkArchive(const std::string& path, bool localHeadersOnly)
{
    WalkReport report;
    try {
        kvo::CFile file;
        if (!file.Open(path.c_str(), kvo::CFile::modeRead))
            return report;
        const std::unique_ptr<CUnzipFile> opened = localHeadersOnly
                                                       ? std::make_unique<CUnzipFile>(file, CUnzipFile::LocalHeadersOnly{})
                                                       : std::make_unique<CUnzipFile>(file);
        CUnzipFile& archive = *opened;
        report.opened = true;
        unsigned piece = 0;
        do {
            EntryInfo info;
            archive.GetEntryInfo(&info);
            CheckName(archive, info, report);
            archive.OpenEntry();
            const std::uint64_t total =
                ReadAll(archive, kPieceSizes[piece++ % (sizeof kPieceSizes / sizeof kPieceSizes[0])],
                        info.uncompressedSize, report);
            if (total == info.uncompressedSize) {
                archive.CloseEntry();
                ++report.entriesRead;
            }
        } while (archive.MoveToNextEntry());
        archive.MoveToFirstEntry();
        archive.CloseArchive();
    } catch (const kvo::CException&) {
        // CZipException, and the file, memory and conversion errors: the archive is refused.
    }
    return report;
}
