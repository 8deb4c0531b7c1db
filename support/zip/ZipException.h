// The archive reader's exception: what went wrong with the archive's structure, its data or zlib.
#pragma once
#include <string>

#include "framework/Exceptions.h"

/// Raised by value by CUnzipFile; the cause says which kind of problem it met.
class CZipException : public kvo::CException {
public:
    enum Cause {
        generic = 1,
        streamEnd = 2,
        needDict = 3,
        errNo = 4,
        streamError = 5,
        dataError = 6,
        memError = 7,
        bufError = 8,
        versionError = 9,
        badFuncParam = 10,
        badZipFile = 11,
        badCrc = 12,
    };

    /// The reader's own result codes, beside zlib's (Z_OK ... Z_VERSION_ERROR).
    enum Code {
        codeBadFuncParam = -102,  ///< operation called in the wrong state
        codeBadZipFile = -103,    ///< archive structure wrong
        codeBadCrc = -105,        ///< CRC mismatch
    };

    CZipException(int cause, std::string fileName, bool writer);

    /// The cause that a zlib result or one of the reader's codes stands for.
    static int CauseFromCode(int code) noexcept;

    bool m_bWriter;              ///< copy of the raising object's flag: false for every reader
    std::string m_strFileName;   ///< the archive's path, or "" when no archive file was open
    int m_nCause;
};
