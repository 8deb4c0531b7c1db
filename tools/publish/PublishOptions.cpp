#include "tools/publish/PublishOptions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

const char kUsage[] =
    "KvoPublish - makes an update that KvoLauncher installs.\n"
    "\n"
    "Usage:\n"
    "  KvoPublish --release DIR --out DIR --base-url URL --version N [options]\n"
    "  KvoPublish --new-key NAME\n"
    "  KvoPublish --verify OUTDIR --public-key NAME.public\n"
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
    "                    LobbyDate\\Update.INI (the user's settings), DownLoad (logs) and\n"
    "                    leftover *.kvotmp files\n"
    "  --include-launcher publish KvoLauncher.exe of the release too: the launcher then replaces\n"
    "                    itself (it steps aside as KvoLauncher.exe.old, removed at its next start)\n"
    "  --product NAME    the product name written into the manifest (default KvoLobby)\n"
    "  --install-dir DIR the longest installation folder to allow for (default\n"
    "                    C:\\Program Files (x86)\\KvoGame\\KvoLobby\\): a name that would not fit\n"
    "                    the launcher's 260-byte paths under it is refused\n"
    "  --sign-key FILE   sign the manifest with the key pair FILE (NAME.private): launchers built\n"
    "                    with the matching public key take only manifests signed by it\n"
    "  --help            this text\n"
    "\n"
    "Keys and checks:\n"
    "  --new-key NAME    make a new update key: NAME.private (the key pair; keep it secret and off\n"
    "                    the update servers) and NAME.public (give its text to the launcher's\n"
    "                    build as KVO_UPDATE_PUBLIC_KEY); never overwrites either file\n"
    "  --verify OUTDIR --public-key FILE\n"
    "                    check a publish's web root: the signature of AutoUpdate\\update.xml and\n"
    "                    the SHA-256 of every file and package at its URL's path below OUTDIR"
    "\n"
    "Every file gets its version from its version resource (empty for files without one), its\n"
    "size, time and URL. Names the launcher would refuse (absolute, '..', devices such as CON,\n"
    "characters Windows does not allow, too long) stop the tool before anything is written.\n"
    "Every file and package also gets its SHA-256, which the launcher checks before it installs it.\n"
    "Exit status: 0 published (or key made, or all verified), 1 bad command line, 2 release\n"
    "refused, 3 writing failed, 4 verification failed.\n";

/// The decimal number in `text` if it is one and lies in [1, INT_MAX].
bool ParseVersion(const std::string& text, int& version)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    constexpr int kDecimalBase = 10;
    const long long value = std::strtoll(text.c_str(), nullptr, kDecimalBase);
    if (errno == ERANGE || value < 1 || value > INT_MAX)
        return false;
    version = static_cast<int>(value);
    return true;
}

}  // namespace

const char* PublishUsage() noexcept
{
    return kUsage;
}

bool ParsePublishOptions(const std::vector<std::string>& args, PublishOptions& options, std::string& error)
{
    bool versionGiven = false;
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
        if (i + 1 >= args.size()) {
            error = name.rfind("--", 0) == 0 ? name + " needs a value" : "unknown argument: " + name;
            return false;
        }
        const std::string& value = args[++i];
        if (name == "--release") {
            options.releaseDir = value;
        } else if (name == "--out") {
            options.outDir = value;
        } else if (name == "--base-url") {
            options.baseUrl = value;
        } else if (name == "--version") {
            if (!ParseVersion(value, options.version)) {
                error = "--version must be a whole number from 1 to 2147483647, not '" + value + "'";
                return false;
            }
            versionGiven = true;
        } else if (name == "--package") {
            options.packages.push_back(value);
        } else if (name == "--exclude") {
            options.excludes.push_back(value);
        } else if (name == "--product") {
            options.productName = value;
        } else if (name == "--install-dir") {
            options.installDir = value;
        } else if (name == "--sign-key") {
            options.signKey = value;
        } else if (name == "--new-key") {
            options.newKeyName = value;
        } else if (name == "--verify") {
            options.verifyDir = value;
        } else if (name == "--public-key") {
            options.publicKey = value;
        } else {
            error = "unknown option: " + name + " (see --help)";
            return false;
        }
    }
    const bool publishing = !options.releaseDir.empty() || !options.outDir.empty() || !options.baseUrl.empty() ||
                            versionGiven || !options.signKey.empty() || options.includeLauncher;
    const int uses = int{publishing} + int{!options.newKeyName.empty()} + int{!options.verifyDir.empty()};
    if (uses > 1) {
        error = "--new-key, --verify and publishing are separate uses of the tool (see --help)";
        return false;
    }
    if (!options.newKeyName.empty())
        return true;
    if (!options.verifyDir.empty() || !options.publicKey.empty()) {
        if (options.verifyDir.empty() || options.publicKey.empty()) {
            error = "--verify OUTDIR and --public-key FILE go together (see --help)";
            return false;
        }
        return true;
    }
    if (options.releaseDir.empty() || options.outDir.empty() || options.baseUrl.empty() || !versionGiven) {
        error = "--release, --out, --base-url and --version are required (see --help)";
        return false;
    }
    if (!options.installDir.empty() && options.installDir.back() != '\\')
        options.installDir.push_back('\\');
    return true;
}
