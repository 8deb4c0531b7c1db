#include <gtest/gtest.h>

#include "TempDir.h"
#include "app/KvoLauncherApp.h"
#include "app/Settings.h"

namespace {
struct SettingsFixture : ::testing::Test {
    TempDir dir;
    std::string ini = dir / "LobbyDate\\Update.INI";
    void SetUp() override { ::CreateDirectoryA((dir / "LobbyDate").c_str(), nullptr); }
};
}  // namespace

TEST_F(SettingsFixture, ReadsPVerOfVerInfo)
{
    WriteWholeFile(ini, "[VerInfo]\r\nPVer=41\r\n");
    EXPECT_EQ(ReadInstalledVersion(dir.path()), 41u);
}

TEST_F(SettingsFixture, MissingFileSectionKeyOrNumberReadAsZero)
{
    EXPECT_EQ(ReadInstalledVersion(dir.path()), 0u);
    WriteWholeFile(ini, "[Other]\r\nPVer=5\r\n");
    EXPECT_EQ(ReadInstalledVersion(dir.path()), 0u);
    WriteWholeFile(ini, "[VerInfo]\r\nVer=5\r\n");
    EXPECT_EQ(ReadInstalledVersion(dir.path()), 0u);
    WriteWholeFile(ini, "[VerInfo]\r\nPVer=abc\r\n");
    EXPECT_EQ(ReadInstalledVersion(dir.path()), 0u);
}

TEST_F(SettingsFixture, WriteKeepsOtherKeysAndWritesSignedDecimal)
{
    WriteWholeFile(ini, "[VerInfo]\r\nPVer=3\r\nOther=x\r\n");
    ASSERT_TRUE(WriteInstalledVersion(dir.path(), -1));
    EXPECT_EQ(ReadWholeFile(ini).find("PVer=-1") != std::string::npos, true);
    EXPECT_NE(ReadWholeFile(ini).find("Other=x"), std::string::npos);
}

TEST(SettingsPathLimit, PathsBeyondTheBufferAreNotUsed)
{
    const std::string longDir = "C:\\" + std::string(240, 'd') + "\\";
    EXPECT_EQ(SettingsPath(longDir), "");
    EXPECT_EQ(ReadInstalledVersion(longDir), 0u);
    EXPECT_FALSE(WriteInstalledVersion(longDir, 5));
    const std::string fits = "C:\\" + std::string(255 - 3 - 20 - 1, 'd') + "\\";
    EXPECT_EQ(SettingsPath(fits).size(), 255u);
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
