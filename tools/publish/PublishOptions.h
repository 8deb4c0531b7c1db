// The publishing tool's command line.
#pragma once
#include <string>
#include <vector>

/// What the operator asked for.
struct PublishOptions {
    /// The installation folder that names are checked against when none is given: a long one
    /// that real installations rarely exceed.
    static constexpr const char* kDefaultInstallDir = "C:\\Program Files (x86)\\KvoGame\\KvoLobby\\";
    static constexpr const char* kDefaultProductName = "KvoLobby";

    std::string releaseDir;
    std::string outDir;
    std::string baseUrl;
    int version = 0;
    bool versionGiven = false;
    std::string productName = kDefaultProductName;
    std::string installDir = kDefaultInstallDir;
    std::vector<std::string> packages;  ///< folders below the release, each published as one ZIP
    std::vector<std::string> excludes;  ///< files or folders below the release left out
    std::string signKey;     ///< --sign-key: the key pair file that signs the manifest
    std::string newKeyName;  ///< --new-key: make NAME.private and NAME.public, nothing else
    std::string verifyDir;   ///< --verify: check what a publish wrote to this web root
    std::vector<std::string> publicKeys;  ///< --public-key: the root public key files --verify starts from
    int threshold = 1;                    ///< --threshold: how many of them must sign a key list
    std::string refreshDir;  ///< --refresh: re-sign the manifest of this web root with a new expiry
    int expiresDays = kDefaultExpiresDays;  ///< --expires-days: how long a signed manifest stays valid
    bool expiresDaysGiven = false;
    std::string keyListDir;                      ///< --key-list: write the next key list into this web root
    std::vector<std::string> rootKeys;           ///< --root-key: root key pairs that sign the key list
    std::vector<std::string> releasePublics;     ///< --release-public: release keys the list names
    std::vector<std::string> newRootPublics;     ///< --new-root-public: the root set from this list on
    int newThreshold = 0;                        ///< --new-threshold: its threshold (0: not given)
    int rollout = kNoRollout;                ///< --rollout: the share of installations that take the release
    std::vector<std::string> mirrors;        ///< --mirror: more addresses serving the files of --base-url
    std::vector<std::string> previous;       ///< --previous: earlier release folders players may have
    bool includeLauncher = false;  ///< --include-launcher: publish KvoLauncher.exe for it to update itself
    bool help = false;

    static constexpr int kDefaultExpiresDays = 30;
    static constexpr int kDefaultKeyListExpiresDays = 365;
    static constexpr int kNoRollout = -1;  ///< not given: no Rollout written (every installation)
    static constexpr int kMaxExpiresDays = 3650;
};

/// Reads the arguments (without the program name). False with a one-line reason in `error`
/// when they are not complete or not valid; `--help` alone is always valid. Five uses: a
/// publish (--release, --out, --base-url, --version), `--new-key NAME` alone,
/// `--verify OUTDIR --public-key FILE…`, `--refresh OUTDIR --sign-key FILE` and
/// `--key-list OUTDIR --root-key FILE… --release-public FILE…`.
bool ParsePublishOptions(const std::vector<std::string>& args, PublishOptions& options, std::string& error);

/// The text of --help.
const char* PublishUsage() noexcept;
