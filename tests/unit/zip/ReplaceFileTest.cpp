// A file written beside its target replaces it only when committed.
#include <gtest/gtest.h>

#include <cstdio>

#include "ZipTestSupport.h"
#include "support/ReplaceFile.h"

#ifdef _WIN32
#include <windows.h>

#include "framework/Handles.h"
#endif

namespace {

struct ReplaceFixture : ::testing::Test {
    TempDir dir;
    std::string target = dir / "target.dat";
    std::string temp = target + CTempFileBeside::kSuffix;
    void SetUp() override { WriteWholeFile(target, "old content"); }

    /// Writes `content` into a temporary file for the target and commits it when asked.
    bool Replace(const std::string& content, bool commit)
    {
        CTempFileBeside file(target);
        if (!file.Open())
            return false;
        file.File().Write(content.data(), static_cast<unsigned>(content.size()));
        EXPECT_TRUE(FileExists(temp));
        return commit ? file.Commit() : false;
    }
};

}  // namespace

// Each row: the target before (null: none), a leftover temporary file, what is written and
// whether it is committed; afterwards no temporary file remains.
TEST_F(ReplaceFixture, TheTargetChangesOnlyOnCommit)
{
    const struct {
        const char* before;
        const char* leftover;
        const char* content;
        bool commit;
        const char* after;
    } cases[] = {
        {"old content", nullptr, "new content", true, "new content"},
        {"old content", nullptr, "half writt", false, "old content"},
        {"old content", "leftover from a crash, longer than the new content", "new", true, "new"},
        {nullptr, nullptr, "fresh", true, "fresh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        c.before ? WriteWholeFile(target, c.before) : void(std::remove(target.c_str()));
        if (c.leftover)
            WriteWholeFile(temp, c.leftover);
        EXPECT_EQ(Replace(c.content, c.commit), c.commit);
        EXPECT_EQ(ReadWholeFile(target), c.after);
        EXPECT_FALSE(FileExists(temp));
    }
}

#ifdef _WIN32
// Windows refuses to replace a read-only file or one that a running program holds open.
TEST_F(ReplaceFixture, TargetThatCannotBeReplacedKeepsItsContent)
{
    for (const bool readOnly : {true, false}) {
        SCOPED_TRACE(readOnly ? "read-only" : "held open");
        ASSERT_TRUE(!readOnly || ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
        kvo::unique_hfile inUse(readOnly ? INVALID_HANDLE_VALUE
                                         : ::CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                         OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(readOnly || inUse);
        EXPECT_FALSE(Replace("new content", true));
        inUse.reset();
        ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(ReadWholeFile(target), "old content");
        EXPECT_FALSE(FileExists(temp));
    }
}
#endif
