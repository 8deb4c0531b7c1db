#include "support/zip/ZUBaseFile.h"

#include <limits>
#include <new>

#include <zlib.h>

bool CZUBaseFile::IsClosed() const noexcept
{
    return m_pFile == nullptr || !m_pFile->IsOpen();
}

void CZUBaseFile::ThrowZipError(int code) const
{
    throw CZipException(CZipException::CauseFromCode(code), IsClosed() ? std::string() : m_pFile->GetFilePath(),
                        m_bWriter);
}

void CZUBaseFile::CheckZlibResult(int code) const
{
    if (code != Z_OK && code != Z_NEED_DICT)
        ThrowZipError(code);
}

void* CZUBaseFile::AllocForZlib(void* opaque, unsigned items, unsigned size) noexcept
{
    if (size != 0 && items > std::numeric_limits<std::size_t>::max() / size)
        return nullptr;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[std::size_t{items} * size]);
    if (!block)
        return nullptr;
    void* const address = block.get();
    if (opaque) {
        try {
            static_cast<AllocationList*>(opaque)->push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            return nullptr;  // the block is freed with `block`
        }
        return address;
    }
    return block.release();
}

void CZUBaseFile::FreeForZlib(void* opaque, void* block) noexcept
{
    if (!block)
        return;
    if (opaque) {
        auto& list = *static_cast<AllocationList*>(opaque);
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (it->get() == block) {
                list.erase(it);  // frees the block
                return;
            }
        }
        return;  // not one of ours: leave it alone rather than free foreign memory
    }
    std::unique_ptr<unsigned char[]> owned(static_cast<unsigned char*>(block));
}
