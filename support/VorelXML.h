// A cursor over an XML document held by the system's COM XML DOM component.
#pragma once
#include <windows.h>
#include <msxml2.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/ComPtr.h"
#include "support/ComError.h"

/// One child element: its name, its text and its attributes (name, value) in document order.
struct XmlChild {
    std::string name;
    std::string text;
    std::vector<std::pair<std::string, std::string>> attributes;
};

/// Loads a document from narrow text, selects nodes below its document element and reads the
/// texts of the current node. DOM failures raise CComError; narrow texts are in the ANSI code page.
/// The owner initialises COM on its thread before CreateDocument.
class CVorelXML {
public:
    CVorelXML() = default;
    virtual ~CVorelXML() = default;
    CVorelXML(const CVorelXML&) = delete;
    CVorelXML& operator=(const CVorelXML&) = delete;

    /// Creates the DOM document with every external resource off. On failure the document stays
    /// null and the failing status is returned.
    HRESULT CreateDocument();
    /// Parses `text` (the whole document). 1 when it is a well-formed document without a DTD (its
    /// document element becomes the selection context), 0 otherwise.
    int LoadXml(const char* text);
    /// Selects by `pattern` relative to the document element; the current node is kept.
    bool SelectNodes(const char* pattern);
    /// Steps to the next selected node and makes it current; null at the end of the selection.
    kvo::CComPtr<IXMLDOMNode> NextNode();
    /// Name, text and attributes of each child element of the current node, in document order.
    /// The first element of a name is the one a query for that name selects; one walk reads them
    /// all, where a query per name costs an XPath evaluation each.
    std::vector<XmlChild> GetChildElements();
    /// Text of the current node itself (all the text it holds).
    std::string GetText();
    /// Text of the current node's attribute `name`; empty when it is absent.
    std::string GetAttribute(const char* name);

    int m_bCreateFailed = 0;  ///< set by the owner when CreateDocument failed

private:
    kvo::CComPtr<IXMLDOMDocument> m_pDoc;
    kvo::CComPtr<IXMLDOMElement> m_pRoot;
    kvo::CComPtr<IXMLDOMNodeList> m_pNodeList;
    kvo::CComPtr<IXMLDOMNode> m_pCurNode;  ///< null before the first step and after the end
};
