#include "support/VorelXML.h"

#include <new>
#include <vector>

#include "framework/Handles.h"
#include "support/XmlProlog.h"

namespace {

// The version-independent DOMDocument class and the interfaces it is used through.
const CLSID kDomDocumentClsid = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomDocumentIid = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomDocument2Iid = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomNodeIid = {0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomNodeListIid = {0x2933BF82, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomNamedNodeMapIid = {0x2933BF83, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// In-process server and handler, local and remote server.
constexpr DWORD kCreateContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                 CLSCTX_REMOTE_SERVER;
const wchar_t kProhibitDtdProperty[] = L"ProhibitDTD";

HRESULT LastErrorResult()
{
    const DWORD error = ::GetLastError();
    return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

/// `text` widened from the ANSI code page; raises CComError when it cannot be converted.
std::wstring WidenText(const char* text)
{
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size <= 0)
        ThrowComError(LastErrorResult());
    try {
        std::vector<wchar_t> wide(static_cast<std::size_t>(size));
        if (::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), size) != size)
            ThrowComError(LastErrorResult());
        return std::wstring(wide.data(), wide.size() - 1);
    } catch (const std::bad_alloc&) {
        ThrowComError(E_OUTOFMEMORY);
    }
}

kvo::unique_bstr ToBstr(const std::wstring& wide)
{
    kvo::unique_bstr bstr(::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    if (!bstr)
        ThrowComError(E_OUTOFMEMORY);
    return bstr;
}

/// A narrow argument as a BSTR; a null pointer gives a null BSTR.
kvo::unique_bstr WidenToBstr(const char* text)
{
    return text ? ToBstr(WidenText(text)) : kvo::unique_bstr();
}

/// Raises CComError for a failing `hr` of a call made on `object` through interface `iid`.
template <typename T>
void Check(HRESULT hr, const kvo::CComPtr<T>& object, REFIID iid)
{
    if (FAILED(hr))
        ThrowComError(hr, object.Get(), iid);
}

template <typename T>
void RequireSet(const kvo::CComPtr<T>& pointer)
{
    if (!pointer)
        ThrowComError(E_POINTER);
}

/// The text content of `node`, narrowed.
std::string NodeText(const kvo::CComPtr<IXMLDOMNode>& node)
{
    BSTR raw = nullptr;
    Check(node->get_text(&raw), node, kDomNodeIid);
    kvo::unique_bstr text(raw);
    return NarrowBstr(text.get());
}

/// Switches off whatever could make the parser reach beyond the text. The component may lack a
/// setting; the prolog check of LoadXml refuses DTDs in any case.
void ConfineParser(const kvo::CComPtr<IXMLDOMDocument>& doc)
{
    doc->put_async(VARIANT_FALSE);
    doc->put_resolveExternals(VARIANT_FALSE);
    doc->put_validateOnParse(VARIANT_FALSE);
    kvo::CComPtr<IXMLDOMDocument2> doc2;
    if (SUCCEEDED(doc.QueryInterface(kDomDocument2Iid, doc2)) && doc2) {
        VARIANT prohibit;
        ::VariantInit(&prohibit);
        prohibit.vt = VT_BOOL;
        prohibit.boolVal = VARIANT_TRUE;
        kvo::unique_bstr name(::SysAllocString(kProhibitDtdProperty));
        if (name)
            doc2->setProperty(name.get(), prohibit);
    }
}

/// Name and text of every attribute of the element `node`.
std::vector<std::pair<std::string, std::string>> AttributesOf(const kvo::CComPtr<IXMLDOMNode>& node)
{
    std::vector<std::pair<std::string, std::string>> found;
    kvo::CComPtr<IXMLDOMNamedNodeMap> attributes;
    Check(node->get_attributes(attributes.Put()), node, kDomNodeIid);
    if (!attributes)
        return found;
    long count = 0;
    Check(attributes->get_length(&count), attributes, kDomNamedNodeMapIid);
    for (long i = 0; i < count; ++i) {
        kvo::CComPtr<IXMLDOMNode> attribute;
        Check(attributes->get_item(i, attribute.Put()), attributes, kDomNamedNodeMapIid);
        RequireSet(attribute);
        BSTR raw = nullptr;
        Check(attribute->get_nodeName(&raw), attribute, kDomNodeIid);
        kvo::unique_bstr name(raw);
        found.emplace_back(NarrowBstr(name.get()), NodeText(attribute));
    }
    return found;
}

}  // namespace

HRESULT CVorelXML::CreateDocument()
{
    m_pDoc.Release();
    kvo::CComPtr<IUnknown> unknown;
    HRESULT hr = ::CoCreateInstance(kDomDocumentClsid, nullptr, kCreateContext, IID_IUnknown, unknown.PutVoid());
    if (SUCCEEDED(hr))
        hr = ::OleRun(unknown.Get());
    kvo::CComPtr<IXMLDOMDocument> doc;
    if (SUCCEEDED(hr))
        hr = unknown.QueryInterface(kDomDocumentIid, doc);
    if (FAILED(hr))
        return hr;
    ConfineParser(doc);
    m_pDoc = std::move(doc);
    return hr;
}

int CVorelXML::LoadXml(const char* text)
{
    std::wstring wide = text ? WidenText(text) : std::wstring();
    RequireSet(m_pDoc);
    if (HasDocumentTypeDeclaration(wide))
        return 0;
    RemoveDeclaredEncoding(wide);
    kvo::unique_bstr bstr = ToBstr(wide);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    Check(m_pDoc->loadXML(bstr.get(), &loaded), m_pDoc, kDomDocumentIid);
    if (loaded == VARIANT_FALSE)
        return 0;
    kvo::CComPtr<IXMLDOMElement> root;
    Check(m_pDoc->get_documentElement(root.Put()), m_pDoc, kDomDocumentIid);
    m_pRoot = std::move(root);
    return 1;
}

bool CVorelXML::SelectNodes(const char* pattern)
{
    kvo::unique_bstr wide = WidenToBstr(pattern);
    RequireSet(m_pRoot);
    kvo::CComPtr<IXMLDOMNodeList> list;
    Check(m_pRoot->selectNodes(wide.get(), list.Put()), m_pRoot, kDomNodeIid);
    m_pNodeList = std::move(list);
    return static_cast<bool>(m_pNodeList);
}

kvo::CComPtr<IXMLDOMNode> CVorelXML::NextNode()
{
    RequireSet(m_pNodeList);
    kvo::CComPtr<IXMLDOMNode> node;
    Check(m_pNodeList->nextNode(node.Put()), m_pNodeList, kDomNodeListIid);
    m_pCurNode = std::move(node);
    return m_pCurNode;
}

std::vector<XmlChild> CVorelXML::GetChildElements()
{
    RequireSet(m_pCurNode);
    std::vector<XmlChild> texts;
    kvo::CComPtr<IXMLDOMNode> child;
    Check(m_pCurNode->get_firstChild(child.Put()), m_pCurNode, kDomNodeIid);
    while (child) {
        DOMNodeType type = NODE_INVALID;
        Check(child->get_nodeType(&type), child, kDomNodeIid);
        if (type == NODE_ELEMENT) {
            BSTR raw = nullptr;
            Check(child->get_nodeName(&raw), child, kDomNodeIid);
            kvo::unique_bstr name(raw);
            texts.push_back({NarrowBstr(name.get()), NodeText(child), AttributesOf(child)});
        }
        kvo::CComPtr<IXMLDOMNode> next;
        Check(child->get_nextSibling(next.Put()), child, kDomNodeIid);
        child = std::move(next);
    }
    return texts;
}

std::string CVorelXML::GetText()
{
    RequireSet(m_pCurNode);
    return NodeText(m_pCurNode);
}

std::string CVorelXML::GetAttribute(const char* name)
{
    kvo::unique_bstr wide = WidenToBstr(name);
    RequireSet(m_pCurNode);
    kvo::CComPtr<IXMLDOMNamedNodeMap> attributes;
    Check(m_pCurNode->get_attributes(attributes.Put()), m_pCurNode, kDomNodeIid);
    RequireSet(attributes);
    kvo::unique_bstr noNamespace(::SysAllocString(L""));
    if (!noNamespace)
        ThrowComError(E_OUTOFMEMORY);
    kvo::CComPtr<IXMLDOMNode> attribute;
    Check(attributes->getQualifiedItem(wide.get(), noNamespace.get(), attribute.Put()), attributes,
          kDomNamedNodeMapIid);
    return attribute ? NodeText(attribute) : std::string();
}
