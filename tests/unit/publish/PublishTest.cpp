// The publishing tool before anything is written: sorting a release into files and packages,
// refusing what the launcher would refuse or mishandle, the places and command lines a
// publication refuses and the ZIP writer's limits. Whole publications are installed by the real
// launcher in the publishing round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "LauncherFixtures.h"
#include "TempDir.h"
#include "tools/publish/KeyListPublish.h"
#include "tools/publish/PublishOptions.h"
#include "tools/publish/PublishPlan.h"
#include "tools/publish/Publisher.h"
#include "tools/publish/SigningKey.h"
#include "tools/publish/ZipWriter.h"

namespace {

const char kInstallDir[] = "C:\\Games\\";  // 9 bytes

ReleaseItem Item(const std::string& path, bool isDirectory = false, std::uint64_t size = 1)
{
    ReleaseItem item;
    std::stringstream parts(path);
    for (std::string component; std::getline(parts, component, '\\');)
        item.components.push_back(component);
    item.fullPath = "R:\\release\\" + path;
    item.isDirectory = isDirectory;
    item.size = isDirectory ? 0 : size;
    return item;
}

ReleaseItem Folder(const std::string& path) { return Item(path, true); }

PublishOptions Options(std::vector<std::string> packages = {})
{
    PublishOptions options;
    options.installDir = kInstallDir;
    options.packages = std::move(packages);
    return options;
}

/// True when some error of `plan` starts with `name`.
bool Refuses(const PublishPlan& plan, const std::string& name)
{
    return std::any_of(plan.errors.begin(), plan.errors.end(),
                       [&](const std::string& error) { return error.rfind(name, 0) == 0; });
}

const char kBaseUrl[] = "http://127.0.0.1:18481/files/v7";

void MakeFolder(const std::string& path) { ::CreateDirectoryA(path.c_str(), nullptr); }

struct Publication : ::testing::Test {
    TempDir dir;
    std::string release = dir / "release";
    std::string out = dir / "out";
    std::ostringstream output;
    std::ostringstream errors;

    void SetUp() override
    {
        MakeFolder(release);
        MakeFolder(release + "\\Data");
        WriteWholeFile(release + "\\Data\\b.txt", "b");
    }

    PublishOptions Options() const
    {
        PublishOptions options;
        options.releaseDir = release;
        options.outDir = out;
        options.baseUrl = kBaseUrl;
        options.version = 7;
        options.packages = {"Data"};
        return options;
    }

    PublishStatus Run(const PublishOptions& options) { return Publish(options, output, errors); }
};

}  // namespace

TEST(CheckPublishedName, RefusesWhatTheLauncherRefusesOrWindowsChanges)
{
    const struct {
        std::vector<std::string> components;
        bool accepted;
    } cases[] = {
        {{"Lobby.exe"}, true},
        {{"Data", "说明 1.txt"}, true},
        {{"a", "..", "b"}, false},               // leaves the installation
        {{"CON"}, false},                        // a device, whatever the extension or case
        {{"Data", "nul.txt"}, false},
        {{"a?b.txt"}, false},                    // what FindFirstFileA shows for an unwritable name
        {{"C:x"}, false},
        {{"trailing."}, false},                  // Windows drops the dot: another file than named
        {{std::string(243, 'n')}, true},         // 9 + 243 + ".kvotmp" = 259 bytes
        {{std::string(244, 'n')}, false},        // one more does not fit the 260-byte buffers
    };
    for (const auto& c : cases) {
        const std::string problem = CheckPublishedName(c.components, kInstallDir);
        EXPECT_EQ(problem.empty(), c.accepted) << c.components.back().substr(0, 20) << ": " << problem;
    }
}

