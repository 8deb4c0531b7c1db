// Reading a fetched manifest into the update state: which elements count, the conversions, the
// ANSI texts, and documents that must be refused without reaching anything.
#include <gtest/gtest.h>

#include <objbase.h>

#include "UpdateTestSupport.h"
#include "support/VorelXML.h"
#include "update/Manifest.h"

namespace {

struct Read : ::testing::Test {
    EngineHarness installation;
    CUpdateEngine& engine = installation.engine();
};

using Names = std::vector<std::string>;

}  // namespace

TEST(ManifestConversions, NumbersReadAsAtoiAndFlagsOffOnlyForNO)
{
    const struct {
        const char* text;
        int value;
    } numbers[] = {
        {"12abc", 12}, {"abc", 0}, {"  \t7", 7}, {"-1", -1}, {"0x10", 0},
        {"2147483647", 2147483647}, {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1},
    };
    for (const auto& n : numbers)
        EXPECT_EQ(ManifestNumber(n.text), n.value) << n.text;

    for (const char* on : {"", "no", "No", "nO", "YES", " NO", "NO "})
        EXPECT_TRUE(ManifestFlag(on)) << '"' << on << '"';
    EXPECT_FALSE(ManifestFlag("NO"));
}

TEST_F(Read, EntryFieldsComeFromTheirElements)
{
    const std::string manifest = ManifestText(
        "productname=\"Lobby\" filenum=\"5\" Ver=\"12abc\"",
        FileElement("Bin\\Lobby.dll",
                    "<FileVersion>1.0.0.5</FileVersion><Length>2048</Length><LocalPath>Bin</LocalPath>"
                    "<URL>http://127.0.0.1/Bin/Lobby.dll</URL><FileDateHigh>30</FileDateHigh>"
                    "<FileDateLow>-2</FileDateLow><Register>no</Register><ZipFile>NO</ZipFile>"
                    "<ForceOverwrite>NO</ForceOverwrite><Execute></Execute>") +
            FileElement("Second.dll") + FileElement("Third.dll"));
    ASSERT_TRUE(ReadManifestText(engine, manifest));
    EXPECT_EQ(engine.m_nServerVer, 12);
    // filenum says 5: it is not compared with the File count.
    EXPECT_EQ(engine.m_nFileCount, 3);
    EXPECT_EQ(engine.m_nFilesLeft, 3);
    ASSERT_EQ(FileNamesOf(engine), (Names{"Bin\\Lobby.dll", "Second.dll", "Third.dll"}));

    const UpdateFileEntry& first = engine.m_files[0];
    EXPECT_EQ(first.FileVersion + "|" + first.LocalPath + "|" + first.URL,
              "1.0.0.5|Bin|http://127.0.0.1/Bin/Lobby.dll");
    EXPECT_EQ(std::vector<int>({first.Length, first.FileDateHigh, first.FileDateLow}),
              std::vector<int>({2048, 30, -2}));
    // "no" is not "NO"; an empty flag is on.
    EXPECT_EQ(std::vector<bool>({first.Register, first.ZipFile, first.ForceOverwrite, first.Execute}),
              std::vector<bool>({true, false, false, true}));
    const UpdateFileEntry& bare = engine.m_files[1];
    EXPECT_EQ(bare.FileVersion + bare.URL, "");
    EXPECT_TRUE(bare.Length == 0 && bare.Register && bare.ZipFile && bare.ForceOverwrite && bare.Execute);
}

