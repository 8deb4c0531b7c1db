// The launcher replacing itself: a new copy is taken only when it can run where the running one
// runs and trusts the same key, and a close of the window never ends the process between the
// two renames of the swap.
#include <gtest/gtest.h>

#include <algorithm>

#include "LauncherFixtures.h"
#include "TempDir.h"
#include "framework/Handles.h"
#include "framework/Sync.h"
#include "framework/Thread.h"
#include "update/UpdateErrors.h"
#include "update/LauncherCheck.h"
#include "update/SelfUpdate.h"
#include "update/TrustState.h"
#include "update/TrustedKeys.h"

namespace {

LauncherImage ImageOf(const std::string& path)
{
    LauncherImage image;
    EXPECT_TRUE(ReadLauncherImage(path, image)) << path;
    return image;
}

TEST(SelfUpdateCheck, ANewLauncherMustRunWhereTheOldOneRunsAndTrustItsKey)
{
    TempDir dir;
    const std::string keyed = ReadWholeFile(LauncherFixture("LauncherTestKey"));
    const std::string console = WithPeHeaderField(keyed, offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem),
                                                  IMAGE_SUBSYSTEM_WINDOWS_CUI, true);
    const std::string otherMachine = ForAnotherMachine(keyed);
    ASSERT_NE(keyed, console);
    ASSERT_NE(keyed, otherMachine);
    WriteWholeFile(dir / "console.exe", console);
    WriteWholeFile(dir / "machine.exe", otherMachine);
    WriteWholeFile(dir / "cut.exe", keyed.substr(0, keyed.size() / 2));
    WriteWholeFile(dir / "notes.txt", "not a program at all");

    const LauncherImage withKey = ImageOf(LauncherFixture("LauncherTestKey"));
    const LauncherImage withoutKey = ImageOf(LauncherFixture("LauncherNoKey"));
    EXPECT_EQ(withKey.updateKey.size(), 88u) << "the key resource is read back from the file";
    EXPECT_EQ(withoutKey.updateKey, "");
    const struct {
        const char* what;
        std::string candidate;
        const LauncherImage& running;
        DWORD expected;
    } cases[] = {
        {"the same key", LauncherFixture("LauncherTestKey"), withKey, ERROR_SUCCESS},
        {"another key", LauncherFixture("LauncherOtherKey"), withKey, kErrorLauncherRefused},
        {"no key", LauncherFixture("LauncherNoKey"), withKey, kErrorLauncherRefused},
        {"another machine", dir / "machine.exe", withKey, kErrorLauncherRefused},
        {"a console program", dir / "console.exe", withKey, kErrorLauncherRefused},
        {"cut short", dir / "cut.exe", withKey, kErrorLauncherRefused},
        {"not a program", dir / "notes.txt", withKey, kErrorLauncherRefused},
        {"a key where the running one has none", LauncherFixture("LauncherTestKey"), withoutKey, ERROR_SUCCESS},
        {"no key where the running one has none", LauncherFixture("LauncherNoKey"), withoutKey, ERROR_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CheckReplacementLauncher(c.candidate, c.running), c.expected);
    }
}

// After a rotation the installation's roots are no longer the ones the running launcher was built
// with: a new launcher must carry the roots in effect, in any order, and one still built with the
// rotated-out roots is refused.
TEST(SelfUpdateCheck, ANewLauncherMustCarryTheRootsInEffectAfterARotation)
{
    LauncherImage builtWith = ImageOf(LauncherFixture("LauncherRoots"));
    const LauncherImage rotated = ImageOf(LauncherFixture("LauncherRotatedRoots"));
    const CTrustedKeys builtIn(builtWith.updateKey);
    RootSet rotatedRoots;
    ASSERT_TRUE(ParseRootSetText(rotated.updateKey, rotatedRoots));
    ASSERT_EQ(rotatedRoots.keys.size(), 3u);

    TempDir installation;
    LauncherImage running = builtWith;
    running.updateKey = TrustedRootText(installation.path(), builtIn);
    EXPECT_EQ(running.updateKey, builtWith.updateKey) << "no key list taken yet: the built-in roots";
    EXPECT_EQ(CheckReplacementLauncher(LauncherFixture("LauncherRoots"), running), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(CheckReplacementLauncher(LauncherFixture("LauncherRotatedRoots"), running), kErrorLauncherRefused);

    TrustState trust = BuiltInTrust(builtIn.Roots());
    trust.version = 2;
    trust.expires = "2099-01-01T00:00:00Z";
    trust.releaseKeys.push_back(rotatedRoots.keys.front());
    std::reverse(rotatedRoots.keys.begin(), rotatedRoots.keys.end());
    trust.roots = rotatedRoots;
    ASSERT_EQ(SaveTrust(installation.path(), trust), static_cast<DWORD>(ERROR_SUCCESS));
    running.updateKey = TrustedRootText(installation.path(), builtIn);
    EXPECT_EQ(CheckReplacementLauncher(LauncherFixture("LauncherRotatedRoots"), running),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(CheckReplacementLauncher(LauncherFixture("LauncherRoots"), running), kErrorLauncherRefused);
    EXPECT_EQ(CheckReplacementLauncher(LauncherFixture("LauncherTestKey"), running), kErrorLauncherRefused);

    // A launcher put there by other means, built with roots this trust never had, starts over from them.
    const LauncherImage testKey = ImageOf(LauncherFixture("LauncherTestKey"));
    EXPECT_EQ(TrustedRootText(installation.path(), CTrustedKeys(testKey.updateKey)), testKey.updateKey);
}

// A close waits for a swap under way: the hook holds the swap between its renames for a while,
// and the program must be back under its name when the wait returns.
kvo::unique_handle g_betweenRenames;
constexpr DWORD kHeldBetweenRenamesMs = 500;

void HoldBetweenRenames()
{
    ::SetEvent(g_betweenRenames.get());
    ::Sleep(kHeldBetweenRenamesMs);
}

struct SwapJob {
    std::string newFile;
    std::string program;
    bool replaced = false;
    kvo::unique_handle done{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

unsigned RunSwap(void* param)
{
    auto* job = static_cast<SwapJob*>(param);
    kvo::CFileException error(kvo::CFileException::none, 0, job->program);
    job->replaced = ReplaceRunningProgram(job->newFile, job->program, error);
    ::SetEvent(job->done.get());
    return 0;
}

TEST(SelfUpdateSwap, AWaitingCloseReturnsOnlyWithTheNewProgramInPlace)
{
    TempDir dir;
    SwapJob job{dir / "new.exe", dir / "KvoLauncher.exe"};
    WriteWholeFile(job.newFile, "new launcher");
    WriteWholeFile(job.program, "old launcher");
    g_betweenRenames.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    SetProgramSwapHookForTesting(HoldBetweenRenames);
    ASSERT_TRUE(kvo::BeginWorkerThread(RunSwap, &job));
    ASSERT_EQ(::WaitForSingleObject(g_betweenRenames.get(), INFINITE), WAIT_OBJECT_0);

    WaitForProgramSwap();
    EXPECT_EQ(ReadWholeFile(job.program), "new launcher");
    EXPECT_EQ(ReadWholeFile(job.program + kOldProgramSuffix), "old launcher");
    ASSERT_EQ(::WaitForSingleObject(job.done.get(), INFINITE), WAIT_OBJECT_0);
    SetProgramSwapHookForTesting(nullptr);
    EXPECT_TRUE(job.replaced);
}

}  // namespace
