#include "base/JournalIo.h"

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace base {

int JournalIo::open(const QByteArray& path, int flags, mode_t mode) {
    return ::open(path.constData(), flags, mode);
}

int JournalIo::close(int fd) {
    return ::close(fd);
}

ssize_t JournalIo::pwrite(int fd, const char* bytes, size_t size, off_t at) {
    return ::pwrite(fd, bytes, size, at);
}

int JournalIo::fdatasync(int fd) {
    return ::fdatasync(fd);
}

int JournalIo::ftruncate(int fd, off_t size) {
    return ::ftruncate(fd, size);
}

int JournalIo::rename(const QByteArray& from, const QByteArray& to) {
    return std::rename(from.constData(), to.constData());
}

int JournalIo::syncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int result = ::fsync(fd);
    ::close(fd);
    return result;
}

JournalIo& JournalIo::real() {
    static JournalIo io;
    return io;
}

} // namespace base