TEST(PlanRelease, RefusesReleasesTheLauncherWouldMishandle)
{
    const struct {
        const char* what;
        std::vector<ReleaseItem> tree;
        std::vector<std::string> packages;
        const char* refused;  ///< the start of the expected error
    } cases[] = {
        {"a plain file the launcher takes for a package", {Item("Skin.zip")}, {}, "Skin.zip"},
        {"a package folder with a dot", {Folder("Skin.v2"), Item("Skin.v2\\a.png")}, {"Skin.v2"}, "Skin.v2"},
        {"an empty package", {Folder("Empty")}, {"Empty"}, "Empty.zip"},
        {"a package that is not there", {Item("x.txt")}, {"Missing"}, "--package Missing"},
        {"packages inside each other", {Folder("A"), Folder("A\\B"), Item("A\\B\\x")}, {"A", "A\\B"},
         "--package A\\B"},
        {"a device name inside a package", {Folder("Data"), Item("Data\\aux.txt")}, {"Data"}, "Data\\aux.txt"},
        {"a file the code page cannot write", {Item("\xE6?.txt")}, {}, "\xE6?.txt"},
    };
    for (const auto& c : cases) {
        const PublishPlan plan = PlanRelease(c.tree, Options(c.packages));
        EXPECT_TRUE(Refuses(plan, c.refused)) << c.what;
    }
}


TEST_F(Publication, BadPlacesAndAddressesWriteNothing)
{
    const struct {
        const char* what;
        const char* baseUrl;
        std::string outDir;
        const char* mirror = nullptr;
    } cases[] = {
        {"not http", "ftp://127.0.0.1/files/", out},
        {"a space in the path", "http://127.0.0.1/my files/", out},
        {"a query", "http://127.0.0.1/files/?v=7", out},
        {"the output inside the release", kBaseUrl, release + "\\out"},
        {"the output holding the release", kBaseUrl, dir.path()},
        {"a mirror without a host", kBaseUrl, out, "http:///files/"},
    };
    for (const auto& c : cases) {
        PublishOptions options = Options();
        options.baseUrl = c.baseUrl;
        options.outDir = c.outDir;
        if (c.mirror)
            options.mirrors.push_back(c.mirror);
        EXPECT_EQ(Run(options), kPublishBadCommandLine) << c.what;
        EXPECT_FALSE(FileExists(c.outDir + "\\AutoUpdate")) << c.what;
    }
    PublishOptions missing = Options();
    missing.releaseDir = dir / "no-such-release";
    EXPECT_EQ(Run(missing), kPublishBadCommandLine);
}

TEST_F(Publication, ALauncherIsPublishedOnlyWhenItRunsAndTrustsTheSigningKey)
{
    const std::string keyed = ReadWholeFile(LauncherFixture("LauncherTestKey"));
    const std::string unkeyed = ReadWholeFile(LauncherFixture("LauncherNoKey"));
    const struct {
        const char* what;
        std::string launcher;
        bool signedManifest;
        PublishStatus expected;
    } cases[] = {
        {"built with the signing key's public half", keyed, true, kPublishOk},
        {"built with another key", ReadWholeFile(LauncherFixture("LauncherOtherKey")), true, kPublishRefused},
        {"built without a key, signed manifest", unkeyed, true, kPublishRefused},
        {"built with a key, unsigned manifest", keyed, false, kPublishRefused},
        {"built without a key, unsigned manifest", unkeyed, false, kPublishOk},
        {"built for another processor", ForAnotherMachine(keyed), true, kPublishRefused},
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(release + "\\KvoLauncher.exe", c.launcher);
        PublishOptions options = Options();
        options.outDir = dir / ("out" + std::to_string(++run));
        options.includeLauncher = true;
        options.signKey = c.signedManifest ? KVO_TEST_SIGNING_KEY : "";
        EXPECT_EQ(Run(options), c.expected) << errors.str();
        EXPECT_EQ(FileExists(options.outDir + "\\AutoUpdate\\update.xml"), c.expected == kPublishOk);
    }
}

