#include "tools/publish/LinkCheck.h"

#include <sys/stat.h>

namespace qr::publish {

bool IsLink(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace qr::publish
