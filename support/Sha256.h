// SHA-256 through the system's cryptography (CNG), and the hexadecimal form manifests carry.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/File.h"
#include "framework/Handles.h"
#include "support/Sha256Blocks.h"

using Sha256Digest = std::array<unsigned char, 32>;

/// An incremental SHA-256: on the processor's SHA extensions where it has them, else through the
/// system's cryptography. Raises kvo::CException when the system cannot provide one.
class CSha256 {
public:
    enum class Engine { fastest, system };

    explicit CSha256(Engine engine = Engine::fastest);
    void Update(const void* data, std::size_t size);
    /// The digest of everything given so far; the object then starts over.
    Sha256Digest Finish();

    static Sha256Digest Of(const void* data, std::size_t size);

private:
    void Restart();

    bool m_bInstructions;             ///< hashed here on the SHA extensions, not by the system
    kvo::unique_cng_hash m_hash;      ///< the system's hash object otherwise
    std::uint32_t m_state[kSha256StateWords] = {};
    unsigned char m_block[kSha256BlockSize] = {};
    std::size_t m_nBuffered = 0;
    std::uint64_t m_nLength = 0;
};

/// The digest written as 64 hexadecimal digits (either case). False for any other text.
bool ParseSha256Hex(const std::string& text, Sha256Digest& digest);
/// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const Sha256Digest& digest);

/// Adds the bytes of `file` from its position to its end to `hash`; returns their count.
/// Raises kvo::CFileException when a read fails.
std::uint64_t HashFileRest(kvo::CFile& file, CSha256& hash);

/// The SHA-256 of the whole file at `path`, read with others allowed to read and write it.
/// False when it cannot be opened or read.
bool HashFile(const std::string& path, Sha256Digest& digest);

/// Raises kvo::CException naming `operation` when a CNG call did not succeed.
void CheckCngStatus(NTSTATUS status, const char* operation);
