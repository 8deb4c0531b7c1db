#include "tools/publish/PublishOptions.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>

#include "update/RootSet.h"
#include "update/Rollout.h"

namespace {

const char kUsage[] =
    "KvoPublish - makes an update that KvoLauncher installs.\n"
    "\n"
    "Usage:\n"
    "  KvoPublish --release DIR --out DIR --base-url URL --version N [options]\n"
    "  KvoPublish --new-key NAME\n"
    "  KvoPublish --verify OUTDIR --public-key ROOT.public... [--threshold N]\n"
    "  KvoPublish --refresh OUTDIR --sign-key NAME.private [--expires-days N] [--rollout P]\n"
    "  KvoPublish --key-list OUTDIR --root-key ROOT.private... --release-public NAME.public...\n"
    "             [--new-root-public ROOT.public... --new-threshold N] [--expires-days N]\n"
    "\n"
    "Required:\n"
    "  --release DIR     the folder holding the new version exactly as it must be installed\n"
    "                    (its files are the files of the lobby's installation folder)\n"
    "  --out DIR         where to lay out what the update server must serve: the manifest\n"
    "                    AutoUpdate\\update.xml, and every file and package under the path of\n"
    "                    --base-url; copy this folder to the web root of both update hosts\n"
    "  --base-url URL    the address under which the files will be served, e.g.\n"
    "                    http://update.mygame.example/files/v12/ (http or https; its path may\n"
    "                    hold letters, digits, '-', '_', '.', '~' and '/')\n"
    "  --version N       the product version to publish (1 to 2147483647); installations whose\n"
    "                    PVer is lower update, and get PVer = N afterwards\n"
    "\n"
    "Options:\n"
    "  --package FOLDER  publish FOLDER (below the release, e.g. Data or Skins\\Default) as one\n"
    "                    ZIP package FOLDER.zip, unpacked by the launcher over the installation;\n"
    "                    repeatable. The folder's path must hold no '.', because the launcher\n"
    "                    takes everything after the first '.' as the extension\n"
    "  --exclude NAME    leave the file or folder NAME (below the release) out; repeatable.\n"
    "                    Always left out: KvoLauncher.exe (unless --include-launcher),\n"
    "                    LobbyDate\\Update.INI (the user's settings), DownLoad (logs), the\n"
    "                    launcher's own KvoRelease, KvoPackages and KvoTrust.txt, and\n"
    "                    leftover *.kvotmp files\n"
    "  --include-launcher publish KvoLauncher.exe of the release too: the launcher then replaces\n"
    "                    itself (it steps aside as KvoLauncher.exe.old, removed at its next start)\n"
    "  --product NAME    the product name written into the manifest (default KvoLobby)\n"
    "  --install-dir DIR the longest installation folder to allow for (default\n"
    "                    C:\\Program Files (x86)\\KvoGame\\KvoLobby\\): a name that would not fit\n"
    "                    the launcher's 260-byte paths under it is refused\n"
    "  --sign-key FILE   sign the manifest with the key pair FILE (NAME.private): a release key of\n"
    "                    the key list in --out (the manifest names the list's version), or, with\n"
    "                    no key list, the launchers' single update key\n"
    "  --expires-days N  a signed manifest is taken for N days (1 to 3650, default 30); renew it\n"
    "                    in time with --refresh\n"
    "  --rollout P       only P per cent (0 to 100) of the installations take the release; widen it\n"
    "                    later with --refresh --rollout; 0 halts it (default: all of them)\n"
    "  --mirror URL      another address that serves the same files as --base-url (http or https,\n"
    "                    the same layout below it); repeatable. Launchers try --base-url first\n"
    "  --previous DIR    an earlier release folder (as --release took it) that players may still\n"
    "                    have; repeatable. Changed files get a patch from each distinct earlier\n"
    "                    content (under KvoPatches/ below --base-url), and packages list the\n"
    "                    byte range of their entries changed since each, laid out together\n"
    "  --help            this text\n"
    "\n"
    "Keys and checks:\n"
    "  --new-key NAME    make a new key, root or release alike: NAME.private (the key pair; keep it\n"
    "                    secret and off the update servers) and NAME.public (its text goes into\n"
    "                    the launcher's build as a root, KVO_ROOT_KEYS or KVO_UPDATE_PUBLIC_KEY,\n"
    "                    or into a key list with --release-public); never overwrites either file\n"
    "  --key-list OUTDIR --root-key FILE... --release-public FILE...\n"
    "             [--new-root-public FILE... --new-threshold N] [--expires-days N]\n"
    "                    write the next version of the key list into the web root OUTDIR\n"
    "                    (AutoUpdate\\keys.xml and keys.<N>.xml, earlier versions kept): the release\n"
    "                    keys that may sign manifests, valid N days (default 365). Signed by each\n"
    "                    --root-key; refused unless they reach the threshold of the roots in\n"
    "                    effect, and, with a new root set, its threshold too. The first list names\n"
    "                    the roots the launchers are built with (--new-root-public and\n"
    "                    --new-threshold, or one --root-key alone with threshold 1)\n"
    "  --verify OUTDIR --public-key FILE... [--threshold N]\n"
    "                    check a publish's web root from the launchers' root keys (threshold\n"
    "                    default 1): every key list version by version, the signature of\n"
    "                    AutoUpdate\\update.xml by a release key of the newest, the SHA-256 and\n"
    "                    length of every file and package at its URL's path below OUTDIR, and\n"
    "                    that neither the manifest nor the key list has expired\n"
    "  --refresh OUTDIR --sign-key FILE [--expires-days N] [--rollout P]\n"
    "                    sign the manifest of a publish's web root anew with a new expiry (and share),\n"
    "                    a new Issued time and the key list's version, nothing else changed (run it\n"
    "                    where the key lives, then copy it up); a manifest signed by a release key\n"
    "                    of an earlier key list is signed anew with this one\n"
    "Every file gets its version from its version resource (empty for files without one), its\n"
    "size, time and URL. Names the launcher would refuse (absolute, '..', devices such as CON,\n"
    "characters Windows does not allow, too long) stop the tool before anything is written.\n"
    "Every file and package also gets its SHA-256, which the launcher checks before it installs it.\n"
    "Exit status: 0 published (or key made, or all verified), 1 bad command line, 2 release\n"
    "refused, 3 writing failed, 4 verification failed.\n";

/// The decimal number in `text` if it is one and lies in [low, high].
bool ParseNumber(const std::string& text, long long low, long long high, int& number)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    constexpr int kDecimalBase = 10;
    const long long value = std::strtoll(text.c_str(), nullptr, kDecimalBase);
    if (errno == ERANGE || value < low || value > high)
        return false;
    number = static_cast<int>(value);
    return true;
}

