// Fetching less than the whole file, against the loopback test server: a patch chosen by what the
// installation holds, and a package's changed range. Every shortcut that fails falls back to the
// whole file in the same run, with a log line, and the installation ends up with the release.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

#include "TempDir.h"
#include "UpdateTestSupport.h"
#include "support/Sha256.h"
#include "support/patch/PatchDiff.h"
#include "tools/publish/Publisher.h"
#include "update/Manifest.h"
#include "update/ManifestFetch.h"
#include "update/ReleaseArea.h"

namespace {

constexpr DWORD kTestReceiveTimeoutMs = 2000;

UpdatePolicy TestPolicy()
{
    UpdatePolicy policy = UpdatePolicy::Shipped();
    policy.retries = 0;
    policy.secondMs = 1;
    policy.receiveTimeoutMs = kTestReceiveTimeoutMs;
    return policy;
}

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>('a' + random() % 16);  // compressible, as real files are
    return bytes;
}

std::string HashOf(const std::string& bytes)
{
    return Sha256Hex(CSha256::Of(bytes.data(), bytes.size()));
}

/// Serves `bytes` at "/<name>"; its address.
std::string Serve(const std::string& name, const std::string& bytes)
{
    WriteWholeFile(ServedFilePath(name), bytes);
    return TestServerUrl("/" + name);
}

