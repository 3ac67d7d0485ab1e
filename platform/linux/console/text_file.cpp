// platform/text_file.h on Linux: a temporary file beside the target, fsync, chmod, rename.
#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool Failed(const std::string& what, int failure, bool* folderMissing, std::string* error) {
    *error = what + ": " + std::strerror(failure);
    *folderMissing = failure == ENOENT;
    return false;
}

}  // namespace

bool ReplaceTextFile(const std::string& path, const std::string& contents, bool* folderMissing, std::string* error) {
    *folderMissing = false;
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
    // One process writes one file: its process id keeps two writers from sharing a temporary.
    const std::string temporary = stem + ".tmp." + std::to_string(getpid());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return Failed("could not write " + temporary, errno, folderMissing, error);
    std::size_t done = 0;
    int failure = 0;
    while (done < contents.size() && failure == 0) {
        const ssize_t written = write(fd, contents.data() + done, contents.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) failure = written < 0 ? errno : EIO;
        else done += static_cast<std::size_t>(written);
    }
    // The mode whatever the umask (a service's may leave others out): the exporter runs as
    // another user.
    if (failure == 0 && fchmod(fd, 0644) != 0) failure = errno;
    if (failure == 0 && fsync(fd) != 0) failure = errno;
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
    if (failure != 0) {
        unlink(temporary.c_str());
        return Failed("could not write " + path, failure, folderMissing, error);
    }
    return true;
}
