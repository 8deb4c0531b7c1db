// The fixture launchers of tests/unit (one tiny GUI program built with the test key, another key
// or none) and copies of PE images with a header field changed.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

/// The path of LauncherTestKey, LauncherOtherKey or LauncherNoKey (`name` without ".exe").
std::string LauncherFixture(const char* name);

/// `image` (the bytes of a PE file) with the 16-bit field at `offset` of its file header (or, when
/// `inOptionalHeader`, of its optional header) set to `value`.
std::string WithPeHeaderField(std::string image, std::size_t offset, WORD value, bool inOptionalHeader);

/// `image` as the build of another processor would have it (an ARM64 machine type).
std::string ForAnotherMachine(const std::string& image);