/// The server's log lines of requests for "/<path>" (with or without a query).
std::vector<std::string> RequestsFor(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream log(TestServerRequestLog());
    for (std::string line; std::getline(log, line);) {
        if (line.find("\"path\": \"/" + path + "\"") != std::string::npos ||
            line.find("\"path\": \"/" + path + "?") != std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

bool Logged(const ProgramDir& installation, const std::string& text)
{
    const std::vector<std::string> lines = installation.LogLines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// --- patches ---

struct PatchCase {
    const char* what;
    bool localIsOld;        ///< the installation holds the content the patch starts from
    bool patchHashListed;   ///< the manifest lists the served patch's own hash
    bool makesTheFile;      ///< the patch makes the entry's bytes (not some other file's)
    bool isPatch;           ///< the served bytes are a patch at all
    const char* logged;     ///< the log line's text after the file name; "" for none
};

TEST(PatchRoad, ThePatchThatFitsIsTakenAndEveryFailureFallsBackToTheWholeFile)
{
    const std::string old = RandomBytes(40000, 1);
    std::string made = old;
    made.insert(15000, RandomBytes(700, 2));
    const std::string other = RandomBytes(40000, 3);
    const PatchCase cases[] = {
        {"a patch that fits", true, true, true, true, "  补丁已应用  "},
        {"a local file matching no listed source", false, true, true, true, ""},
        {"a patch that fails its hash", true, false, true, true, "  补丁无法使用 536870913，下载完整文件"},
        {"a result that fails its hash", true, true, false, true, "  补丁无法使用 536870913，下载完整文件"},
        {"bytes that are no patch", true, true, true, false, "  补丁无法使用 536870918，下载完整文件"},
    };
    int row = 0;
    for (const PatchCase& c : cases) {
        SCOPED_TRACE(c.what);
        EngineHarness installation(TestPolicy());
        WriteWholeFile(installation.dir() / "data.bin", c.localIsOld ? old : RandomBytes(500, 4));
        const auto toMake = reinterpret_cast<const unsigned char*>(c.makesTheFile ? made.data() : other.data());
        const std::string patchBytes =
            c.isPatch ? MakePatch(reinterpret_cast<const unsigned char*>(old.data()), old.size(), toMake,
                                  c.makesTheFile ? made.size() : other.size())
                      : RandomBytes(300, 5);
        const std::string prefix = "patch" + std::to_string(++row);
        UpdateFileEntry entry;
        entry.FileName = "data.bin";
        entry.Length = static_cast<int>(made.size());
        entry.SHA256 = HashOf(made);
        entry.URL = Serve(prefix + "-whole.bin", made);
        FilePatch patch;
        patch.Source = "data.bin";
        patch.From = HashOf(old);
        patch.Length = static_cast<int>(patchBytes.size());
        patch.SHA256 = c.patchHashListed ? HashOf(patchBytes) : HashOf("another patch");
        patch.URL = Serve(prefix + "-patch.kvopatch", patchBytes);
        entry.Patches.push_back(patch);

        EXPECT_EQ(installation.Fetch(entry), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_TRUE(ReadWholeFile(installation.dir() / "data.bin") == made);
        const bool patched = std::string(c.logged) == "  补丁已应用  ";
        EXPECT_EQ(RequestsFor(prefix + "-patch.kvopatch").size(), c.localIsOld ? 1u : 0u);
        EXPECT_EQ(RequestsFor(prefix + "-whole.bin").size(), patched ? 0u : 1u);
        if (*c.logged)
            EXPECT_TRUE(Logged(installation, "data.bin" + std::string(c.logged)));
        else
            EXPECT_FALSE(Logged(installation, "补丁"));
        EXPECT_TRUE(TemporaryFilesBelow(installation.dir().path()).empty());
    }
}

// --- package ranges ---

using ReleaseFiles = std::map<std::string, std::string>;  // name below Data\ -> bytes

/// Releases of a Data package published by the publishing tool itself, into the server's root.
struct PackageRanges : ::testing::Test {
    TempDir work;
    EngineHarness installation{TestPolicy()};

    /// Writes `files` as the release folder `name`.
    std::string Release(const std::string& name, const ReleaseFiles& files)
    {
        const std::string root = work / name;
        ::CreateDirectoryA(root.c_str(), nullptr);
        ::CreateDirectoryA((root + "\\Data").c_str(), nullptr);
        for (const auto& file : files)
            WriteWholeFile(root + "\\Data\\" + file.first, file.second);
        return root;
    }

    /// Publishes `release` as version `version` below "/<prefix>/"; the Data.zip entry.
    UpdateFileEntry Publish(const std::string& release, int version, const std::string& prefix,
                            const std::vector<std::string>& previous = {})
    {
        PublishOptions options;
        options.releaseDir = release;
        options.outDir = ServedFilePath(".");  // files go below it at the base address's path
        options.baseUrl = TestServerUrl("/" + prefix + "/files/");
        options.version = version;
        options.versionGiven = true;
        options.packages = {"Data"};
        options.previous = previous;
        std::ostringstream output, errors;
        EXPECT_EQ(::Publish(options, output, errors), kPublishOk) << errors.str();
        ManifestRelease product;
        std::vector<UpdateFileEntry> entries;
        EXPECT_TRUE(ReadManifestEntries(JoinBodyLines(ReadWholeFile(options.outDir + "\\AutoUpdate\\update.xml")),
                                        product, entries));
        return entries.empty() ? UpdateFileEntry() : entries.front();
    }

    void ExpectInstalled(const ReleaseFiles& files)
    {
        for (const auto& file : files)
            EXPECT_TRUE(ReadWholeFile(installation.dir() / ("Data\\" + file.first)) == file.second) << file.first;
    }

    ReleaseFiles First()
    {
        ReleaseFiles files;
        for (int i = 0; i < 40; ++i)
            files["f" + std::to_string(100 + i) + ".txt"] = RandomBytes(3000, 100 + i);
        return files;
    }

    /// Three files changed, one added, one removed.
    ReleaseFiles Second()
    {
        ReleaseFiles files = First();
        files["f105.txt"] = RandomBytes(3100, 205);
        files["f117.txt"] = RandomBytes(2900, 217);
        files["f130.txt"] = RandomBytes(3000, 230);
        files["f140.txt"] = RandomBytes(1000, 240);
        files.erase("f102.txt");
        return files;
    }

    /// Installs the first release whole (which keeps its index) and publishes the second with the
    /// first as the previous release; the second's entry.
    UpdateFileEntry FirstInstalledSecondPublished(const std::string& prefix)
    {
        const std::string first = Release("v1", First());
        EXPECT_EQ(installation.Fetch(Publish(first, 1, prefix + "/v1")), static_cast<DWORD>(ERROR_SUCCESS));
        return Publish(Release("v2", Second()), 2, prefix + "/v2", {first});
    }
};

TEST_F(PackageRanges, OnlyTheChangedRangeIsFetchedInOneRequest)
{
    const UpdateFileEntry second = FirstInstalledSecondPublished("honoured");
    ASSERT_EQ(second.Deltas.size(), 1u);
    const PackageDelta& delta = second.Deltas.front();
    EXPECT_LT(delta.Length, static_cast<std::uint32_t>(second.Length) / 4);

    EXPECT_EQ(installation.Fetch(second), static_cast<DWORD>(ERROR_SUCCESS));
    ExpectInstalled(Second());
    const std::vector<std::string> asked = RequestsFor("honoured/v2/files/Data.zip");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked.front().find("\"Range\": \"bytes=" + std::to_string(delta.Offset) + "-" +
                                 std::to_string(delta.Offset + delta.Length - 1) + "\""),
              std::string::npos)
        << asked.front();
    EXPECT_TRUE(Logged(installation, "Data.zip  只下载变化部分  " + std::to_string(delta.Length) + "/" +
                                         std::to_string(second.Length) + " 字节"));
    // The kept index now is the second release's: the same release again fetches nothing.
    EXPECT_EQ(installation.Fetch(second), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(RequestsFor("honoured/v2/files/Data.zip").size(), 1u);
    // What stays staged is the first release's whole package (as after any whole download), never the range.
    const std::string range = CReleaseArea::StagedNameFor("Data.zip.kvorange");
    for (const std::string& left : TemporaryFilesBelow(installation.dir().path()))
        EXPECT_EQ(left.find(range.substr(2)), std::string::npos) << left;
}

TEST_F(PackageRanges, AServerThatIgnoresRangesGivesTheWholePackage)
{
    UpdateFileEntry second = FirstInstalledSecondPublished("ignored");
    second.URL += "?range=ignore";
    EXPECT_EQ(installation.Fetch(second), static_cast<DWORD>(ERROR_SUCCESS));
    ExpectInstalled(Second());
    EXPECT_EQ(RequestsFor("ignored/v2/files/Data.zip").size(), 2u);
    EXPECT_TRUE(Logged(installation, "Data.zip  变化部分无法使用 536870919，下载完整文件"));
}

TEST_F(PackageRanges, InstalledEntriesThatNoLongerMatchAreFetchedAloneByTheirPlaceInThePackage)
{
    const UpdateFileEntry second = FirstInstalledSecondPublished("damaged");
    ASSERT_NE(second.Directory.Length, 0u);
    // Two neighbours edited by hand and one lost, none of them changed by the release.
    WriteWholeFile(installation.dir() / "Data\\f110.txt", "edited by hand");
    WriteWholeFile(installation.dir() / "Data\\f111.txt", "edited too");
    ::DeleteFileA((installation.dir() / "Data\\f125.txt").c_str());
    EXPECT_EQ(installation.Fetch(second), static_cast<DWORD>(ERROR_SUCCESS));
    ExpectInstalled(Second());
    const std::vector<std::string> asked = RequestsFor("damaged/v2/files/Data.zip");
    // The changed range, the directory, the two neighbours in one request and the lost one.
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_NE(asked[1].find("-" + std::to_string(second.Length - 1) + "\""), std::string::npos) << asked[1];
    for (const std::string& request : asked)
        EXPECT_NE(request.find("\"Range\": \"bytes="), std::string::npos) << request;
    EXPECT_TRUE(Logged(installation, "Data.zip  只下载变化部分  "));
}

TEST_F(PackageRanges, WithoutTheDirectoryADamagedEntryComesWithTheWholePackage)
{
    UpdateFileEntry second = FirstInstalledSecondPublished("nodirectory");
    second.Directory = ByteRange();  // a manifest that does not say where the entries lie
    WriteWholeFile(installation.dir() / "Data\\f110.txt", "edited by hand");
    EXPECT_EQ(installation.Fetch(second), static_cast<DWORD>(ERROR_SUCCESS));
    ExpectInstalled(Second());
    EXPECT_TRUE(Logged(installation, "Data.zip  变化部分无法使用 536870920，下载完整文件"));
}

TEST_F(PackageRanges, MostEntriesChangedGivesTheWholePackageAtOnce)
{
    const std::string first = Release("v1", First());
    EXPECT_EQ(installation.Fetch(Publish(first, 1, "most/v1")), static_cast<DWORD>(ERROR_SUCCESS));
    ReleaseFiles third = First();
    for (int i = 0; i < 30; ++i)
        third["f" + std::to_string(100 + i) + ".txt"] = RandomBytes(3000, 300 + i);
    const UpdateFileEntry entry = Publish(Release("v3", third), 3, "most/v3", {first});
    EXPECT_TRUE(entry.Deltas.empty()) << "a range of most of the package is not listed";
    EXPECT_EQ(installation.Fetch(entry), static_cast<DWORD>(ERROR_SUCCESS));
    ExpectInstalled(third);
    const std::vector<std::string> asked = RequestsFor("most/v3/files/Data.zip");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked.front().find("Range"), std::string::npos);
    EXPECT_FALSE(Logged(installation, "变化部分"));
}

}  // namespace
