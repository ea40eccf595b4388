// quorvel-publish: the operator's tool that adds a version to a patch server tree.
#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "tools/publish/Publisher.h"

int main(int argc, char** argv) {
    std::string problem;
    std::optional<qr::publish::PublishOptions> options = qr::publish::ParsePublishArguments(argc, argv, problem);
    if (!options) {
        if (problem.empty()) {
            std::cout << qr::publish::kPublishUsage;
            return 0;
        }
        std::cerr << "quorvel-publish: " << problem << "\n" << qr::publish::kPublishUsage;
        return 2;
    }
    // Progress lines rewrite themselves; only a person watching a terminal wants them.
    options->progress = isatty(fileno(stderr)) != 0;
    return qr::publish::Publish(*options, qr::SystemFileSystem(), std::cout, std::cerr);
}
