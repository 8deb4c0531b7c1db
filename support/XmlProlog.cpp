#include "support/XmlProlog.h"

namespace {

const wchar_t kDeclarationStart[] = L"<?xml";
const wchar_t kPiStart[] = L"<?";
const wchar_t kPiEnd[] = L"?>";
const wchar_t kCommentStart[] = L"<!--";
const wchar_t kCommentEnd[] = L"-->";
const wchar_t kDoctypeStart[] = L"<!DOCTYPE";
const wchar_t kEncodingName[] = L"encoding";
const wchar_t kXmlSpace[] = L" \t\r\n";

bool IsXmlSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool StartsWithAt(const std::wstring& text, std::size_t at, const wchar_t* prefix)
{
    return text.compare(at, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

/// End of the XML declaration ("?>" excluded), or npos when the text does not open with one.
std::size_t DeclarationEnd(const std::wstring& text)
{
    const std::size_t nameLength = std::char_traits<wchar_t>::length(kDeclarationStart);
    if (!StartsWithAt(text, 0, kDeclarationStart) || text.size() <= nameLength || !IsXmlSpace(text[nameLength]))
        return std::wstring::npos;
    return text.find(kPiEnd, nameLength);
}

/// Position after the whitespace that starts at `at`.
std::size_t SkipSpace(const std::wstring& text, std::size_t at)
{
    const std::size_t next = text.find_first_not_of(kXmlSpace, at);
    return next == std::wstring::npos ? text.size() : next;
}

}  // namespace

bool HasDocumentTypeDeclaration(const std::wstring& text)
{
    std::size_t at = 0;
    const std::size_t declarationEnd = DeclarationEnd(text);
    if (declarationEnd != std::wstring::npos)
        at = declarationEnd + std::char_traits<wchar_t>::length(kPiEnd);
    // Walk the prolog: only white space, comments and processing instructions may precede the DTD.
    for (;;) {
        at = SkipSpace(text, at);
        if (StartsWithAt(text, at, kDoctypeStart))
            return true;
        const wchar_t* end = nullptr;
        if (StartsWithAt(text, at, kCommentStart))
            end = kCommentEnd;
        else if (StartsWithAt(text, at, kPiStart))
            end = kPiEnd;
        else
            return false;
        const std::size_t close = text.find(end, at + 2);
        if (close == std::wstring::npos)
            return false;
        at = close + std::char_traits<wchar_t>::length(end);
    }
}

void RemoveDeclaredEncoding(std::wstring& text)
{
    const std::size_t declarationEnd = DeclarationEnd(text);
    if (declarationEnd == std::wstring::npos)
        return;
    const std::size_t nameLength = std::char_traits<wchar_t>::length(kEncodingName);
    std::size_t name = text.find(kEncodingName, 0);
    while (name != std::wstring::npos && name < declarationEnd) {
        // The pseudo-attribute is preceded by white space and followed by Eq and a quoted name.
        std::size_t at = SkipSpace(text, name + nameLength);
        if (IsXmlSpace(text[name - 1]) && at < declarationEnd && text[at] == L'=') {
            at = SkipSpace(text, at + 1);
            if (at < declarationEnd && (text[at] == L'"' || text[at] == L'\'')) {
                const std::size_t close = text.find(text[at], at + 1);
                if (close != std::wstring::npos && close < declarationEnd) {
                    std::size_t start = name;
                    while (start > 0 && IsXmlSpace(text[start - 1]))
                        --start;
                    text.erase(start, close + 1 - start);
                    return;
                }
            }
        }
        name = text.find(kEncodingName, name + nameLength);
    }
}
