#include <gtest/gtest.h>

#include "TempDir.h"
#include "app/KvoLauncherApp.h"
#include "update/Settings.h"
#include "update/Rollout.h"

TEST(Settings, PVerReadAsZeroWhenAbsentAndWrittenBesideOtherKeys)
{
    TempDir dir;
    const std::string ini = dir / "LobbyDate\\Update.INI";
    EXPECT_EQ(ReadInstalledVersion(dir.path()), 0u) << "no file";
    ::CreateDirectoryA((dir / "LobbyDate").c_str(), nullptr);
    for (const char* absent : {"[Other]\r\nPVer=5\r\n", "[VerInfo]\r\nVer=5\r\n", "[VerInfo]\r\nPVer=abc\r\n"}) {
        WriteWholeFile(ini, absent);
        EXPECT_EQ(ReadInstalledVersion(dir.path()), 0u) << absent;
    }
    WriteWholeFile(ini, "[VerInfo]\r\nPVer=41\r\nOther=x\r\n");
    EXPECT_EQ(ReadInstalledVersion(dir.path()), 41u);
    ASSERT_EQ(WriteInstalledVersion(dir.path(), -1), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_NE(ReadWholeFile(ini).find("PVer=-1"), std::string::npos) << "signed decimal";
    EXPECT_NE(ReadWholeFile(ini).find("Other=x"), std::string::npos);
    // A path beyond the settings buffer is not used at all.
    const std::string longDir = "C:\\" + std::string(240, 'd') + "\\";
    EXPECT_EQ(SettingsPath(longDir), "");
    EXPECT_EQ(ReadInstalledVersion(longDir), 0u);
    EXPECT_EQ(WriteInstalledVersion(longDir, 5), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(SettingsPath("C:\\" + std::string(255 - 3 - 20 - 1, 'd') + "\\").size(), 255u);
}

TEST(UpdateDecision, AHigherVersionWithFilesUpdatesComparedUnsigned)
{
    EXPECT_TRUE(IsUpdateDue(42, 41, true));
    EXPECT_FALSE(IsUpdateDue(41, 41, true));
    EXPECT_FALSE(IsUpdateDue(40, 41, true));
    EXPECT_FALSE(IsUpdateDue(42, 41, false)) << "nothing listed: nothing to do";
    EXPECT_TRUE(IsUpdateDue(-1, 5, true)) << "Ver -1 is above every installed version";
    EXPECT_TRUE(IsUpdateDue(-1, 4000000000u, true));
}

TEST(Rollout, TheBucketOfAnIdAndAVersionIsTheFirstFourBytesOfTheirHashModulo100)
{
    // Expected values from Python: int.from_bytes(hashlib.sha256((id + str(ver)).encode()).digest()[:4], "big") % 100
    EXPECT_EQ(RolloutBucket("0123456789ABCDEF", 42), 59);
    EXPECT_EQ(RolloutBucket("0123456789ABCDEF", 43), 0);
    EXPECT_EQ(RolloutBucket("FFFFFFFFFFFFFFFF", 1), 34);
    EXPECT_EQ(RolloutBucket("a1b2c3d4e5f60718", 2147483647), 26);
    EXPECT_EQ(RolloutBucket("", 42), 99) << "an id that could not be kept: never in the first share";
    int percent = -1;
    for (const char* good : {"0", "5", "100"})
        EXPECT_TRUE(ParseRollout(good, percent)) << good;
    EXPECT_EQ(percent, 100);
    for (const char* bad : {"", "101", "-5", "+5", "5%", " 5", "5.0", "0100"})
        EXPECT_FALSE(ParseRollout(bad, percent)) << bad;
}

TEST(Rollout, TheIdIsMadeOnceKeptInItsOwnSectionAndMadeAnewWhenMalformed)
{
    TempDir dir;
    EXPECT_EQ(ReadOrMakeInstallId(dir.path()), "") << "no settings folder: nothing can be kept";
    ::CreateDirectoryA((dir / "LobbyDate").c_str(), nullptr);
    const std::string ini = dir / "LobbyDate\\Update.INI";
    WriteWholeFile(ini, "[VerInfo]\r\nPVer=41\r\n");
    const std::string id = ReadOrMakeInstallId(dir.path());
    EXPECT_TRUE(IsWellFormedInstallId(id)) << id;
    EXPECT_EQ(ReadOrMakeInstallId(dir.path()), id) << "the same at every start";
    EXPECT_NE(ReadWholeFile(ini).find("[KvoLauncher]\r\nInstallId=" + id), std::string::npos) << ReadWholeFile(ini);
    EXPECT_EQ(ReadInstalledVersion(dir.path()), 41u);
    WriteWholeFile(ini, "[KvoLauncher]\r\nInstallId=not-an-id\r\n");
    const std::string anew = ReadOrMakeInstallId(dir.path());
    EXPECT_TRUE(IsWellFormedInstallId(anew));
    EXPECT_NE(anew, id);
}