TEST_F(Publication, ARefreshChangesOnlyTheExpiryAndTheSignatureAndStillVerifies)
{
    PublishOptions options = Options();
    options.signKey = KVO_TEST_SIGNING_KEY;
    options.expiresDays = 30;
    ASSERT_EQ(Run(options), kPublishOk) << errors.str();
    const std::string manifestPath = out + "\\AutoUpdate\\update.xml";
    const std::string published = ReadWholeFile(manifestPath);

    PublishOptions refresh;
    refresh.refreshDir = out;
    refresh.signKey = KVO_TEST_SIGNING_KEY;
    refresh.expiresDays = 2;
    ASSERT_EQ(RefreshPublished(refresh, output, errors), kPublishOk) << errors.str();
    const std::string refreshed = ReadWholeFile(manifestPath);

    // Byte for byte the same but for the values of the expiry and the time it was signed, up to
    // the signature.
    const std::size_t at = published.find("Expires=\"") + 9;
    const std::size_t signature = published.find("<!-- KvoSignature: ");
    ASSERT_NE(signature, std::string::npos);
    ASSERT_NE(published.find("Issued=\""), std::string::npos);
    const auto withoutTimes = [](std::string document) {
        for (const char* attribute : {"Expires=\"", "Issued=\""})
            document.replace(document.find(attribute) + std::strlen(attribute), 20, 20, '-');
        return document.substr(0, document.find("<!-- KvoSignature: "));
    };
    EXPECT_NE(refreshed.substr(at, 20), published.substr(at, 20));
    EXPECT_EQ(withoutTimes(refreshed), withoutTimes(published));
    EXPECT_NE(refreshed.substr(signature), published.substr(signature));

    PublishOptions verify;
    verify.verifyDir = out;
    verify.publicKeys.push_back(KVO_TEST_PUBLIC_KEY);
    EXPECT_EQ(VerifyPublished(verify, output, errors), kPublishOk) << errors.str();
    EXPECT_EQ(TemporaryFilesBelow(out), std::vector<std::string>{});
}

// A web root's first key list moves launchers built with the single test key to three roots (two
// of which must sign); the manifest is then signed by the list's release key, and verifies from
// either the old key or the new roots.
TEST_F(Publication, AKeyListMovesASingleKeyToRootsWhoseReleaseKeySignsTheManifest)
{
    const auto testKey = [](const char* name) { return std::string(KVO_TEST_KEYS_DIR) + "/" + name; };
    PublishOptions list;
    list.keyListDir = out;
    list.rootKeys = {KVO_TEST_SIGNING_KEY, testKey("root-a.private")};
    list.releasePublics = {testKey("release-1.public")};
    list.newRootPublics = {testKey("root-a.public"), testKey("root-b.public"), testKey("root-c.public")};
    list.newThreshold = 2;
    list.expiresDays = PublishOptions::kDefaultKeyListExpiresDays;
    EXPECT_EQ(PublishKeyList(list, output, errors), kPublishRefused) << "one new root short of its threshold";
    EXPECT_FALSE(FileExists(out + "\\AutoUpdate\\keys.xml"));
    list.rootKeys.push_back(testKey("root-b.private"));
    ASSERT_EQ(PublishKeyList(list, output, errors), kPublishOk) << errors.str();
    EXPECT_EQ(ReadWholeFile(out + "\\AutoUpdate\\keys.1.xml"), ReadWholeFile(out + "\\AutoUpdate\\keys.xml"));

    PublishOptions options = Options();
    options.signKey = KVO_TEST_SIGNING_KEY;
    EXPECT_EQ(Run(options), kPublishRefused) << "the update key is no release key of the list";
    options.signKey = testKey("release-1.private");
    ASSERT_EQ(Run(options), kPublishOk) << errors.str();
    EXPECT_NE(ReadWholeFile(out + "\\AutoUpdate\\update.xml").find("Keys=\"1\""), std::string::npos);

    const struct {
        const char* what;
        std::vector<std::string> roots;
        int threshold;
        PublishStatus expected;
    } verifications[] = {
        {"from the single key", {KVO_TEST_PUBLIC_KEY}, 1, kPublishOk},
        {"from the new roots", {testKey("root-a.public"), testKey("root-b.public"), testKey("root-c.public")}, 2,
         kPublishOk},
        {"from roots that never signed", {testKey("root-d.public")}, 1, kPublishVerifyFailed},
    };
    for (const auto& v : verifications) {
        SCOPED_TRACE(v.what);
        PublishOptions verify;
        verify.verifyDir = out;
        verify.publicKeys = v.roots;
        verify.threshold = v.threshold;
        EXPECT_EQ(VerifyPublished(verify, output, errors), v.expected) << errors.str();
    }
}

