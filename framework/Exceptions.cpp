#include "framework/Exceptions.h"

#include <cstdio>
#include <cstring>

namespace kvo {

bool CException::GetErrorMessage(char* buffer, unsigned maxLength) const noexcept
{
    if (!buffer || maxLength == 0)
        return false;
    std::size_t length = m_strMessage.size();
    if (length >= maxLength)
        length = maxLength - 1;
    std::memcpy(buffer, m_strMessage.data(), length);
    buffer[length] = '\0';
    return true;
}

CFileException::CFileException(int cause, long osError, std::string fileName)
    : CException("file error " + std::to_string(osError) + ": " + fileName),
      m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName))
{
}

COleException::COleException(std::int32_t sc) : CException(), m_sc(sc)
{
    char text[32];
    std::snprintf(text, sizeof text, "status 0x%08lX", static_cast<unsigned long>(static_cast<std::uint32_t>(sc)));
    m_strMessage = text;
}

}  // namespace kvo
