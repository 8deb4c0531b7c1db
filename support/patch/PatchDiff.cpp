#include "support/patch/PatchDiff.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "support/patch/PatchFormat.h"
#include "support/patch/SuffixArray.h"

namespace {

using Offset = std::int64_t;

/// A match only replaces the running approximate one when it is longer by more than this.
constexpr Offset kMatchSlack = 8;
constexpr unsigned kVarintBits = 7;
constexpr unsigned char kVarintMore = 0x80;
constexpr unsigned char kVarintValue = 0x7F;
constexpr unsigned kByteBits = 8;
constexpr int kMemoryLevel = 9;
constexpr int kWindowBits = 15;
constexpr std::size_t kDeflateChunk = 1 << 20;

struct Bytes {
    const unsigned char* data;
    Offset size;
};

Offset MatchLength(const unsigned char* a, Offset aSize, const unsigned char* b, Offset bSize)
{
    const Offset limit = std::min(aSize, bSize);
    Offset i = 0;
    while (i < limit && a[i] == b[i])
        ++i;
    return i;
}

/// The longest match of `target` among the old suffixes sa[low..high]; its old position in `pos`.
Offset Search(const std::vector<std::int32_t>& sa, Bytes old, const unsigned char* target, Offset targetSize,
              Offset low, Offset high, Offset& pos)
{
    while (high - low >= 2) {
        const Offset middle = low + (high - low) / 2;
        const Offset at = sa[middle];
        const Offset common = std::min(old.size - at, targetSize);
        if (std::memcmp(old.data + at, target, static_cast<std::size_t>(common)) < 0)
            low = middle;
        else
            high = middle;
    }
    const Offset lowLength = MatchLength(old.data + sa[low], old.size - sa[low], target, targetSize);
    const Offset highLength = MatchLength(old.data + sa[high], old.size - sa[high], target, targetSize);
    pos = lowLength > highLength ? sa[low] : sa[high];
    return std::max(lowLength, highLength);
}

void PutVarint(std::string& out, std::uint64_t value)
{
    while (value >= kVarintMore) {
        out.push_back(static_cast<char>((value & kVarintValue) | kVarintMore));
        value >>= kVarintBits;
    }
    out.push_back(static_cast<char>(value));
}

std::uint64_t Zigzag(Offset value)
{
    return value < 0 ? (static_cast<std::uint64_t>(-(value + 1)) << 1) | 1 : static_cast<std::uint64_t>(value) << 1;
}

void PutLittleEndian64(std::string& out, std::uint64_t value)
{
    for (std::size_t i = 0; i < sizeof value; ++i)
        out.push_back(static_cast<char>(value >> (kByteBits * i)));
}

std::string Deflate(const std::string& raw)
{
    z_stream z{};
    if (::deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, kWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    std::string packed;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    std::vector<unsigned char> chunk(kDeflateChunk);
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        z.next_out = chunk.data();
        z.avail_out = static_cast<uInt>(chunk.size());
        status = ::deflate(&z, Z_FINISH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            ::deflateEnd(&z);
            throw std::bad_alloc();
        }
        packed.append(reinterpret_cast<const char*>(chunk.data()), chunk.size() - z.avail_out);
    }
    ::deflateEnd(&z);
    return packed;
}

/// The difference stream's run coding: each run of zeros as one zero byte and its length.
std::string RunCoded(const std::string& difference)
{
    std::string coded;
    for (std::size_t i = 0; i < difference.size();) {
        if (difference[i] != 0) {
            coded.push_back(difference[i++]);
            continue;
        }
        std::size_t run = 0;
        while (i < difference.size() && difference[i] == 0) {
            ++run;
            ++i;
        }
        coded.push_back(0);
        PutVarint(coded, run);
    }
    return coded;
}

/// The three raw streams of a patch.
struct Streams {
    std::string control;
    std::string difference;
    std::string extra;
    bool anyStep = false;
    Offset pendingMove = 0;  ///< the move of the last step, written with the next one

    void Step(Offset add, Offset copy, Offset move)
    {
        if (add == 0 && copy == 0 && anyStep) {
            pendingMove += move;  // an empty step only moves: folded into the step before
            return;
        }
        if (anyStep) {
            PutVarint(control, Zigzag(pendingMove));
        }
        PutVarint(control, static_cast<std::uint64_t>(add));
        PutVarint(control, static_cast<std::uint64_t>(copy));
        anyStep = true;
        pendingMove = move;
    }