TEST_F(Read, VersionAndFilesComeFromTheFirstProductAndEveryFileBelowAProduct)
{
    const std::string twoProducts = "<R><Product Ver=\"1\">" + FileElement("a") + "</Product><Product Ver=\"2\">" +
                                    FileElement("b") + "</Product></R>";
    const struct {
        const char* name;
        std::string text;
        int version;
        Names files;
    } cases[] = {
        {"a Product without usable files still gives the version", ManifestText("Ver=\"8\"", FileElement("")), 8,
         {}},
        {"two Products: attributes of the first, files of both in order", twoProducts, 1, {"a", "b"}},
        {"a File two levels below Product",
         "<R><Product Ver=\"1\"><Group><Sub>" + FileElement("deep") + "</Sub></Group>" + FileElement("flat") +
             "</Product></R>",
         1, {"deep", "flat"}},
        {"a File outside every Product is ignored",
         "<R>" + FileElement("stray") + "<Product Ver=\"1\">" + FileElement("in") + "</Product></R>", 1, {"in"}},
        {"empty or missing FileName skipped",
         "<R><Product Ver=\"1\">" + FileElement("") + "<File><URL>u</URL></File>" + FileElement("kept") +
             "</Product></R>",
         1, {"kept"}},
        {"a root named Product is not the product",
         "<Product Ver=\"1\">" + FileElement("top") + "<Product Ver=\"2\">" + FileElement("inner") +
             "</Product></Product>",
         2, {"inner"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        engine.m_files.clear();  // the parse appends to what is listed
        ASSERT_TRUE(ReadManifestText(engine, c.text));
        EXPECT_EQ(engine.m_nServerVer, c.version);
        EXPECT_EQ(FileNamesOf(engine), c.files);
        EXPECT_EQ(engine.m_nFileCount, static_cast<int>(c.files.size()));
        EXPECT_EQ(engine.m_nFilesLeft, static_cast<int>(c.files.size()));
    }
}

TEST_F(Read, RejectedDocumentsLeaveTheStateAsItWasAndReachNothing)
{
    // The test server is up: an external entity that was resolved would show in its request log
    // and would leave a file name built from the answer.
    const std::string entityUrl = TestServerUrl("/gen?text=6576696c");  // "evil"
    // Each level ten times the one before: refused for its DTD before anything is expanded.
    const std::string laughs =
        "<!DOCTYPE R [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>";
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty body", ""},
        {"HTML error page", "<html><body><h1>404 Not Found</h1><br></body></html>"},
        {"truncated", ManifestText("Ver=\"3\"", FileElement("a")).substr(0, 60)},
        {"Product nested below the root's children", "<R><Group><Product Ver=\"3\">" + FileElement("a") +
                                                          "</Product></Group></R>"},
        {"external entity over HTTP",
         "<?xml version=\"1.0\"?><!DOCTYPE R [<!ENTITY x SYSTEM \"" + entityUrl + "\">]>"
         "<R><Product Ver=\"1\"><File><FileName>&x;</FileName></File></Product></R>"},
        {"entity expansion bomb", laughs + "<R><Product Ver=\"1\"><File><FileName>&d;</FileName></File></Product></R>"},
        {"DTD after a comment", "<?xml version=\"1.0\"?>\r\n<!-- c -->\r\n<!DOCTYPE R []><R><Product Ver=\"1\"/></R>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ReadManifestText(engine, c.text));
        EXPECT_EQ(engine.m_nServerVer, 0);
        EXPECT_TRUE(engine.m_files.empty());
        EXPECT_EQ(engine.m_nFileCount, 0);
    }
    EXPECT_FALSE(engine.m_bFailed);
    EXPECT_TRUE(installation.LogLines().empty()) << "a rejected document is not logged";
    EXPECT_EQ(TestServerRequestLog().find("6576696c"), std::string::npos) << "the entity was fetched";
}

TEST(WithoutXmlComponent, IsolatedManifestIsRefusedWithoutAnAbnormalEnd)
{
    // Run by manifest_without_xml_component, in a process where the DOM cannot be created.
    SKIP_UNLESS_ISOLATED();
    {
        ::CoInitialize(nullptr);
        CVorelXML probe;
        ASSERT_TRUE(FAILED(probe.CreateDocument())) << "the component is still there";
    }
    EngineHarness installation;
    EXPECT_FALSE(ReadManifestText(installation.engine(), ManifestText("Ver=\"3\"", FileElement("a.dll"))));
    EXPECT_EQ(installation.engine().m_nServerVer, 0);
    EXPECT_TRUE(installation.engine().m_files.empty());
}
