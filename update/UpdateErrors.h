// The launcher's own error numbers, as the run logs them in "<name> 更新失败 <number>"
// (application-defined codes: bit 29 set, so they never meet a system error number).
#pragma once
#include <windows.h>

#include "framework/Exceptions.h"

/// The body's SHA-256 is not the entry's SHA256 (or that text is not 64 hexadecimal digits).
constexpr DWORD kErrorHashMismatch = 0x20000001;
/// The downloaded module's own version resource is missing or older than the entry's FileVersion,
/// or the image is cut short (its sections reach past the end of the file).
constexpr DWORD kErrorVersionMismatch = 0x20000002;
/// A new copy of the running launcher that could strand the installation: not a whole image of
/// the running one's machine type and subsystem, or without the update key the running one has.
constexpr DWORD kErrorLauncherRefused = 0x20000003;
/// The server announced another length than the one the manifest vouches for (an entry with
/// SHA256 and a Length above 0), or sent more than it: refused before anything is written.
constexpr DWORD kErrorLengthMismatch = 0x20000004;
/// The staging area, a staged file or a folder on the way to a target is a reparse point or
/// resolves outside the installation: nothing is written through it.
constexpr DWORD kErrorStagingRefused = 0x20000005;

/// A patch that could not be applied: not a patch, made for another old file, or corrupt. The
/// whole file is fetched instead.
constexpr DWORD kErrorPatchFailed = 0x20000006;
/// A server that did not answer a request for one byte range with exactly that range: the whole
/// file is fetched instead.
constexpr DWORD kErrorRangesIgnored = 0x20000007;
/// The entries installed from a package's changed range do not make the index the manifest
/// lists, or an installed entry outside the range no longer matches: the whole package instead.
constexpr DWORD kErrorIndexMismatch = 0x20000008;

/// The error number a failed file operation leaves; a generic one when the system gave none.
inline DWORD FileErrorCode(const kvo::CFileException& error)
{
    return error.m_lOsError > 0 ? static_cast<DWORD>(error.m_lOsError) : ERROR_WRITE_FAULT;
}
