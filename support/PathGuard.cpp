#include "support/PathGuard.h"

#include <array>
#include <cctype>

namespace {

constexpr unsigned char kFirstPrintable = 0x20;

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool EqualsIgnoringCase(const std::string& text, const char* word)
{
    std::size_t i = 0;
    for (; word[i] != '\0'; ++i) {
        if (i >= text.size() ||
            std::toupper(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(word[i]))
            return false;
    }
    return i == text.size();
}

/// Windows opens a device for these names, whatever directory and extension they come with.
bool IsDeviceName(const std::string& component)
{
    // The device is named by what stands before the first dot, less trailing spaces and dots.
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.'))
        stem.pop_back();
    static const std::array<const char*, 6> kPlainDevices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kPlainDevices) {
        if (EqualsIgnoringCase(stem, device))
            return true;
    }
    constexpr std::size_t kNumberedLength = 4;  // "COM1", "LPT9"
    if (stem.size() == kNumberedLength && std::isdigit(static_cast<unsigned char>(stem[3])))
        return EqualsIgnoringCase(stem.substr(0, 3), "COM") || EqualsIgnoringCase(stem.substr(0, 3), "LPT");
    return false;
}

/// Only dots and spaces, and not the harmless ".": Windows trims such a component to ".." or less.
bool IsDotsAndSpaces(const std::string& component)
{
    if (component.empty() || component == ".")
        return false;
    return component.find_first_not_of(". ") == std::string::npos;
}

bool IsSafeComponent(const std::string& component)
{
    return component.empty() || (!IsDotsAndSpaces(component) && !IsDeviceName(component));
}

}  // namespace

bool IsSafeRelativePath(const std::string& name)
{
    if (name.empty() || IsSeparator(name.front()))
        return false;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < kFirstPrintable || c == ':')
            return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        if (!IsSafeComponent(name.substr(start, end - start)))
            return false;
        start = end + 1;
    }
    return true;
}

bool JoinUnderBase(const std::string& base, const std::string& relative, std::string& joined)
{
    if (base.empty() || !IsSafeRelativePath(relative))
        return false;
    std::string result = base;
    if (!IsSeparator(result.back()))
        result.push_back('\\');
    for (const char c : relative)
        result.push_back(c == '/' ? '\\' : c);
    if (result.size() >= kPathBufferSize)
        return false;
    joined = std::move(result);
    return true;
}
