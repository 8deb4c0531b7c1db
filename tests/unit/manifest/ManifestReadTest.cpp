// Reading a fetched manifest into the update state: which elements count, the conversions, the
// ANSI texts, and documents that must be refused without reaching anything.
#include <gtest/gtest.h>

#include <objbase.h>

#include "ManifestTestSupport.h"
#include "support/VorelXML.h"
#include "update/Manifest.h"

namespace {

struct Read : ::testing::Test {
    DialogInTempDir installation;
    CKvoLauncherDlg& dialog = installation.dialog();
};

using Names = std::vector<std::string>;

}  // namespace

TEST(ManifestConversions, NumbersReadAsAtoiAndFlagsOffOnlyForNO)
{
    const struct {
        const char* text;
        int value;
    } numbers[] = {
        {"12abc", 12}, {"abc", 0}, {"", 0}, {"  \t7", 7}, {"+5", 5}, {"-1", -1}, {"0x10", 0},
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
    ASSERT_TRUE(ReadManifestText(dialog, manifest));
    EXPECT_EQ(dialog.m_nServerVer, 12);
    // filenum says 5: it is not compared with the File count.
    EXPECT_EQ(dialog.m_nFileCount, 3);
    EXPECT_EQ(dialog.m_nFilesLeft, 3);
    ASSERT_EQ(FileNamesOf(dialog), (Names{"Bin\\Lobby.dll", "Second.dll", "Third.dll"}));

    const UpdateFileEntry& first = dialog.m_files[0];
    EXPECT_EQ(first.FileVersion, "1.0.0.5");
    EXPECT_EQ(first.Length, 2048);
    EXPECT_EQ(first.LocalPath, "Bin");
    EXPECT_EQ(first.URL, "http://127.0.0.1/Bin/Lobby.dll");
    EXPECT_EQ(first.FileDateHigh, 30);
    EXPECT_EQ(first.FileDateLow, -2);
    EXPECT_TRUE(first.Register);  // "no" is not "NO"
    EXPECT_FALSE(first.ZipFile);
    EXPECT_FALSE(first.ForceOverwrite);
    EXPECT_TRUE(first.Execute);  // empty

    const UpdateFileEntry& bare = dialog.m_files[1];
    EXPECT_EQ(bare.FileVersion, "");
    EXPECT_EQ(bare.URL, "");
    EXPECT_EQ(bare.Length, 0);
    EXPECT_TRUE(bare.Register && bare.ZipFile && bare.ForceOverwrite && bare.Execute);
}

TEST(ManifestRead, VersionAndFilesComeFromTheFirstProductAndEveryFileBelowAProduct)
{
    const std::string twoProducts = "<R><Product Ver=\"1\">" + FileElement("a") + "</Product><Product Ver=\"2\">" +
                                    FileElement("b") + "</Product></R>";
    const struct {
        const char* name;
        std::string text;
        int version;
        Names files;
    } cases[] = {
        {"Ver read as a number", ManifestText("Ver=\"12abc\"", ""), 12, {}},
        {"Ver not a number", ManifestText("Ver=\"abc\"", ""), 0, {}},
        {"Ver missing", ManifestText("", ""), 0, {}},
        {"Ver empty", ManifestText("Ver=\"\"", ""), 0, {}},
        {"attribute names are case-sensitive", ManifestText("ver=\"9\"", ""), 0, {}},
        {"Ver negative", ManifestText("Ver=\"-1\"", ""), -1, {}},
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
        {"the same name twice gives two entries",
         "<R><Product Ver=\"1\">" + FileElement("x") + FileElement("x") + "</Product></R>", 1, {"x", "x"}},
        {"a root named Product is not the product",
         "<Product Ver=\"1\">" + FileElement("top") + "<Product Ver=\"2\">" + FileElement("inner") +
             "</Product></Product>",
         2, {"inner"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DialogInTempDir fresh;
        ASSERT_TRUE(ReadManifestText(fresh.dialog(), c.text));
        EXPECT_EQ(fresh.dialog().m_nServerVer, c.version);
        EXPECT_EQ(FileNamesOf(fresh.dialog()), c.files);
        EXPECT_EQ(fresh.dialog().m_nFileCount, static_cast<int>(c.files.size()));
        EXPECT_EQ(fresh.dialog().m_nFilesLeft, static_cast<int>(c.files.size()));
    }
    // -1 read as unsigned is above every installed version, so start-up updates.
    EXPECT_GT(static_cast<unsigned>(ManifestNumber("-1")), 4000000000u);
}

TEST_F(Read, RejectedDocumentsLeaveTheStateAsItWasAndReachNothing)
{
    // The test server is up: an external entity that was resolved would show in its request log
    // and would leave a file name built from the answer.
    const std::string entityUrl = TestServerUrl("/gen?text=6576696c");  // "evil"
    const std::string laughs =
        "<!DOCTYPE R [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
        "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
        "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\"><!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">"
        "<!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">]>";
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty body", ""},
        {"HTML error page", "<html><body><h1>404 Not Found</h1><br></body></html>"},
        {"truncated", ManifestText("Ver=\"3\"", FileElement("a")).substr(0, 60)},
        {"no Product", "<Update><Products Ver=\"3\"/></Update>"},
        {"Product nested below the root's children", "<R><Group><Product Ver=\"3\">" + FileElement("a") +
                                                          "</Product></Group></R>"},
        {"product in lower case", "<R><product Ver=\"3\"/></R>"},
        {"external entity over HTTP",
         "<?xml version=\"1.0\"?><!DOCTYPE R [<!ENTITY x SYSTEM \"" + entityUrl + "\">]>"
         "<R><Product Ver=\"1\"><File><FileName>&x;</FileName></File></Product></R>"},
        {"external entity on disk",
         "<!DOCTYPE R [<!ENTITY x SYSTEM \"file:///C:/windows/win.ini\">]>"
         "<R><Product Ver=\"1\"><File><FileName>&x;</FileName></File></Product></R>"},
        {"external DTD", "<!DOCTYPE R SYSTEM \"" + entityUrl + "\"><R><Product Ver=\"1\"/></R>"},
        {"entity expansion bomb", laughs + "<R><Product Ver=\"1\"><File><FileName>&i;</FileName></File></Product></R>"},
        {"DTD after a comment and a processing instruction",
         "<?xml version=\"1.0\"?>\r\n<!-- c --><?pi x?>\r\n<!DOCTYPE R []><R><Product Ver=\"1\"/></R>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ReadManifestText(dialog, c.text));
        EXPECT_EQ(dialog.m_nServerVer, 0);
        EXPECT_TRUE(dialog.m_files.empty());
        EXPECT_EQ(dialog.m_nFileCount, 0);
    }
    EXPECT_FALSE(dialog.m_bFailed);
    EXPECT_TRUE(installation.LogLines().empty()) << "a rejected document is not logged";
    EXPECT_EQ(TestServerRequestLog().find("6576696c"), std::string::npos) << "the entity was fetched";
}

TEST_F(Read, AppendsToEntriesAlreadyListed)
{
    ASSERT_TRUE(ReadManifestText(dialog, ManifestText("Ver=\"1\"", FileElement("first"))));
    ASSERT_TRUE(ReadManifestText(dialog, ManifestText("Ver=\"2\"", FileElement("second"))));
    EXPECT_EQ(FileNamesOf(dialog), (Names{"first", "second"}));
    EXPECT_EQ(dialog.m_nFileCount, 2);
    EXPECT_EQ(dialog.m_nServerVer, 2);
}

TEST(ManifestRead, AnsiTextsKeepTheirBytesWhateverTheDeclaredEncoding)
{
    // GBK bytes of the source's Chinese literals (the program's narrow texts are GBK).
    const std::string name = "大厅\\皮肤.dll";
    ASSERT_EQ(name, "\xB4\xF3\xCC\xFC\\\xC6\xA4\xB7\xF4.dll");
    const std::string product = "游戏大厅";
    const std::string body = "<Update><Product productname=\"" + product + "\" Ver=\"6\">" +
                             FileElement(name, "<LocalPath>" + product + "</LocalPath>") + "</Product></Update>";
    for (const char* declaration :
         {"", "<?xml version=\"1.0\"?>", "<?xml version=\"1.0\" encoding=\"gb2312\"?>",
          "<?xml version=\"1.0\" encoding='GBK' standalone=\"yes\"?>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
          "<?xml version=\"1.0\" encoding = \"ISO-8859-1\" ?>", "<?xml version=\"1.0\" encoding=\"x-unknown\"?>"}) {
        SCOPED_TRACE(declaration);
        DialogInTempDir fresh;
        ASSERT_TRUE(ReadManifestText(fresh.dialog(), std::string(declaration) + "\r\n" + body));
        EXPECT_EQ(fresh.dialog().m_nServerVer, 6);
        ASSERT_EQ(fresh.dialog().m_files.size(), 1u);
        EXPECT_EQ(fresh.dialog().m_files[0].FileName, name);
        EXPECT_EQ(fresh.dialog().m_files[0].LocalPath, product);
    }
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
    DialogInTempDir installation;
    EXPECT_FALSE(ReadManifestText(installation.dialog(), ManifestText("Ver=\"3\"", FileElement("a.dll"))));
    EXPECT_EQ(installation.dialog().m_nServerVer, 0);
    EXPECT_TRUE(installation.dialog().m_files.empty());
}
