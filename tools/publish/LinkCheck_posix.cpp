#include "tools/publish/ExclusiveName.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qr::publish {

bool ClaimNewFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool IsLink(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace qr::publish
