// Trust that changes: a launcher built with three roots (two must sign) against key lists and
// manifests served by the loopback server. Each row starts from the trust it names, serves its key
// lists beside the manifest, and runs the real manifest check once per manifest.
#include <gtest/gtest.h>

#include <algorithm>

#include "TempDir.h"
#include "UpdateTestSupport.h"
#include "support/EcdsaP256.h"
#include "tools/publish/KeyListFiles.h"
#include "tools/publish/SigningKey.h"
#include "update/Manifest.h"
#include "update/TrustState.h"
#include "update/TrustedKeys.h"

namespace {

enum Key { A, B, C, D, E, R1, R2, R3, kKeyCount };

const std::vector<unsigned char>& Pair(Key key)
{
    static const std::vector<std::vector<unsigned char>> pairs = [] {
        std::vector<std::vector<unsigned char>> made(kKeyCount);
        for (auto& pair : made)
            EXPECT_TRUE(MakeKeyPair(pair));
        return made;
    }();
    return pairs[key];
}

PublicKey Public(Key key)
{
    return PublicKey(Pair(key).begin(), Pair(key).begin() + kP256PublicKeySize);
}

std::vector<PublicKey> Publics(std::initializer_list<Key> keys)
{
    std::vector<PublicKey> publics;
    for (const Key key : keys)
        publics.push_back(Public(key));
    return publics;
}

RootSet Roots(unsigned threshold, std::initializer_list<Key> keys)
{
    return RootSet{threshold, Publics(keys)};
}

/// `text` followed by the signature comment of each of `signers`, in order.
std::string SignedBy(const std::string& text, std::initializer_list<Key> signers)
{
    std::string document = text;
    for (const Key signer : signers) {
        std::string comment;
        EXPECT_TRUE(SignManifest(text, Pair(signer), comment));
        document += comment;
    }
    return document;
}

constexpr int kExpired = -1;

/// Version `version` of a key list naming `releaseKeys` and, when it has keys, the root set `roots`.
std::string KeyListText(unsigned version, std::initializer_list<Key> releaseKeys, const RootSet& roots = RootSet(),
                        int expiresDays = 365)
{
    KeyList list;
    list.version = version;
    list.expires = expiresDays == kExpired ? "2001-01-01T00:00:00Z" : "2099-01-01T00:00:00Z";
    list.releaseKeys = Publics(releaseKeys);
    list.namesRoots = !roots.keys.empty();
    list.roots = roots;
    return FormatKeyListText(list);
}

/// A fresh manifest of version 9 with one hashed file, naming key list `keyList` (none when 0) and
/// issued at `issued` (none when empty), signed by `signer`.
std::string Manifest(Key signer, unsigned keyList, const std::string& issued = std::string())
{
    std::string attributes = "productname=\"P\" Ver=\"9\" Expires=\"2099-01-01T00:00:00Z\"";
    if (keyList > 0)
        attributes += " Keys=\"" + std::to_string(keyList) + "\"";
    if (!issued.empty())
        attributes += " Issued=\"" + issued + "\"";
    return SignedBy(ManifestText(attributes, FileElement("a.dll", "<SHA256>" + std::string(64, 'a') + "</SHA256>")),
                    {signer});
}

/// One start of the launcher: the manifest it is served, and what it must make of it.
struct Start {
    std::string manifest;
    bool taken;
    const char* logged;     ///< a line of this start's log starts with it ("" for none asked)
    unsigned keptVersion;   ///< the key list version kept afterwards
};

struct Row {
    const char* what;
    TrustState held;                  ///< kept before the first start (version 0: none kept)
    std::vector<std::string> lists;   ///< keys.1.xml, keys.2.xml, …; the last is keys.xml too
    std::vector<Start> starts;
};

TrustState Held(unsigned version, std::initializer_list<Key> releaseKeys)
{
    TrustState held = BuiltInTrust(Roots(2, {A, B, C}));
    held.version = version;
    held.expires = "2099-01-01T00:00:00Z";
    held.releaseKeys = Publics(releaseKeys);
    return held;
}

TEST(KeyTrust, KeyListsAndManifestsAreTakenOnlyAsTheRootsInEffectAndTheNewestListSay)
{
    const RootSet builtIn = Roots(2, {A, B, C});
    const std::string v1 = SignedBy(KeyListText(1, {R1}, builtIn), {A, B});
    const RootSet rotatedOnce = Roots(2, {B, C, D});
    const RootSet rotatedTwice = Roots(1, {D, E});
    const std::string walk2 = SignedBy(KeyListText(2, {R1}, rotatedOnce), {A, B, D});
    const std::string walk3 = SignedBy(KeyListText(3, {R2}, rotatedTwice), {C, D});
    const std::string walk4 = SignedBy(KeyListText(4, {R3}, rotatedTwice), {E});
    const Row rows[] = {
        {"good", TrustState(), {v1}, {{Manifest(R1, 1), true, "密钥列表已更新  版本1", 1}}},
        {"several rotations walked one version at a time",
         TrustState(),
         {v1, walk2, walk3, walk4},
         {{Manifest(R3, 4), true, "根密钥已轮换  版本3  门限 1", 4}}},
        {"one signature short", TrustState(), {SignedBy(KeyListText(1, {R1}, builtIn), {A})},
         {{Manifest(R1, 1), false, "密钥列表被拒绝", 0}}},
        {"one key signing twice", TrustState(), {SignedBy(KeyListText(1, {R1}, builtIn), {A, A})},
         {{Manifest(R1, 1), false, "密钥列表被拒绝", 0}}},
        {"a root set naming one key twice", TrustState(),
         {SignedBy(KeyListText(1, {R1}, RootSet{2, Publics({A, A, B})}), {A, B})},
         {{Manifest(R1, 1), false, "密钥列表被拒绝", 0}}},
        {"expired", TrustState(), {SignedBy(KeyListText(1, {R1}, builtIn, kExpired), {A, B})},
         {{Manifest(R1, 1), false, "密钥列表已过期  版本1", 1}}},
        {"lower version", Held(2, {R2}), {v1}, {{Manifest(R1, 1), false, "密钥列表被拒绝", 2}}},
        {"a release key revoked by the next list, seen when a manifest names it",
         Held(1, {R1, R2}),
         {v1, SignedBy(KeyListText(2, {R2}, builtIn), {B, C})},
         {{Manifest(R2, 2), true, "密钥列表已更新  版本2", 2}, {Manifest(R1, 1), false, "清单签名无效", 2}}},
        {"a new root set without the threshold of the roots in effect", TrustState(),
         {SignedBy(KeyListText(1, {R1}, Roots(2, {C, D, E})), {C, D, E})},
         {{Manifest(R1, 1), false, "密钥列表被拒绝", 0}}},
        {"a new root set without its own threshold", TrustState(),
         {SignedBy(KeyListText(1, {R1}, Roots(2, {C, D, E})), {A, B})},
         {{Manifest(R1, 1), false, "密钥列表被拒绝", 0}}},
        {"an older Issued, or none after one",
         TrustState(),
         {v1},
         {{Manifest(R1, 1, "2026-12-08T10:00:00Z"), true, "", 1},
          {Manifest(R1, 1, "2026-12-08T10:00:00Z"), true, "", 1},
          {Manifest(R1, 1, "2026-12-01T10:00:00Z"), false, "清单早于已接受的清单", 1},
          {Manifest(R1, 1), false, "清单早于已接受的清单", 1}}},
    };
    EngineHarness installation;  // one window for every row: each row's files are its own
    const std::string trustFile = installation.engine().m_strModuleDir + kTrustFileName;
    int rowNumber = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string folder = "trust" + std::to_string(++rowNumber) + "/";
        ::DeleteFileA(trustFile.c_str());
        if (row.held.version > 0) {
            ASSERT_EQ(SaveTrust(installation.engine().m_strModuleDir, row.held), static_cast<DWORD>(ERROR_SUCCESS));
        }
        ::CreateDirectoryA(ServedFilePath(folder).c_str(), nullptr);
        for (std::size_t i = 0; i < row.lists.size(); ++i)
            WriteWholeFile(ServedFilePath(folder + VersionedKeyListName(static_cast<unsigned>(i + 1))), row.lists[i]);
        WriteWholeFile(ServedFilePath(folder + keylist::kCurrentFileName), row.lists.back());
        for (const Start& start : row.starts) {
            WriteWholeFile(ServedFilePath(folder + "update.xml"), start.manifest);
            installation.engine().m_files.clear();
            const std::size_t linesBefore = installation.LogLines().size();
            bool taken = false;
            installation.RunOnWorker([&] {
                taken = ParseManifest(installation.engine(), TestServerUrl("/" + folder + "update.xml"),
                                      CTrustedKeys(FormatRootSetText(builtIn)));
            });
            EXPECT_EQ(taken, start.taken);
            const std::vector<std::string> lines = installation.LogLines();
            EXPECT_TRUE(std::any_of(lines.begin() + static_cast<std::ptrdiff_t>(linesBefore), lines.end(),
                                    [&](const std::string& line) { return line.rfind(start.logged, 0) == 0; }))
                << "no line starting with " << start.logged;
            bool unreadable = false;
            EXPECT_EQ(LoadTrust(installation.engine().m_strModuleDir, builtIn, unreadable).version, start.keptVersion);
            EXPECT_FALSE(unreadable);
        }
    }
}

}  // namespace
