// The XML wrapper's cursor: missing values, the null-member cases and the DOM's own refusals.
#include <gtest/gtest.h>

#include <objbase.h>

#include "ManifestTestSupport.h"
#include "support/VorelXML.h"

namespace {

constexpr HRESULT kPointerError = E_POINTER;

struct Xml : ::testing::Test {
    CVorelXML xml;
    void SetUp() override
    {
        ::CoInitialize(nullptr);
        ASSERT_EQ(xml.CreateDocument(), S_OK);
    }
    void TearDown() override { ::CoUninitialize(); }
};

/// The status of the CComError that `step` raises; S_OK when it raises none.
template <typename Step>
HRESULT RaisedStatus(Step step)
{
    try {
        step();
    } catch (const CComError& error) {
        return error.Error();
    }
    return S_OK;
}

const char kDocument[] =
    "<Root a=\"1\" empty=\"\"><Item id=\"x\"><Name>first</Name><Name>second</Name><Deep><T>d</T></Deep></Item>"
    "<Item id=\"y\"/></Root>";

}  // namespace

TEST_F(Xml, MissingOrEmptyAttributeOrChildReadsEmpty)
{
    ASSERT_EQ(xml.LoadXml(kDocument), 1);
    ASSERT_TRUE(xml.SelectNodes("Item"));
    ASSERT_TRUE(xml.NextNode());
    EXPECT_EQ(xml.GetAttribute("id"), "x");
    EXPECT_EQ(xml.GetAttribute("missing"), "");
    EXPECT_EQ(xml.GetChildText("Name"), "first") << "the first child of that name";
    EXPECT_EQ(xml.GetChildText("T"), "") << "children only, not deeper descendants";
    EXPECT_EQ(xml.GetChildText("Deep"), "d") << "text of the node and its descendants";
    EXPECT_EQ(xml.GetChildText("None"), "");
    ASSERT_TRUE(xml.NextNode());
    EXPECT_EQ(xml.GetAttribute("id"), "y");
    EXPECT_FALSE(xml.NextNode());

    ASSERT_TRUE(xml.SelectNodes("."));
    ASSERT_TRUE(xml.NextNode());
    EXPECT_EQ(xml.GetAttribute("a"), "1");
    EXPECT_EQ(xml.GetAttribute("empty"), "");
}

TEST_F(Xml, NotWellFormedIsZeroWithoutExceptionAndKeepsThePreviousDocumentElement)
{
    for (const bool afterADocument : {false, true}) {
        if (afterADocument) {
            ASSERT_EQ(xml.LoadXml(kDocument), 1);
        }
        for (const char* text : {"", "<a>", "<a></b>", "plain text", "<a x=1/>", "<a/><b/>"}) {
            SCOPED_TRACE(text);
            int loaded = -1;
            EXPECT_EQ(RaisedStatus([&] { loaded = xml.LoadXml(text); }), S_OK);
            EXPECT_EQ(loaded, 0);
        }
    }
    ASSERT_TRUE(xml.SelectNodes("Item"));
    EXPECT_TRUE(xml.NextNode());
}

TEST_F(Xml, EmptySelectionClearsTheCurrentNode)
{
    ASSERT_EQ(xml.LoadXml(kDocument), 1);
    ASSERT_TRUE(xml.SelectNodes("Item"));
    ASSERT_TRUE(xml.NextNode());
    ASSERT_TRUE(xml.SelectNodes("Nothing"));
    // A second selection replaces the list but keeps the current node until the next step.
    EXPECT_EQ(xml.GetAttribute("id"), "x");
    EXPECT_FALSE(xml.NextNode());
    EXPECT_EQ(RaisedStatus([&] { xml.GetChildText("Name"); }), kPointerError);
    EXPECT_EQ(RaisedStatus([&] { xml.GetAttribute("id"); }), kPointerError);
}

TEST_F(Xml, StepsWithoutTheirPrerequisiteRaisePointerErrors)
{
    EXPECT_EQ(RaisedStatus([&] { xml.SelectNodes("Item"); }), kPointerError) << "no document element yet";
    EXPECT_EQ(RaisedStatus([&] { xml.NextNode(); }), kPointerError) << "no selection yet";
    EXPECT_EQ(RaisedStatus([&] { xml.GetChildText("Name"); }), kPointerError) << "no current node";

    CVorelXML withoutDocument;
    EXPECT_EQ(RaisedStatus([&] { withoutDocument.LoadXml(kDocument); }), kPointerError);

    // A text node has no attribute map.
    ASSERT_EQ(xml.LoadXml("<Root>text<Item/></Root>"), 1);
    ASSERT_TRUE(xml.SelectNodes("text()"));
    ASSERT_TRUE(xml.NextNode());
    EXPECT_EQ(RaisedStatus([&] { xml.GetAttribute("id"); }), kPointerError);
}

TEST_F(Xml, IsolatedRejectedPatternRaisesTheComponentsStatus)
{
    // Wine's DOM may crash on a malformed pattern once an earlier selection went through it, so
    // this runs in a process of its own (manifest_rejected_pattern).
    SKIP_UNLESS_ISOLATED();
    ASSERT_EQ(xml.LoadXml(kDocument), 1);
    const HRESULT status = RaisedStatus([&] { xml.SelectNodes("!!"); });
    EXPECT_TRUE(FAILED(status)) << std::hex << status;
}
