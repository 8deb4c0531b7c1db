// Sorting a release into files and packages, and refusing what the launcher would refuse or
// mishandle, before anything is written.
#include <gtest/gtest.h>

#include <algorithm>

#include "tools/publish/PublishPlan.h"

namespace {

const char kInstallDir[] = "C:\\Games\\";  // 9 bytes

ReleaseItem Item(const std::string& path, bool isDirectory = false, std::uint64_t size = 1)
{
    ReleaseItem item;
    std::string component;
    for (const char c : path) {
        if (c == '\\') {
            item.components.push_back(component);
            component.clear();
        } else {
            component.push_back(c);
        }
    }
    item.components.push_back(component);
    item.fullPath = "R:\\release\\" + path;
    item.isDirectory = isDirectory;
    item.size = isDirectory ? 0 : size;
    return item;
}

ReleaseItem Folder(const std::string& path) { return Item(path, true); }

PublishOptions Options(std::vector<std::string> packages = {}, std::vector<std::string> excludes = {})
{
    PublishOptions options;
    options.installDir = kInstallDir;
    options.packages = std::move(packages);
    options.excludes = std::move(excludes);
    return options;
}

std::vector<std::string> Names(const std::vector<ReleaseItem>& items)
{
    std::vector<std::string> names;
    for (const ReleaseItem& item : items)
        names.push_back(item.RelativeName());
    return names;
}

/// True when some error of `plan` starts with `name`.
bool Refuses(const PublishPlan& plan, const std::string& name)
{
    return std::any_of(plan.errors.begin(), plan.errors.end(),
                       [&](const std::string& error) { return error.rfind(name, 0) == 0; });
}

}  // namespace

TEST(CheckPublishedName, RefusesWhatTheLauncherRefusesOrWindowsChanges)
{
    const struct {
        std::vector<std::string> components;
        bool accepted;
    } cases[] = {
        {{"Lobby.exe"}, true},
        {{"Data", "说明 1.txt"}, true},
        {{"a", "..", "b"}, false},               // leaves the installation
        {{".."}, false},
        {{"CON"}, false},                        // a device, whatever the extension or case
        {{"Data", "nul.txt"}, false},
        {{"com1.dll"}, false},
        {{"a?b.txt"}, false},                    // what FindFirstFileA shows for an unwritable name
        {{"a*b"}, false},
        {{"C:x"}, false},
        {{"pipe|name"}, false},
        {{"quote\"d"}, false},
        {{"trailing."}, false},                  // Windows drops the dot: another file than named
        {{"trailing "}, false},
        {{"tab\tname"}, false},
        {{std::string(243, 'n')}, true},         // 9 + 243 + ".kvotmp" = 259 bytes
        {{std::string(244, 'n')}, false},        // one more does not fit the 260-byte buffers
        {{std::string(120, 'a'), std::string(122, 'b')}, true},
        {{std::string(120, 'a'), std::string(123, 'b')}, false},
    };
    for (const auto& c : cases) {
        const std::string problem = CheckPublishedName(c.components, kInstallDir);
        EXPECT_EQ(problem.empty(), c.accepted) << c.components.back().substr(0, 20) << ": " << problem;
    }
    // The same name fits a short installation folder and not a long one.
    const std::vector<std::string> name = {std::string(230, 'n')};
    EXPECT_EQ(CheckPublishedName(name, "C:\\G\\"), "");
    EXPECT_NE(CheckPublishedName(name, "C:\\Program Files (x86)\\Games\\Kvo\\"), "");
}