/// What one option with a value does; false, with `error` set, for a value it cannot take.
using ValueOption = bool (*)(PublishOptions& options, const std::string& value, std::string& error);

struct NamedValueOption {
    const char* name;
    ValueOption take;
};

bool SetNumber(const std::string& value, long long low, long long high, int& number, const char* what,
               std::string& error)
{
    if (ParseNumber(value, low, high, number))
        return true;
    error = std::string(what) + " must be a whole number from " + std::to_string(low) + " to " +
            std::to_string(high) + ", not '" + value + "'";
    return false;
}

const NamedValueOption kValueOptions[] = {
    {"--release", [](PublishOptions& o, const std::string& v, std::string&) { o.releaseDir = v; return true; }},
    {"--out", [](PublishOptions& o, const std::string& v, std::string&) { o.outDir = v; return true; }},
    {"--base-url", [](PublishOptions& o, const std::string& v, std::string&) { o.baseUrl = v; return true; }},
    {"--version",
     [](PublishOptions& o, const std::string& v, std::string& e) {
         o.versionGiven = true;
         return SetNumber(v, 1, INT_MAX, o.version, "--version", e);
     }},
    {"--package", [](PublishOptions& o, const std::string& v, std::string&) { o.packages.push_back(v); return true; }},
    {"--exclude", [](PublishOptions& o, const std::string& v, std::string&) { o.excludes.push_back(v); return true; }},
    {"--product", [](PublishOptions& o, const std::string& v, std::string&) { o.productName = v; return true; }},
    {"--install-dir", [](PublishOptions& o, const std::string& v, std::string&) { o.installDir = v; return true; }},
    {"--sign-key", [](PublishOptions& o, const std::string& v, std::string&) { o.signKey = v; return true; }},
    {"--new-key", [](PublishOptions& o, const std::string& v, std::string&) { o.newKeyName = v; return true; }},
    {"--verify", [](PublishOptions& o, const std::string& v, std::string&) { o.verifyDir = v; return true; }},
    {"--public-key",
     [](PublishOptions& o, const std::string& v, std::string&) { o.publicKeys.push_back(v); return true; }},
    {"--threshold",
     [](PublishOptions& o, const std::string& v, std::string& e) {
         return SetNumber(v, 1, kMaxRootKeys, o.threshold, "--threshold", e);
     }},
    {"--key-list", [](PublishOptions& o, const std::string& v, std::string&) { o.keyListDir = v; return true; }},
    {"--root-key", [](PublishOptions& o, const std::string& v, std::string&) { o.rootKeys.push_back(v); return true; }},
    {"--release-public",
     [](PublishOptions& o, const std::string& v, std::string&) { o.releasePublics.push_back(v); return true; }},
    {"--new-root-public",
     [](PublishOptions& o, const std::string& v, std::string&) { o.newRootPublics.push_back(v); return true; }},
    {"--new-threshold",
     [](PublishOptions& o, const std::string& v, std::string& e) {
         return SetNumber(v, 1, kMaxRootKeys, o.newThreshold, "--new-threshold", e);
     }},
    {"--refresh", [](PublishOptions& o, const std::string& v, std::string&) { o.refreshDir = v; return true; }},
    {"--rollout",
     [](PublishOptions& o, const std::string& v, std::string& e) { return SetNumber(v, 0, kFullRollout, o.rollout, "--rollout", e); }},
    {"--mirror", [](PublishOptions& o, const std::string& v, std::string&) { o.mirrors.push_back(v); return true; }},
    {"--previous", [](PublishOptions& o, const std::string& v, std::string&) { o.previous.push_back(v); return true; }},
    {"--expires-days",
     [](PublishOptions& o, const std::string& v, std::string& e) {
         o.expiresDaysGiven = true;
         return SetNumber(v, 1, PublishOptions::kMaxExpiresDays, o.expiresDays, "--expires-days", e);
     }},
};

