#pragma once

#include <QByteArray>

#include <sys/types.h>

namespace base {

// What the journals ask of the file system when they change a file: every write, flush, cut and
// rename goes through here, so that a test can stand between them and the disk and play a power
// cut. Reads go to the file directly. Each call answers as the system call of its name: -1 with
// errno set on failure.
class JournalIo {
public:
    virtual ~JournalIo() = default;

    virtual int open(const QByteArray& path, int flags, mode_t mode);
    virtual int close(int fd);
    virtual ssize_t pwrite(int fd, const char* bytes, size_t size, off_t at);
    virtual int fdatasync(int fd);
    virtual int ftruncate(int fd, off_t size);
    virtual int rename(const QByteArray& from, const QByteArray& to);
    // Forces the folder's entries (a rename, a new file) to the disk.
    virtual int syncFolder(const QByteArray& folder);

    // The system's own calls.
    static JournalIo& real();
};

} // namespace base
