#include "tools/publish/PublishText.h"

#include <windows.h>

#include <cctype>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;

bool IsUnreserved(unsigned char c)
{
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

/// `text` converted between two code pages through UTF-16; false when `from` rejects a byte.
bool Convert(UINT from, UINT to, const std::string& text, std::string& result)
{
    result.clear();
    if (text.empty())
        return true;
    const int inLength = static_cast<int>(text.size());
    const int wideLength = ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), inLength, nullptr, 0);
    if (wideLength <= 0)
        return false;
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), inLength, &wide[0], wideLength);
    const int outLength = ::WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (outLength <= 0)
        return false;
    result.assign(static_cast<std::size_t>(outLength), '\0');
    ::WideCharToMultiByte(to, 0, wide.data(), wideLength, &result[0], outLength, nullptr, nullptr);
    return true;
}

}  // namespace

std::string PercentEncodeSegment(const std::string& bytes)
{
    std::string encoded;
    encoded.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUnreserved(byte)) {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHexDigits[byte >> kNibbleBits]);
            encoded.push_back(kHexDigits[byte & kNibbleMask]);
        }
    }
    return encoded;
}

bool IsPlainUrlPath(const std::string& path)
{
    for (const char c : path) {
        if (c != '/' && !IsUnreserved(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::string XmlEscape(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&apos;"; break;
        default: escaped.push_back(c); break;
        }
    }
    return escaped;
}

bool AnsiToUtf8(const std::string& ansi, std::string& utf8)
{
    return Convert(CP_ACP, CP_UTF8, ansi, utf8);
}

bool Utf8ToAnsi(const std::string& utf8, std::string& ansi)
{
    return Convert(CP_UTF8, CP_ACP, utf8, ansi);
}

bool PercentDecode(const std::string& encoded, std::string& bytes)
{
    constexpr std::size_t kEscapeLength = 3;
    constexpr int kHexBase = 16;
    bytes.clear();
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            bytes.push_back(encoded[i]);
            continue;
        }
        if (i + kEscapeLength > encoded.size() || !std::isxdigit(static_cast<unsigned char>(encoded[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(encoded[i + 2])))
            return false;
        bytes.push_back(static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, kHexBase)));
        i += kEscapeLength - 1;
    }
    return true;
}

bool UrlPathOf(const std::vector<std::string>& components, std::string& path)
{
    std::vector<std::string> encoded;
    for (const std::string& component : components) {
        std::string utf8;
        if (!AnsiToUtf8(component, utf8))
            return false;
        encoded.push_back(PercentEncodeSegment(utf8));
    }
    path = JoinComponents(encoded, '/');
    return true;
}

std::string JoinComponents(const std::vector<std::string>& components, char separator)
{
    std::string joined;
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0)
            joined.push_back(separator);
        joined += components[i];
    }
    return joined;
}
