// Whole publications: the manifest read back by the launcher's own parse, the served files and
// packages, and the places and command lines that must leave nothing behind.
#include <gtest/gtest.h>

#include <sstream>

#include "TempDir.h"
#include "app/KvoLauncherApp.h"
#include "app/KvoLauncherDlg.h"
#include "tools/publish/PublishOptions.h"
#include "tools/publish/Publisher.h"
#include "update/Manifest.h"

namespace {

const char kBaseUrl[] = "http://127.0.0.1:18481/files/v7";

std::string FixtureModulePath()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.rfind('\\') + 1) + "fixture\\LobbyCore.dll";
}

void MakeFolder(const std::string& path) { ::CreateDirectoryA(path.c_str(), nullptr); }

/// The manifest as the launcher sees it: the fetch joins the body's lines before the parse.
bool ReadAsLauncher(CKvoLauncherDlg& dialog, const std::string& manifest)
{
    std::string joined;
    for (const char c : manifest) {
        if (c != '\r' && c != '\n')
            joined.push_back(c);
    }
    return ReadManifestText(dialog, joined);
}

struct Publication : ::testing::Test {
    TempDir dir;
    std::string release = dir / "release";
    std::string out = dir / "out";
    std::ostringstream output;
    std::ostringstream errors;

    void SetUp() override
    {
        MakeFolder(release);
        ASSERT_TRUE(::CopyFileA(FixtureModulePath().c_str(), (release + "\\LobbyCore.dll").c_str(), FALSE));
        WriteWholeFile(release + "\\readme & notes.txt", "<read me>");
        MakeFolder(release + "\\数据");
        WriteWholeFile(release + "\\数据\\说明 #1.txt", "GBK \xCA\xFD\xBE\xDD");
        MakeFolder(release + "\\Data");
        MakeFolder(release + "\\Data\\sub");
        WriteWholeFile(release + "\\Data\\b.txt", std::string(100000, 'b'));
        WriteWholeFile(release + "\\Data\\sub\\a.txt", "a");
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

FILETIME LastWrite(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

}  // namespace

TEST_F(Publication, ManifestReadsBackAsTheReleaseThroughTheLaunchersParse)
{
    ASSERT_EQ(Run(Options()), kPublishOk) << errors.str();
    const std::string manifest = ReadWholeFile(out + "\\AutoUpdate\\update.xml");
    EXPECT_EQ(manifest.find("encoding"), std::string::npos);  // the launcher reads it as ANSI text

    theApp.m_strModuleDir = dir.path();
    CKvoLauncherDlg dialog;
    ASSERT_TRUE(ReadAsLauncher(dialog, manifest));
    EXPECT_EQ(dialog.m_nServerVer, 7);
    ASSERT_EQ(dialog.m_files.size(), 4u);

    const struct {
        const char* fileName;
        const char* version;
        const char* url;
        const char* localPath;
        bool package;
    } expected[] = {
        {"Data.zip", "", "/Data.zip", "", true},
        {"LobbyCore.dll", "1.2.3.4", "/LobbyCore.dll", "", false},
        {"readme & notes.txt", "", "/readme%20%26%20notes.txt", "", false},
        {"数据\\说明 #1.txt", "", "/%E6%95%B0%E6%8D%AE/%E8%AF%B4%E6%98%8E%20%231.txt", "数据\\", false},
    };
    for (std::size_t i = 0; i < dialog.m_files.size(); ++i) {
        const UpdateFileEntry& entry = dialog.m_files[i];
        const auto& want = expected[i];
        EXPECT_EQ(entry.FileName, want.fileName);
        EXPECT_EQ(entry.FileVersion, want.version) << entry.FileName;
        EXPECT_EQ(entry.URL, std::string(kBaseUrl) + want.url) << entry.FileName;
        EXPECT_EQ(entry.LocalPath, want.localPath) << entry.FileName;
        EXPECT_EQ(entry.ZipFile, want.package) << entry.FileName;
        EXPECT_FALSE(entry.Register);
        EXPECT_FALSE(entry.Execute);
        EXPECT_TRUE(entry.ForceOverwrite);
        const std::string served = out + "\\files\\v7\\" + entry.FileName;
        EXPECT_EQ(static_cast<std::size_t>(entry.Length), ReadWholeFile(served).size()) << entry.FileName;
        if (!want.package) {
            EXPECT_EQ(ReadWholeFile(served), ReadWholeFile(release + "\\" + entry.FileName));
            const FILETIME written = LastWrite(release + "\\" + entry.FileName);
            EXPECT_EQ(static_cast<DWORD>(entry.FileDateHigh), written.dwHighDateTime) << entry.FileName;
            EXPECT_EQ(static_cast<DWORD>(entry.FileDateLow), written.dwLowDateTime) << entry.FileName;
        }
    }
    EXPECT_FALSE(FileExists(out + "\\files\\v7\\Data.zip.kvotmp"));
    EXPECT_FALSE(FileExists(out + "\\AutoUpdate\\update.xml.kvotmp"));
}

TEST_F(Publication, BadPlacesAndAddressesWriteNothing)
{
    const struct {
        const char* what;
        const char* baseUrl;
        std::string outDir;
    } cases[] = {
        {"not http", "ftp://127.0.0.1/files/", out},
        {"no address", "files/v7/", out},
        {"a space in the path", "http://127.0.0.1/my files/", out},
        {"an encoded path", "http://127.0.0.1/my%20files/", out},
        {"a query", "http://127.0.0.1/files/?v=7", out},
        {"a dot-dot segment", "http://127.0.0.1/files/../etc/", out},
        {"the output inside the release", kBaseUrl, release + "\\out"},
        {"the output holding the release", kBaseUrl, dir.path()},
    };
    for (const auto& c : cases) {
        PublishOptions options = Options();
        options.baseUrl = c.baseUrl;
        options.outDir = c.outDir;
        EXPECT_EQ(Run(options), kPublishBadCommandLine) << c.what;
        EXPECT_FALSE(FileExists(c.outDir + "\\AutoUpdate")) << c.what;
    }
    PublishOptions missing = Options();
    missing.releaseDir = dir / "no-such-release";
    EXPECT_EQ(Run(missing), kPublishBadCommandLine);
}

TEST(PublishOptions, CommandLine)
{
    const struct {
        std::vector<std::string> args;
        bool valid;
    } cases[] = {
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "12"}, true},
        {{"--help"}, true},
        {{"--release", "r", "--out", "o", "--base-url", "http://h/"}, false},  // no version
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "0"}, false},
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "-3"}, false},
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "12abc"}, false},
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "2147483648"}, false},
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "1", "--bogus", "x"}, false},
        {{"--release", "r", "--out", "o", "--base-url", "http://h/", "--version", "1", "--package"}, false},
    };
    for (const auto& c : cases) {
        PublishOptions options;
        std::string error;
        EXPECT_EQ(ParsePublishOptions(c.args, options, error), c.valid) << c.args.back() << ": " << error;
        EXPECT_EQ(error.empty(), c.valid);
    }
    PublishOptions options;
    std::string error;
    ASSERT_TRUE(ParsePublishOptions({"--release", "r", "--out", "o", "--base-url", "http://h/", "--version",
                                     "2147483647", "--install-dir", "D:\\Kvo", "--package", "A", "--package", "B"},
                                    options, error));
    EXPECT_EQ(options.version, 2147483647);
    EXPECT_EQ(options.installDir, "D:\\Kvo\\");
    EXPECT_EQ(options.packages, (std::vector<std::string>{"A", "B"}));
    // Every option is explained.
    for (const char* name : {"--release", "--out", "--base-url", "--version", "--package", "--exclude", "--product",
                             "--install-dir", "--help"})
        EXPECT_NE(std::string(PublishUsage()).find(name), std::string::npos) << name;
}