/// The use the options ask for, once they are read; false, with `error` set, when they do not make one.
bool CheckUse(PublishOptions& options, std::string& error)
{
    const bool publishing = !options.releaseDir.empty() || !options.outDir.empty() || !options.baseUrl.empty() ||
                            options.versionGiven || options.includeLauncher || !options.mirrors.empty() ||
                            !options.previous.empty();
    const bool refreshing = !options.refreshDir.empty();
    const bool listing = !options.keyListDir.empty();
    const int uses = int{publishing} + int{!options.newKeyName.empty()} + int{!options.verifyDir.empty()} +
                     int{refreshing} + int{listing};
    if (uses > 1) {
        error = "--new-key, --verify, --refresh, --key-list and publishing are separate uses of the tool "
                "(see --help)";
        return false;
    }
    if (!options.newKeyName.empty())
        return true;
    const bool listOptions = !options.rootKeys.empty() || !options.releasePublics.empty() ||
                             !options.newRootPublics.empty() || options.newThreshold != 0;
    if (listing || listOptions) {
        if (!listing || options.rootKeys.empty() || options.releasePublics.empty())
            error = "--key-list OUTDIR needs --root-key FILE and --release-public FILE (see --help)";
        else if (options.newRootPublics.empty() != (options.newThreshold == 0) && options.newRootPublics.size() != 1)
            error = "--new-root-public FILE... and --new-threshold N go together (see --help)";
        if (!options.expiresDaysGiven)
            options.expiresDays = PublishOptions::kDefaultKeyListExpiresDays;
        return error.empty();
    }
    if (refreshing) {
        if (options.signKey.empty())
            error = "--refresh OUTDIR needs --sign-key FILE (see --help)";
        return error.empty();
    }
    if (!options.verifyDir.empty() || !options.publicKeys.empty()) {
        if (options.verifyDir.empty() || options.publicKeys.empty())
            error = "--verify OUTDIR and --public-key FILE go together (see --help)";
        else if (static_cast<std::size_t>(options.threshold) > options.publicKeys.size())
            error = "--threshold is above the number of --public-key files";
        return error.empty();
    }
    if (options.releaseDir.empty() || options.outDir.empty() || options.baseUrl.empty() || !options.versionGiven) {
        error = "--release, --out, --base-url and --version are required (see --help)";
        return false;
    }
    if (!options.installDir.empty() && options.installDir.back() != '\\')
        options.installDir.push_back('\\');
    return true;
}

}  // namespace

const char* PublishUsage() noexcept
{
    return kUsage;
}

bool ParsePublishOptions(const std::vector<std::string>& args, PublishOptions& options, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h" || name == "/?") {
            options.help = true;
            return true;
        }
        if (name == "--include-launcher") {
            options.includeLauncher = true;
            continue;
        }
        const auto option = std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                                         [&](const NamedValueOption& known) { return name == known.name; });
        if (option == std::end(kValueOptions)) {
            error = name.rfind("--", 0) == 0 ? "unknown option: " + name + " (see --help)" : "unknown argument: " + name;
            return false;
        }
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return false;
        }
        if (!option->take(options, args[++i], error))
            return false;
    }
    return CheckUse(options, error);
}
