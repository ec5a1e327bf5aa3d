// History files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "history/history.h"

namespace zk {

namespace {

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes the rename itself durable; a directory that cannot be synchronised changes nothing.
void SyncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Creates a new, unique file beside `path`; -1 when none can be created.
int CreateSibling(const std::string& path, std::string& name) {
    const auto stamp = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        name = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(stamp + attempt);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

}  // namespace

HistoryFileRead ReadHistoryFile(const std::string& path, std::uint8_t* buffer) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return HistoryFileRead::Missing;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return HistoryFileRead::Missing;
    }
    std::size_t got = 0;
    bool failed = false;
    while (got < kHdbBytes) {
        const ssize_t n = ::read(fd, buffer + got, kHdbBytes - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            failed = true;
            break;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (failed || got < kHdbBytes) {
        std::memset(buffer, 0, kHdbBytes);
        return HistoryFileRead::Short;
    }
    return HistoryFileRead::Complete;
}

bool WriteHistoryFile(const std::string& path, const std::uint8_t* bytes, std::size_t size) {
    std::string temp;
    const int fd = CreateSibling(path, temp);
    if (fd < 0) return false;
    // The new file keeps the access rights of the one it replaces.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);

    bool ok = WriteAll(fd, bytes, size) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncDirectory(DirectoryOf(path));
    return true;
}

}  // namespace zk
