#include "support/patch/PatchApply.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "support/patch/PatchFormat.h"

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr unsigned kVarintBits = 7;
constexpr unsigned char kVarintMore = 0x80;
constexpr unsigned char kVarintValue = 0x7F;
constexpr unsigned kMaxVarintShift = 63;
constexpr unsigned kByteBits = 8;

/// Reads exactly `size` bytes of `file` at `offset`; false when the file ends first.
bool ReadAt(kvo::CFile& file, std::uint64_t offset, unsigned char* buffer, std::size_t size)
{
    file.Seek(static_cast<std::int64_t>(offset), kvo::CFile::begin);
    while (size > 0) {
        const unsigned got = file.Read(buffer, static_cast<unsigned>(size));
        if (got == 0)
            return false;
        buffer += got;
        size -= got;
    }
    return true;
}

std::uint64_t LittleEndian64(const unsigned char* bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = sizeof value; i-- > 0;)
        value = value << kByteBits | bytes[i];
    return value;
}

/// One zlib stream of the patch, inflated on demand through a buffer of its own.
class CPatchStream {
public:
    CPatchStream(kvo::CFile& file, std::uint64_t start, std::uint64_t length)
        : m_file(file), m_next(start), m_left(length), m_in(std::make_unique<unsigned char[]>(kBufferSize)),
          m_out(std::make_unique<unsigned char[]>(kBufferSize))
    {
        if (::inflateInit(&m_z) != Z_OK)
            throw std::bad_alloc();
    }
    ~CPatchStream() { ::inflateEnd(&m_z); }
    CPatchStream(const CPatchStream&) = delete;
    CPatchStream& operator=(const CPatchStream&) = delete;

    /// Exactly `size` bytes; false when the stream is corrupt or ends first.
    bool Read(unsigned char* data, std::size_t size)
    {
        while (size > 0) {
            if (m_outPos == m_outEnd && !Inflate())
                return false;
            const std::size_t take = std::min(size, m_outEnd - m_outPos);
            std::memcpy(data, m_out.get() + m_outPos, take);
            m_outPos += take;
            data += take;
            size -= take;
        }
        return true;
    }

    bool ReadVarint(std::uint64_t& value)
    {
        value = 0;
        for (unsigned shift = 0;; shift += kVarintBits) {
            unsigned char byte = 0;
            if (shift > kMaxVarintShift || !Read(&byte, 1))
                return false;
            value |= static_cast<std::uint64_t>(byte & kVarintValue) << shift;
            if (!(byte & kVarintMore))
                return true;
        }
    }

    /// True when everything was read: the stream has ended with its last compressed byte.
    bool Exhausted()
    {
        return m_outPos == m_outEnd && !Inflate() && m_ended && m_left == 0 && m_z.avail_in == 0;
    }

private:
    /// Refills the output buffer; false when nothing more comes.
    bool Inflate()
    {
        m_outPos = m_outEnd = 0;
        while (!m_ended && m_outEnd == 0 && !m_broken) {
            if (m_z.avail_in == 0) {
                if (m_left == 0)
                    return false;
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(m_left, kBufferSize));
                if (!ReadAt(m_file, m_next, m_in.get(), take)) {
                    m_broken = true;
                    return false;
                }
                m_next += take;
                m_left -= take;
                m_z.next_in = m_in.get();
                m_z.avail_in = static_cast<uInt>(take);
            }
            m_z.next_out = m_out.get();
            m_z.avail_out = static_cast<uInt>(kBufferSize);
            const int status = ::inflate(&m_z, Z_NO_FLUSH);
            m_outEnd = kBufferSize - m_z.avail_out;
            if (status == Z_STREAM_END)
                m_ended = true;
            else if (status != Z_OK)
                m_broken = true;
        }
        return m_outEnd > 0;
    }

    kvo::CFile& m_file;
    std::uint64_t m_next;
    std::uint64_t m_left;
    z_stream m_z{};
    std::unique_ptr<unsigned char[]> m_in;
    std::unique_ptr<unsigned char[]> m_out;
    std::size_t m_outPos = 0;
    std::size_t m_outEnd = 0;
    bool m_ended = false;
    bool m_broken = false;
};

/// The difference stream's run coding undone: a zero byte is followed by the length of a run of
/// zeros, any other byte stands for itself.
class CDifferenceRuns {
public:
    explicit CDifferenceRuns(CPatchStream& stream) : m_stream(stream) {}

    bool Read(unsigned char* data, std::size_t size)
    {
        while (size > 0) {
            if (m_zeros > 0) {
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(m_zeros, size));
                std::memset(data, 0, take);
                m_zeros -= take;
                data += take;
                size -= take;
                continue;
            }
            if (!m_stream.Read(data, 1))
                return false;
            // A run of no zeros would make no progress: not a patch this program wrote.
            if (*data == 0 && (!m_stream.ReadVarint(m_zeros) || m_zeros == 0))
                return false;
            if (*data != 0) {
                ++data;
                --size;
            }
        }
        return true;
    }

    bool Exhausted() { return m_zeros == 0 && m_stream.Exhausted(); }

