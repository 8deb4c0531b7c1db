#include "skin/PngImageSB.h"

#include <objbase.h>

#include <cstring>
#include <memory>

#include "framework/Handles.h"
#include "skin/DrawEngine.h"

namespace {

constexpr char kPngResourceType[] = "PNG";

struct StreamReleaser {
    void operator()(IStream* stream) const noexcept { stream->Release(); }
};

}  // namespace

CPngImageSB::~CPngImageSB()
{
    if (IDrawEngine* engine = GetDrawEngine())
        engine->ReleaseImage(0, m_szName);
}

bool CPngImageSB::LoadPngResource(HMODULE module, const char* name) noexcept
{
    if (!m_image.IsNull())
        return false;
    const HRSRC resource = ::FindResourceA(module, name, kPngResourceType);
    if (!resource)
        return false;
    const HGLOBAL loaded = ::LoadResource(module, resource);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(module, resource);
    if (!bytes || size == 0)
        return false;

    // The stream needs memory of its own; the resource's bytes are read-only.
    kvo::unique_hglobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size));
    if (!block)
        return false;
    void* copy = ::GlobalLock(block.get());
    if (!copy)
        return false;
    std::memcpy(copy, bytes, size);
    ::GlobalUnlock(block.get());

    IStream* rawStream = nullptr;
    if (SUCCEEDED(::CreateStreamOnHGlobal(block.get(), FALSE, &rawStream)) && rawStream) {
        const std::unique_ptr<IStream, StreamReleaser> stream(rawStream);
        m_image.Load(stream.get());
    }
    return !m_image.IsNull();
}
