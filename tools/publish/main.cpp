// Entry point of KvoPublish.exe, the operator's publishing tool.
#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/KeyListPublish.h"
#include "tools/publish/PublishOptions.h"
#include "tools/publish/Publisher.h"
#include "tools/publish/SigningKey.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    PublishOptions options;
    std::string error;
    if (!ParsePublishOptions(args, options, error)) {
        std::cerr << "KvoPublish: " << error << "\n";
        return kPublishBadCommandLine;
    }
    if (options.help) {
        std::cout << PublishUsage();
        return kPublishOk;
    }
    if (!options.newKeyName.empty()) {
        if (!WriteNewKey(options.newKeyName, error)) {
            std::cerr << "KvoPublish: " << error << "\n";
            return kPublishWriteFailed;
        }
        std::cout << "wrote " << options.newKeyName << ".private (keep it secret, off the update servers) and "
                  << options.newKeyName
                  << ".public (a root key's text goes into the launcher's build, a release key's into a key list)\n";
        return kPublishOk;
    }
    if (!options.verifyDir.empty())
        return VerifyPublished(options, std::cout, std::cerr);
    if (!options.keyListDir.empty())
        return PublishKeyList(options, std::cout, std::cerr);
    if (!options.refreshDir.empty())
        return RefreshPublished(options, std::cout, std::cerr);
    return Publish(options, std::cout, std::cerr);
}
