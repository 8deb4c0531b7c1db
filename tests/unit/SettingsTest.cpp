#include <gtest/gtest.h>

#include "TempDir.h"
#include "app/KvoLauncherApp.h"
#include "app/Settings.h"

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
    ASSERT_TRUE(WriteInstalledVersion(dir.path(), -1));
    EXPECT_NE(ReadWholeFile(ini).find("PVer=-1"), std::string::npos) << "signed decimal";
    EXPECT_NE(ReadWholeFile(ini).find("Other=x"), std::string::npos);
    // A path beyond the settings buffer is not used at all.
    const std::string longDir = "C:\\" + std::string(240, 'd') + "\\";
    EXPECT_EQ(SettingsPath(longDir), "");
    EXPECT_EQ(ReadInstalledVersion(longDir), 0u);
    EXPECT_FALSE(WriteInstalledVersion(longDir, 5));
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
