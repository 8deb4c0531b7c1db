// A file written beside its target replaces it only when committed.
#include <gtest/gtest.h>

#include "ZipTestSupport.h"
#include "support/ReplaceFile.h"

#ifdef _WIN32
#include <windows.h>

#include "framework/Handles.h"
#endif

namespace {

struct ReplaceFixture : ::testing::Test {
    ScratchDir dir;
    std::string target = dir / "target.dat";
    std::string temp = target + CTempFileBeside::kSuffix;
    void SetUp() override { WriteBytes(target, "old content"); }

    /// Writes `content` into a temporary file for the target and commits it when asked.
    bool Replace(const std::string& content, bool commit)
    {
        CTempFileBeside file(target);
        if (!file.Open())
            return false;
        file.File().Write(content.data(), static_cast<unsigned>(content.size()));
        EXPECT_TRUE(PathExists(temp));
        return commit ? file.Commit() : false;
    }
};

}  // namespace

TEST_F(ReplaceFixture, CommitReplacesTheTarget)
{
    EXPECT_TRUE(Replace("new content", true));
    EXPECT_EQ(ReadBytes(target), "new content");
    EXPECT_FALSE(PathExists(temp));
}

TEST_F(ReplaceFixture, WithoutCommitTheTargetStaysAndTheTemporaryGoes)
{
    EXPECT_FALSE(Replace("half writt", false));
    EXPECT_EQ(ReadBytes(target), "old content");
    EXPECT_FALSE(PathExists(temp));
}

TEST_F(ReplaceFixture, LeftoverOfAnInterruptedRunIsOverwritten)
{
    WriteBytes(temp, "leftover from a crash, longer than the new content");
    EXPECT_TRUE(Replace("new", true));
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_FALSE(PathExists(temp));
}

TEST_F(ReplaceFixture, MissingTargetIsCreated)
{
    target = dir / "fresh.dat";
    temp = target + CTempFileBeside::kSuffix;
    EXPECT_TRUE(Replace("fresh", true));
    EXPECT_EQ(ReadBytes(target), "fresh");
}

TEST_F(ReplaceFixture, TemporaryPathTooLongForThePathBuffersIsRefused)
{
    CTempFileBeside file(dir / std::string(300, 'x'));
    kvo::CFileException error(kvo::CFileException::none, 0, "");
    EXPECT_FALSE(file.Open(&error));
    EXPECT_EQ(error.m_cause, kvo::CFileException::badPath);
}

#ifdef _WIN32
// Windows refuses to replace a read-only file or one that a running program holds open.
TEST_F(ReplaceFixture, TargetThatCannotBeReplacedKeepsItsContent)
{
    ASSERT_TRUE(::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(Replace("new content", true));
    EXPECT_EQ(ReadBytes(target), "old content");
    EXPECT_FALSE(PathExists(temp));
    ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);

    kvo::unique_hfile inUse(::CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                          nullptr));
    ASSERT_TRUE(inUse);
    EXPECT_FALSE(Replace("new content", true));
    inUse.reset();
    EXPECT_EQ(ReadBytes(target), "old content");
    EXPECT_FALSE(PathExists(temp));
}
#endif
