// Reading the contents of the current entry: stored bytes copied, deflated ones inflated.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "support/zip/EntryReadState.h"
#include "support/zip/UnzipFile.h"
#include "support/zip/ZipFormat.h"

using namespace zipformat;

namespace {

constexpr int kRawDeflateWindowBits = -15;  // raw deflate data: no zlib header or trailer

std::unique_ptr<unsigned char[]> AllocateBlock(std::size_t size)
{
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[size]);
    if (!block)
        throw kvo::CMemoryException();
    return block;
}

}  // namespace

std::uint32_t CUnzipFile::CheckLocalHeader()
{
    const EntryInfo& central = m_archive.currentEntry;
    const std::uint64_t headerEnd = std::uint64_t{m_archive.localHeaderOffset} + kLocalHeaderSize;
    if (headerEnd > m_archive.directoryOffset)
        ThrowBadZipFile();  // local headers precede the central directory
    unsigned char header[kLocalHeaderSize];
    ReadAt(std::uint64_t{m_archive.localHeaderOffset} + m_archive.bytesBefore, header, kLocalHeaderSize);

    const std::uint32_t flags = Le16(header + 6);
    const bool sizesFollowData = (flags & kFlagDataDescriptor) != 0;
    if (Le32(header) != kLocalHeaderSignature || Le16(header + 8) != central.method ||
        Le16(header + 26) != central.nameLength)
        ThrowBadZipFile();
    if (!sizesFollowData && (Le32(header + 14) != central.crc32 || Le32(header + 18) != central.compressedSize ||
                             Le32(header + 22) != central.uncompressedSize))
        ThrowBadZipFile();

    const std::uint64_t dataOffset = headerEnd + central.nameLength + Le16(header + 28);
    if (dataOffset + central.compressedSize > m_archive.directoryOffset)
        ThrowBadZipFile();  // the data would run into the central directory or past the file
    return static_cast<std::uint32_t>(dataOffset);
}

void CUnzipFile::OpenEntry()
{
    if (!m_archive.entryValid)
        ThrowZipError(CZipException::codeBadFuncParam);
    if (m_archive.readState)
        CloseEntry();

    const std::uint32_t dataOffset = CheckLocalHeader();
    const EntryInfo& entry = m_archive.currentEntry;
    if (entry.method != kMethodStored && entry.method != kMethodDeflated)
        ThrowBadZipFile();
    // A stored entry's data is its content: any other declared size cannot be delivered.
    if (entry.method == kMethodStored && entry.compressedSize != entry.uncompressedSize)
        ThrowBadZipFile();

    auto state = std::make_unique<EntryReadState>();
    state->readBuffer = AllocateBlock(EntryReadState::kReadBufferSize);
    state->expectedCrc = entry.crc32;
    state->method = entry.method;
    state->bytesBefore = m_archive.bytesBefore;
    state->compressedLeft = entry.compressedSize;
    state->uncompressedLeft = entry.uncompressedSize;
    state->nextReadPosition = dataOffset;
    if (entry.method == kMethodDeflated) {
        state->stream.zalloc = &CZUBaseFile::AllocForZlib;
        state->stream.zfree = &CZUBaseFile::FreeForZlib;
        state->stream.opaque = m_bTrackAllocations ? &m_allocations : nullptr;
        const int result = inflateInit2(&state->stream, kRawDeflateWindowBits);
        if (result != Z_OK)
            ThrowZipError(result);
        state->streamStarted = true;
    }
    m_archive.readState = std::move(state);
}

int CUnzipFile::ReadEntry(void* buffer, std::uint32_t length)
{
    EntryReadState* const state = m_archive.readState.get();
    if (!state)
        ThrowZipError(CZipException::codeBadFuncParam);
    if (!buffer || length == 0)
        return 0;

    auto* out = static_cast<unsigned char*>(buffer);
    // The count is returned as an int.
    std::uint32_t space = std::min({length, state->uncompressedLeft, static_cast<std::uint32_t>(INT_MAX)});
    std::uint32_t count = 0;
    z_stream& stream = state->stream;
    while (space > 0) {
        if (stream.avail_in == 0 && state->compressedLeft > 0) {
            const std::uint32_t chunk = std::min(EntryReadState::kReadBufferSize, state->compressedLeft);
            ReadAt(std::uint64_t{state->nextReadPosition} + state->bytesBefore, state->readBuffer.get(), chunk);
            state->nextReadPosition += chunk;
            state->compressedLeft -= chunk;
            stream.next_in = state->readBuffer.get();
            stream.avail_in = chunk;
        }

        std::uint32_t produced = 0;
        if (state->method == kMethodStored) {
            produced = std::min(space, static_cast<std::uint32_t>(stream.avail_in));
            if (produced == 0)
                ThrowBadZipFile();  // the data ends before its declared size
            std::memcpy(out, stream.next_in, produced);
            stream.next_in += produced;
            stream.avail_in -= produced;
        } else {
            if (state->streamEnded)
                break;
            const std::uint32_t inputBefore = stream.avail_in;
            stream.next_out = out;
            stream.avail_out = space;
            const int result = inflate(&stream, Z_SYNC_FLUSH);
            produced = space - stream.avail_out;
            if (result == Z_STREAM_END) {
                state->streamEnded = true;
            } else {
                CheckZlibResult(result);
                if (produced == 0 && stream.avail_in == inputBefore)
                    ThrowZipError(Z_BUF_ERROR);  // no progress: never spin
            }
        }
        state->runningCrc = static_cast<std::uint32_t>(crc32(state->runningCrc, out, produced));
        state->uncompressedLeft -= produced;
        out += produced;
        space -= produced;
        count += produced;
        if (state->streamEnded)
            break;
    }
    return static_cast<int>(count);
}

void CUnzipFile::CloseEntry()
{
    EntryReadState* const state = m_archive.readState.get();
    if (!state)
        return;
    if (state->uncompressedLeft == 0 && state->runningCrc != state->expectedCrc)
        ThrowZipError(CZipException::codeBadCrc);
    if (state->streamStarted)
        inflateEnd(&state->stream);
    m_archive.readState.reset();
}
