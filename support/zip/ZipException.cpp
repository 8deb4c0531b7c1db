#include "support/zip/ZipException.h"

#include <zlib.h>

CZipException::CZipException(int cause, std::string fileName, bool writer)
    : kvo::CException("zip error " + std::to_string(cause) + ": " + fileName),
      m_bWriter(writer), m_strFileName(std::move(fileName)), m_nCause(cause)
{
}

int CZipException::CauseFromCode(int code) noexcept
{
    switch (code) {
    case Z_STREAM_END: return streamEnd;
    case Z_NEED_DICT: return needDict;
    case Z_ERRNO: return errNo;
    case Z_STREAM_ERROR: return streamError;
    case Z_DATA_ERROR: return dataError;
    case Z_MEM_ERROR: return memError;
    case Z_BUF_ERROR: return bufError;
    case Z_VERSION_ERROR: return versionError;
    case codeBadFuncParam: return badFuncParam;
    case codeBadZipFile: return badZipFile;
    case codeBadCrc: return badCrc;
    default: return generic;
    }
}
