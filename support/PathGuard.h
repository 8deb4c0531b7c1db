// The one check that every name coming from outside (a package entry, a manifest's FileName)
// passes before it is joined to a directory and written to.
#pragma once
#include <cstddef>
#include <string>

/// Size of the fixed path buffers of the system: a path holds at most this many bytes minus one.
constexpr std::size_t kPathBufferSize = 260;

/// True when `name` is a relative path that stays inside whatever directory it is joined to,
/// with either "/" or "\" as separator. Refused are: the empty name; an absolute or rooted name
/// ("/x", "\x", "\\host\share", "\\?\x"); any ":" (drives "C:\x" and "C:x", alternate data
/// streams); a NUL or another control character; a component of dots and spaces only other
/// than "." (so "..", "...", ". ." anywhere); and a component that names a Windows device (CON,
/// PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9), in any case, with or without an
/// extension, trailing dots or spaces. A trailing separator (a directory entry) is allowed.
/// Bytes are judged one by one, so a double-byte character whose second byte is "\" splits
/// the name here too: that can only refuse more, never let more through.
bool IsSafeRelativePath(const std::string& name);

/// Joins `relative` under `base` (a directory, with or without its trailing separator) into
/// `joined`, every "/" of `relative` turned into "\". False (and `joined` untouched) when
/// `base` is empty, `relative` is not IsSafeRelativePath, or the result would not fit a
/// kPathBufferSize-byte buffer with its terminator.
bool JoinUnderBase(const std::string& base, const std::string& relative, std::string& joined);
