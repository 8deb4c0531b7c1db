// What every archive object shares: the archive file, the raising of CZipException and the
// bookkeeping of the memory that zlib asks for.
#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "framework/File.h"
#include "support/zip/ZipException.h"

class CZUBaseFile {
public:
    CZUBaseFile() = default;
    virtual ~CZUBaseFile() = default;  ///< frees every block zlib still holds
    CZUBaseFile(const CZUBaseFile&) = delete;
    CZUBaseFile& operator=(const CZUBaseFile&) = delete;

    /// True when no archive file is open.
    bool IsClosed() const noexcept;

    /// Blocks handed to zlib and not given back yet.
    using AllocationList = std::vector<std::unique_ptr<unsigned char[]>>;

    /// zlib's allocation function. `opaque` is the AllocationList that records the block, or null.
    /// Returns null when the memory cannot be had: zlib then reports Z_MEM_ERROR, since nothing
    /// may be thrown through zlib's C frames.
    static void* AllocForZlib(void* opaque, unsigned items, unsigned size) noexcept;
    /// zlib's release function: drops `block` from the list `opaque` (when given) and frees it.
    static void FreeForZlib(void* opaque, void* block) noexcept;

    /// How many blocks zlib holds at the moment.
    std::size_t GetZlibBlockCount() const noexcept { return m_allocations.size(); }

protected:
    /// Raises CZipException for a zlib result or one of the reader's codes.
    [[noreturn]] void ThrowZipError(int code) const;
    /// Lets Z_OK and Z_NEED_DICT through and raises for every other code.
    void CheckZlibResult(int code) const;

    bool m_bTrackAllocations = true;
    AllocationList m_allocations;
    kvo::CFile* m_pFile = nullptr;   ///< the archive file; set by the derived reader
    bool m_bWriter = true;           ///< copied into every exception raised
};
