// The state of the one entry that a CUnzipFile has open for reading (private to the reader).
#pragma once
#include <cstdint>
#include <memory>

#include <zlib.h>

struct EntryReadState {
    /// Compressed input is fetched from the file in chunks of this size.
    static constexpr std::uint32_t kReadBufferSize = 16384;

    std::unique_ptr<unsigned char[]> readBuffer;
    z_stream stream{};
    std::uint32_t nextReadPosition = 0;  ///< of the next compressed byte, without bytes before
    bool streamStarted = false;          ///< inflateInit2 succeeded
    bool streamEnded = false;            ///< inflate reported the end of the deflate stream
    std::uint32_t runningCrc = 0;        ///< of the bytes returned so far
    std::uint32_t expectedCrc = 0;
    std::uint32_t compressedLeft = 0;    ///< not yet fetched from the file
    std::uint32_t uncompressedLeft = 0;  ///< not yet returned
    std::uint32_t method = 0;
    std::uint32_t bytesBefore = 0;
};
