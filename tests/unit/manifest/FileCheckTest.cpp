// The local file check against real modules built with version resources, plain files, missing
// files and files held open by others.
#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "framework/Handles.h"
#include "update/FileCheck.h"

namespace {

/// The directory of this test program, where the fixture modules are built.
std::string ProgramDir()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.erase(dir.rfind('\\') + 1);
}

struct FileCheck : ::testing::Test {
    TempDir installation;
    void SetUp() override
    {
        ::CreateDirectoryA((installation / "Bin").c_str(), nullptr);
        for (const char* module : {"Version1234.dll", "VersionHigh.dll"})
            ASSERT_TRUE(::CopyFileA((ProgramDir() + module).c_str(), (installation / module).c_str(), FALSE))
                << module;
        // Copies named like packages, and like files whose extension only ends in zip.
        for (const char* copy : {"Bin\\Lobby.dll", "Skin.zip", "Skin.new.zip", "Data.ZIP"})
            ASSERT_TRUE(::CopyFileA((ProgramDir() + "Version1234.dll").c_str(), (installation / copy).c_str(), FALSE))
                << copy;
        WriteWholeFile(installation / "notes.txt", "MZ not really a module, and no version resource");
    }
    bool Outdated(const std::string& fileName, const std::string& fileVersion)
    {
        return IsFileOutdated(Entry(fileName, "", fileVersion), installation.path());
    }
};

}  // namespace

TEST(VersionTexts, FourNumbersCompareNumericallyOthersAsText)
{
    const struct {
        const char* left;
        const char* right;
        int order;  // sign of the result
    } cases[] = {
        {"1.2.3.4", "1.2.3.4", 0},
        {"1.2.3.5", "1.2.3.4", 1},
        {"1.0.10.0", "1.0.9.0", 1},    // as text this was smaller
        {"2.0.0.0", "10.0.0.0", -1},   // as text this was greater
        {"1.02.3.4", "1.2.3.4", 0},
        {"1.2.3.99999999999999999999", "1.2.3.65535", 1},
        {"", "1.2.3.4", -1},           // an empty version never replaces a file
        {"1.2.3", "1.2.3.4", -1},      // not four numbers: the shorter prefix is smaller
        {"1.2.3.4a", "1.2.3.4", 1},
        {"1.2.3.B", "1.2.3.a", 1},     // text, case-insensitive
        {"1.2.3.A", "1.2.3.a", 0},
        {"-1.2.3.4", "1.2.3.4", -1},
    };
    for (const auto& c : cases) {
        const int order = CompareVersionTexts(c.left, c.right);
        EXPECT_EQ((order > 0) - (order < 0), c.order) << c.left << " vs " << c.right;
        const int reverse = CompareVersionTexts(c.right, c.left);
        EXPECT_EQ((reverse > 0) - (reverse < 0), -c.order) << c.right << " vs " << c.left;
    }
}

TEST_F(FileCheck, OutdatedDecisions)
{
    const struct {
        const char* name;
        const char* fileVersion;
        bool outdated;
    } cases[] = {
        {"Version1234.dll", "1.2.3.4", false},
        {"Version1234.dll", "1.2.3.5", true},  // the fixed file version: not 9.8.7.6 nor the text 7.7.7.7
        {"Version1234.dll", "1.2.3.3", false},
        {"Version1234.dll", "", false},
        {"Bin\\Lobby.dll", "1.2.4.0", true},
        {"notes.txt", "", true},
        {"missing.dll", "", true},
        {"Skin.zip", "1.2.3.4", true},      // a package: always, whatever is on the disk
        {"Skin.new.zip", "1.2.3.4", false}, // not a package: the module is looked at
        {"Data.ZIP", "1.2.3.5", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Outdated(c.name, c.fileVersion), c.outdated) << c.name << " " << c.fileVersion;
}

TEST_F(FileCheck, FileHeldWithoutReadSharingIsOutdated)
{
    const std::string module = installation / "Version1234.dll";
    {
        kvo::unique_hfile holder(::CreateFileA(module.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_TRUE(Outdated("Version1234.dll", "1.2.3.4"));
    }
    // Others that read and write with sharing do not stand in the way.
    kvo::unique_hfile writer(::CreateFileA(module.c_str(), GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_FALSE(Outdated("Version1234.dll", "1.2.3.4"));
}
