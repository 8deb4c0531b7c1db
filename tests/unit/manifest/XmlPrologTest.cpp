// The prolog checks made before the DOM sees a manifest.
#include <gtest/gtest.h>

#include "support/XmlProlog.h"

TEST(XmlProlog, DocumentTypeDeclarationFoundOnlyInTheProlog)
{
    const struct {
        const wchar_t* text;
        bool hasDtd;
    } cases[] = {
        {L"<!DOCTYPE R><R/>", true},
        {L"<?xml version=\"1.0\"?>\r\n<!DOCTYPE R [<!ENTITY x \"y\">]><R/>", true},
        {L"<?xml version=\"1.0\"?><!-- <R/> --><?pi?> \n\t<!DOCTYPE R><R/>", true},
        {L"<R/>", false},
        {L"<?xml version=\"1.0\"?><R><![CDATA[<!DOCTYPE R>]]></R>", false},
        {L"<!-- <!DOCTYPE R> --><R/>", false},
        {L"<R>&lt;!DOCTYPE</R>", false},
        {L"", false},
        {L"<!-- unterminated", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HasDocumentTypeDeclaration(c.text), c.hasDtd) << c.text;
}

TEST(XmlProlog, EncodingRemovedFromTheDeclarationOnly)
{
    const struct {
        const wchar_t* before;
        const wchar_t* after;
    } cases[] = {
        {L"<?xml version=\"1.0\" encoding=\"gb2312\"?><R/>", L"<?xml version=\"1.0\"?><R/>"},
        {L"<?xml version='1.0' encoding='GBK' standalone='yes'?><R/>", L"<?xml version='1.0' standalone='yes'?><R/>"},
        {L"<?xml version=\"1.0\"\r\n  encoding = \"UTF-8\" ?><R/>", L"<?xml version=\"1.0\" ?><R/>"},
        {L"<?xml version=\"1.0\"?><R encoding=\"x\"/>", L"<?xml version=\"1.0\"?><R encoding=\"x\"/>"},
        {L"<R encoding=\"x\"/>", L"<R encoding=\"x\"/>"},
        {L" <?xml version=\"1.0\" encoding=\"gb2312\"?><R/>", L" <?xml version=\"1.0\" encoding=\"gb2312\"?><R/>"},
        {L"<?xml-stylesheet encoding=\"a\"?><R/>", L"<?xml-stylesheet encoding=\"a\"?><R/>"},
        {L"<?xml version=\"1.0\" encoding=\"unterminated?><R/>", L"<?xml version=\"1.0\" encoding=\"unterminated?><R/>"},
    };
    for (const auto& c : cases) {
        std::wstring text = c.before;
        RemoveDeclaredEncoding(text);
        EXPECT_EQ(text, c.after) << c.before;
    }
}
