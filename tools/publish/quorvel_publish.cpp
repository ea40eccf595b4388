// quorvel-publish: the operator's tool that adds a version to a patch server tree.
#include <iostream>

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
    return qr::publish::Publish(*options, qr::SystemFileSystem(), std::cout, std::cerr);
}
