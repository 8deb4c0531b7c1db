// Staged rollouts and mirrors as the manifest gives them and as start-up decides by them.
#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "app/KvoLauncherApp.h"
#include "framework/Handles.h"
#include "update/Manifest.h"
#include "update/TrustedKeys.h"

namespace {

constexpr int kVersion = 42;
const char kKnownId[] = "0123456789ABCDEF";  // in bucket 59 for version 42

TEST(Rollout, AnInstallationTakesTheReleaseOnlyWhenItsBucketIsBelowTheShare)
{
    EngineHarness installation;
    CUpdateEngine& engine = installation.engine();
    const std::string ini = installation.dir() / "LobbyDate\\Update.INI";
    engine.m_nServerVer = kVersion;
    const struct {
        const char* what;
        int rollout;
        bool taken;
    } cases[] = {
        {"in: bucket 59, 60 %", 60, true},
        {"out: bucket 59, 59 %", 59, false},
        {"the halt", 0, false},
        {"everyone", 100, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(ini, std::string("[KvoLauncher]\r\nInstallId=") + kKnownId + "\r\n");
        engine.m_nRollout = c.rollout;
        EXPECT_EQ(IsInRollout(engine), c.taken);
    }
    const std::vector<std::string> lines = installation.LogLines();
    EXPECT_EQ(lines, (std::vector<std::string>{"本机不在本次分批发布范围  分组 59  Rollout 59",
                                               "本机不在本次分批发布范围  分组 59  Rollout 0"}));
    ::DeleteFileA(ini.c_str());
    engine.m_nRollout = 100;
    EXPECT_TRUE(IsInRollout(engine));
    EXPECT_FALSE(FileExists(ini)) << "a release for everyone needs no id";

    // A settings file that cannot be written (held open by another program; a read-only one does
    // not stop the root user the tests run as) keeps no id: the last bucket, said once per start.
    WriteWholeFile(ini, "[VerInfo]\r\nPVer=41\r\n");
    engine.m_nRollout = 99;
    {
        const kvo::unique_hfile locked(
            ::CreateFileA(ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(locked);
        EXPECT_FALSE(IsInRollout(engine));
    }
    EXPECT_EQ(installation.LogLines().back(), "本机不在本次分批发布范围  分组 99  Rollout 99");
    EXPECT_EQ(installation.LogLines().end()[-2], "安装标识无法保存  分组 99");
}

TEST(Rollout, AMissingShareIsEveryoneAndAShareOrMirrorNotWellFormedRefusesTheManifest)
{
    EngineHarness installation;
    CUpdateEngine& engine = installation.engine();
    const std::string file = FileElement("a.dll");
    const struct {
        const char* what;
        std::string product;  ///< attributes
        std::string content;  ///< before the File
        bool taken;
        int rollout;
        std::vector<std::string> mirrors;
        const char* logged;
    } cases[] = {
        {"no Rollout", "Ver=\"42\"", "", true, 100, {}, nullptr},
        {"25 %, two mirrors", "Ver=\"42\" Rollout=\"25\"",
         "<Mirror>http://a.example/v42/</Mirror><Mirror>https://b.example:8443/x/v42/</Mirror>", true, 25,
         {"http://a.example/v42/", "https://b.example:8443/x/v42/"}, nullptr},
        {"a share with a sign", "Ver=\"42\" Rollout=\"5%\"", "", false, 0, {}, "清单Rollout无效  "},
        {"a mirror that is not http", "Ver=\"42\"", "<Mirror>ftp://a.example/</Mirror>", false, 0, {},
         "清单镜像地址无效  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        engine.m_files.clear();
        const std::string url = GeneratedBodyUrl(ManifestText(c.product, c.content + file));
        bool taken = false;
        installation.RunOnWorker([&] { taken = ParseManifest(engine, url, CTrustedKeys(std::string())); });
        EXPECT_EQ(taken, c.taken);
        if (c.taken) {
            EXPECT_EQ(engine.m_nRollout, c.rollout);
            EXPECT_EQ(engine.m_mirrors, c.mirrors);
        } else {
            const std::vector<std::string> lines = installation.LogLines();
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back().rfind(c.logged + url, 0), 0u) << lines.back();
        }
    }
}

// A system library that cannot be loaded ends the road before its first call, said in the log, as
// every other start that cannot update does (the caller then starts the lobby).
TEST(Rollout, ARoadWhoseSystemLibraryCannotBeLoadedIsNotTaken)
{
    EngineHarness installation;
    CLog& log = installation.engine().m_log;
    EXPECT_TRUE(LoadRoadLibraries({"wininet.dll", "bcrypt.dll"}, log));
    EXPECT_FALSE(LoadRoadLibraries({"wininet.dll", "kvo-no-such-library.dll", "bcrypt.dll"}, log));
    EXPECT_EQ(installation.LogLines(), std::vector<std::string>{"系统组件无法加载 kvo-no-such-library.dll 126"});
}

}  // namespace
