// Entry point of KvoPublish.exe, the operator's publishing tool.
#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/PublishOptions.h"
#include "tools/publish/Publisher.h"

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
    return Publish(options, std::cout, std::cerr);
}