TEST(PlanRelease, PackagesTakeTheirFolderAndNameEntriesBesideThemselves)
{
    const std::vector<ReleaseItem> tree = {
        Item("Lobby.exe"), Folder("Media"), Folder("Media\\Sounds"), Item("Media\\Sounds\\click.wav"),
        Folder("Media\\Sounds\\ui"), Item("Media\\Sounds\\ui\\ok.wav"), Item("Media\\readme.txt"),
    };
    const PublishPlan plan = PlanRelease(tree, Options({"Media/Sounds/"}));
    ASSERT_TRUE(plan.errors.empty()) << plan.errors.front();
    EXPECT_EQ(Names(plan.files), (std::vector<std::string>{"Lobby.exe", "Media\\readme.txt"}));
    ASSERT_EQ(plan.packages.size(), 1u);
    const PackagePlan& package = plan.packages.front();
    EXPECT_EQ(package.FileName(), "Media\\Sounds.zip");
    // Media\Sounds.zip is unpacked in Media\, so its names start with the folder's own name.
    std::vector<std::string> entries;
    for (const ReleaseItem& member : package.members)
        entries.push_back(package.EntryName(member));
    EXPECT_EQ(entries, (std::vector<std::string>{"Sounds/click.wav", "Sounds/ui/", "Sounds/ui/ok.wav"}));
    EXPECT_EQ(package.EntryName(package.folder), "Sounds/");
    // A file in a folder the launcher does not create is worth a note.
    ASSERT_EQ(plan.notes.size(), 1u);
    EXPECT_EQ(plan.notes.front().rfind("Media\\:", 0), 0u) << plan.notes.front();
}

TEST(PlanRelease, RefusesReleasesTheLauncherWouldMishandle)
{
    const struct {
        const char* what;
        std::vector<ReleaseItem> tree;
        std::vector<std::string> packages;
        const char* refused;  ///< the start of the expected error
    } cases[] = {
        {"a plain file the launcher takes for a package", {Item("Skin.zip")}, {}, "Skin.zip"},
        {"a plain file named zip", {Item("zip")}, {}, "zip"},
        {"a package folder with a dot", {Folder("Skin.v2"), Item("Skin.v2\\a.png")}, {"Skin.v2"}, "Skin.v2"},
        {"a package below a folder with a dot", {Folder("a.b"), Folder("a.b\\Data"), Item("a.b\\Data\\x")},
         {"a.b\\Data"}, "a.b\\Data"},
        {"an empty package", {Folder("Empty")}, {"Empty"}, "Empty.zip"},
        {"a package that is not there", {Item("x.txt")}, {"Missing"}, "--package Missing"},
        {"a package that names a file", {Item("Data")}, {"Data"}, "--package Data"},
        {"packages inside each other", {Folder("A"), Folder("A\\B"), Item("A\\B\\x")}, {"A", "A\\B"},
         "--package A\\B"},
        {"a device name inside a package", {Folder("Data"), Item("Data\\aux.txt")}, {"Data"}, "Data\\aux.txt"},
        {"a file of 2 GiB", {Item("big.pak", false, 0x80000000ull)}, {}, "big.pak"},
        {"a file the code page cannot write", {Item("\xE6?.txt")}, {}, "\xE6?.txt"},
    };
    for (const auto& c : cases) {
        const PublishPlan plan = PlanRelease(c.tree, Options(c.packages));
        EXPECT_TRUE(Refuses(plan, c.refused)) << c.what;
    }
}

TEST(PlanRelease, LeavesOutWhatBelongsToTheInstallationItself)
{
    const std::vector<ReleaseItem> tree = {
        Folder("DownLoad"), Item("DownLoad\\AutoUpdate_20240101.log"), Item("KvoLauncher.exe"),
        Folder("LobbyDate"), Item("LobbyDate\\Update.INI"), Item("LobbyDate\\Servers.ini"),
        Item("Lobby.exe.kvotmp"), Item("Lobby.exe"), Folder("Docs"), Item("Docs\\a.txt"), Item("Docs\\b.txt"),
    };
    const PublishPlan plan = PlanRelease(tree, Options({}, {"docs"}));
    EXPECT_TRUE(plan.errors.empty());
    EXPECT_EQ(Names(plan.files), (std::vector<std::string>{"LobbyDate\\Servers.ini", "Lobby.exe"}));
    // One note per thing left out on its own account (the log folder once, not per log).
    const auto leftOut = std::count_if(plan.notes.begin(), plan.notes.end(),
                                       [](const std::string& note) { return note.rfind("left out:", 0) == 0; });
    EXPECT_EQ(leftOut, 4);
}