private:
    CPatchStream& m_stream;
    std::uint64_t m_zeros = 0;
};

struct PatchHeader {
    std::uint64_t oldLength = 0;
    std::uint64_t newLength = 0;
    std::uint64_t streamLength[3] = {};
};

bool ReadHeader(kvo::CFile& patchFile, PatchHeader& header)
{
    unsigned char bytes[patch::kHeaderSize];
    if (!ReadAt(patchFile, 0, bytes, sizeof bytes) || std::memcmp(bytes, patch::kMagic, patch::kMagicSize) != 0)
        return false;
    const unsigned char* number = bytes + patch::kMagicSize;
    header.oldLength = LittleEndian64(number);
    header.newLength = LittleEndian64(number + sizeof(std::uint64_t));
    for (std::size_t i = 0; i < 3; ++i)
        header.streamLength[i] = LittleEndian64(number + (2 + i) * sizeof(std::uint64_t));
    return true;
}

/// The steps of a patch, written to the output as they are made.
class CPatchSteps {
public:
    CPatchSteps(kvo::CFile& patchFile, kvo::CFile& oldFile, const PatchHeader& header, IPatchOutput& output)
        : m_oldFile(oldFile), m_header(header), m_output(output),
          m_control(patchFile, patch::kHeaderSize, header.streamLength[0]),
          m_difference(patchFile, patch::kHeaderSize + header.streamLength[0], header.streamLength[1]),
          m_extra(patchFile, patch::kHeaderSize + header.streamLength[0] + header.streamLength[1],
                  header.streamLength[2]),
          m_differenceRuns(m_difference),
          m_old(std::make_unique<unsigned char[]>(kBufferSize)),
          m_made(std::make_unique<unsigned char[]>(kBufferSize))
    {
    }

    bool Run()
    {
        for (bool first = true; m_newPos < m_header.newLength; first = false) {
            std::uint64_t add = 0, copy = 0, move = 0;
            if (!m_control.ReadVarint(add) || !m_control.ReadVarint(copy) || !m_control.ReadVarint(move))
                return false;
            // Only the first step may make nothing (it moves the old position before anything).
            if ((add == 0 && copy == 0 && !first) || !Add(add) || !Copy(copy) || !Move(move))
                return false;
        }
        return m_control.Exhausted() && m_differenceRuns.Exhausted() && m_extra.Exhausted();
    }

private:
    bool Add(std::uint64_t length)
    {
        if (length > m_header.newLength - m_newPos || length > m_header.oldLength - m_oldPos)
            return false;
        while (length > 0) {
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBufferSize));
            if (!ReadAt(m_oldFile, m_oldPos, m_old.get(), take) || !m_differenceRuns.Read(m_made.get(), take))
                return false;
            for (std::size_t i = 0; i < take; ++i)
                m_made[i] = static_cast<unsigned char>(m_made[i] + m_old[i]);
            m_output.Write(m_made.get(), take);
            m_oldPos += take;
            m_newPos += take;
            length -= take;
        }
        return true;
    }

    bool Copy(std::uint64_t length)
    {
        if (length > m_header.newLength - m_newPos)
            return false;
        while (length > 0) {
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(length, kBufferSize));
            if (!m_extra.Read(m_made.get(), take))
                return false;
            m_output.Write(m_made.get(), take);
            m_newPos += take;
            length -= take;
        }
        return true;
    }

    /// Moves the old position by the zigzag-coded `coded`, staying within the old file.
    bool Move(std::uint64_t coded)
    {
        const std::uint64_t distance = (coded >> 1) + (coded & 1);
        if (coded & 1) {
            if (distance > m_oldPos)
                return false;
            m_oldPos -= distance;
        } else {
            if (distance > m_header.oldLength - m_oldPos)
                return false;
            m_oldPos += distance;
        }
        return true;
    }

    kvo::CFile& m_oldFile;
    const PatchHeader& m_header;
    IPatchOutput& m_output;
    CPatchStream m_control;
    CPatchStream m_difference;
    CPatchStream m_extra;
    CDifferenceRuns m_differenceRuns;
    std::unique_ptr<unsigned char[]> m_old;
    std::unique_ptr<unsigned char[]> m_made;
    std::uint64_t m_oldPos = 0;
    std::uint64_t m_newPos = 0;
};

}  // namespace

PatchResult ApplyPatch(kvo::CFile& patchFile, kvo::CFile& oldFile, IPatchOutput& output)
{
    PatchHeader header;
    if (!ReadHeader(patchFile, header))
        return PatchResult::notAPatch;
    if (header.oldLength != oldFile.GetLength())
        return PatchResult::wrongOldFile;
    // The three streams fill the rest of the patch exactly.
    std::uint64_t rest = patchFile.GetLength() - patch::kHeaderSize;
    for (const std::uint64_t length : header.streamLength) {
        if (length > rest)
            return PatchResult::corrupt;
        rest -= length;
    }
    if (rest != 0 || header.newLength > patch::kMaxFileLength)
        return PatchResult::corrupt;
    CPatchSteps steps(patchFile, oldFile, header, output);
    return steps.Run() ? PatchResult::applied : PatchResult::corrupt;
}