    void Finish()
    {
        if (anyStep)
            PutVarint(control, Zigzag(pendingMove));
    }
};

/// The approximate-match walk over the new file: each step adds the difference to an old run,
/// then copies bytes found nowhere, then jumps to the next match.
void Diff(Bytes old, Bytes made, const std::vector<std::int32_t>& sa, Streams& streams)
{
    Offset scan = 0, length = 0, pos = 0;
    Offset lastScan = 0, lastPos = 0, lastOffset = 0;
    while (scan < made.size) {
        Offset oldScore = 0;
        Offset scored = scan += length;
        for (; scan < made.size; ++scan) {
            length = Search(sa, old, made.data + scan, made.size - scan, 0, old.size, pos);
            for (; scored < scan + length; ++scored)
                if (scored + lastOffset < old.size && old.data[scored + lastOffset] == made.data[scored])
                    ++oldScore;
            if ((length == oldScore && length != 0) || length > oldScore + kMatchSlack)
                break;
            if (scan + lastOffset < old.size && old.data[scan + lastOffset] == made.data[scan])
                --oldScore;
        }
        if (length == oldScore && scan != made.size)
            continue;

        // How far the last match extends forwards, and the next one backwards, profitably.
        Offset forward = 0;
        for (Offset i = 0, same = 0, best = 0; lastScan + i < scan && lastPos + i < old.size;) {
            if (old.data[lastPos + i] == made.data[lastScan + i])
                ++same;
            ++i;
            if (same * 2 - i > best * 2 - forward) {
                best = same;
                forward = i;
            }
        }
        Offset backward = 0;
        if (scan < made.size) {
            for (Offset i = 1, same = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
                if (old.data[pos - i] == made.data[scan - i])
                    ++same;
                if (same * 2 - i > best * 2 - backward) {
                    best = same;
                    backward = i;
                }
            }
        }
        if (lastScan + forward > scan - backward) {
            const Offset overlap = (lastScan + forward) - (scan - backward);
            Offset split = 0;
            for (Offset i = 0, score = 0, best = 0; i < overlap; ++i) {
                if (made.data[lastScan + forward - overlap + i] == old.data[lastPos + forward - overlap + i])
                    ++score;
                if (made.data[scan - backward + i] == old.data[pos - backward + i])
                    --score;
                if (score > best) {
                    best = score;
                    split = i + 1;
                }
            }
            forward += split - overlap;
            backward -= split;
        }

        for (Offset i = 0; i < forward; ++i)
            streams.difference.push_back(static_cast<char>(made.data[lastScan + i] - old.data[lastPos + i]));
        const Offset extraLength = (scan - backward) - (lastScan + forward);
        streams.extra.append(reinterpret_cast<const char*>(made.data + lastScan + forward),
                             static_cast<std::size_t>(extraLength));
        streams.Step(forward, extraLength, (pos - backward) - (lastPos + forward));
        lastScan = scan - backward;
        lastPos = pos - backward;
        lastOffset = pos - scan;
    }
    streams.Finish();
}

}  // namespace

std::string MakePatch(const unsigned char* oldData, std::size_t oldSize, const unsigned char* newData,
                      std::size_t newSize)
{
    constexpr std::size_t kLargest = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - 1);
    if (oldSize > kLargest || newSize > kLargest)
        throw std::length_error("a file of a patch must be below 2 GiB");
    const Bytes old{oldData, static_cast<Offset>(oldSize)};
    const Bytes made{newData, static_cast<Offset>(newSize)};
    Streams streams;
    {
        const std::vector<std::int32_t> sa = BuildSuffixArray(oldData, static_cast<std::int32_t>(oldSize));
        Diff(old, made, sa, streams);
    }
    const std::string packed[] = {Deflate(streams.control), Deflate(RunCoded(streams.difference)),
                                  Deflate(streams.extra)};
    std::string patchBytes(patch::kMagic, patch::kMagicSize);
    PutLittleEndian64(patchBytes, oldSize);
    PutLittleEndian64(patchBytes, newSize);
    for (const std::string& stream : packed)
        PutLittleEndian64(patchBytes, stream.size());
    for (const std::string& stream : packed)
        patchBytes += stream;
    return patchBytes;
}
