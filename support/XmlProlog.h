// Checks and repairs of a manifest's prolog, made on the text after it was widened.
#pragma once
#include <string>

/// True when the prolog holds a document type declaration. Such a document is refused before the
/// DOM sees it: a DTD can name external resources or expand entities without bound.
bool HasDocumentTypeDeclaration(const std::wstring& text);

/// Removes the encoding of the XML declaration, if there is one. The text was already widened from
/// the ANSI code page, so a declared encoding no longer describes it.
void RemoveDeclaredEncoding(std::wstring& text);