// Each row: a manifest in the web root that this key did not sign as it is; a refresh must not
// vouch for it, and leaves it byte for byte.
TEST_F(Publication, ARefreshRefusesAManifestThatThisKeyDidNotSign)
{
    PublishOptions options = Options();
    options.signKey = KVO_TEST_SIGNING_KEY;
    ASSERT_EQ(Run(options), kPublishOk) << errors.str();
    const std::string manifestPath = out + "\\AutoUpdate\\update.xml";
    const std::string published = ReadWholeFile(manifestPath);
    std::string keyError;
    ASSERT_TRUE(WriteNewKey(dir / "other", keyError)) << keyError;
    options.outDir = dir / "other-out";
    options.signKey = dir / "other.private";
    ASSERT_EQ(Run(options), kPublishOk) << errors.str();

    std::string tampered = published;
    tampered.replace(tampered.find("Ver=\"7\""), 7, "Ver=\"8\"");
    const struct {
        const char* what;
        std::string document;
    } cases[] = {
        {"tampered", tampered},
        {"unsigned", published.substr(0, published.find("<!-- KvoSignature: "))},
        {"signed by another key", ReadWholeFile(options.outDir + "\\AutoUpdate\\update.xml")},
    };
    PublishOptions refresh;
    refresh.refreshDir = out;
    refresh.signKey = KVO_TEST_SIGNING_KEY;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(manifestPath, c.document);
        errors.str("");
        EXPECT_EQ(RefreshPublished(refresh, output, errors), kPublishRefused);
        EXPECT_NE(errors.str().find("nothing was written"), std::string::npos) << errors.str();
        EXPECT_EQ(ReadWholeFile(manifestPath), c.document);
    }
}

TEST(PublishOptions, CommandLine)
{
    const struct {
        std::vector<std::string> args;
        bool valid;
    } cases[] = {
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "12"}, true},
        {{"--release", "r", "--out", "o", "--base-url", "http://h/"}, false},  // no version
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "2147483648"}, false},
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "1", "--bogus", "x"}, false},
        {{"--refresh", "o", "--sign-key", "k.private", "--expires-days", "3650"}, true},
        {{"--refresh", "o"}, false},                                            // nothing to sign with
        {{"--refresh", "o", "--sign-key", "k", "--expires-days", "0"}, false},
        {{"--refresh", "o", "--sign-key", "k", "--version", "2"}, false},        // two uses at once
        {{"--refresh", "o", "--sign-key", "k", "--rollout", "25"}, true},
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "1", "--rollout", "101"}, false},
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "1", "--rollout", "5%"}, false},
        {{"--mirror", "http://m/"}, false},                                      // a mirror of nothing
    };
    for (const auto& c : cases) {
        PublishOptions options;
        std::string error;
        EXPECT_EQ(ParsePublishOptions(c.args, options, error), c.valid) << c.args.back() << ": " << error;
        EXPECT_EQ(error.empty(), c.valid);
    }
}

TEST(ZipWriter, RefusesWhatTheFormatCannotHold)
{
    constexpr std::uint32_t kDosTime = 0x58B16DEFu;
    TempDir dir;
    kvo::CFile output;
    ASSERT_TRUE(output.Open((dir / "x.zip").c_str(), kvo::CFile::modeCreate | kvo::CFile::modeWrite));
    CZipWriter zip(output);
    EXPECT_THROW(zip.AddDirectory("", kDosTime), kvo::CException);
    EXPECT_THROW(zip.AddDirectory(std::string(70000, 'a') + "/", kDosTime), kvo::CException);
    zip.AddDirectory("ok/", kDosTime);
    zip.Finish();
    EXPECT_THROW(zip.AddDirectory("late/", kDosTime), kvo::CException);
    EXPECT_THROW(zip.Finish(), kvo::CException);
}
