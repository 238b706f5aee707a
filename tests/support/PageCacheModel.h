#pragma once

#include "base/JournalIo.h"

#include <QByteArray>
#include <QFile>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tests {

// The disk as a power cut leaves it: every write goes to the file at once (the page cache), and
// only a flush makes it durable. A cut keeps what was durable, plus either an arbitrary subset
// of the 4 KiB pages written since (the disk wrote back some of them, in any order) or only a
// prefix of the writes since (in the order they were made); the file's size is either the
// durable one or the newest. Flushes are not passed on: the model alone decides what survives.
class PageCacheModel final : public base::JournalIo {
public:
    static constexpr qint64 kPage = 4096;
    enum class Cut { AnySubsetOfPages, PrefixOfWrites };

    int open(const QByteArray& path, int flags, mode_t mode) override {
        const int fd = ::open(path.constData(), flags, mode);
        if (fd >= 0) {
            m_paths[fd] = path.toStdString();
            File& file = m_files[path.toStdString()];
            if (!file.known || (flags & O_TRUNC)) {
                file = File{};
                file.known = true;
                file.durable = (flags & O_TRUNC) ? QByteArray() : contents(path);
            }
        }
        return fd;
    }
    int close(int fd) override {
        m_paths.erase(fd);
        return ::close(fd);
    }
    ssize_t pwrite(int fd, const char* bytes, size_t size, off_t at) override {
        const ssize_t n = ::pwrite(fd, bytes, size, at);
        if (n > 0)
            fileOf(fd).writes.push_back({qint64(at), QByteArray(bytes, n), -1});
        return n;
    }
    int ftruncate(int fd, off_t size) override {
        const int r = ::ftruncate(fd, size);
        if (r == 0)
            fileOf(fd).writes.push_back({0, {}, qint64(size)});
        return r;
    }
    int fdatasync(int fd) override {
        File& file = fileOf(fd);
        file.durable = contents(QByteArray::fromStdString(m_paths.at(fd)));
        file.writes.clear();
        return 0;
    }
    int rename(const QByteArray& from, const QByteArray& to) override {
        const int r = std::rename(from.constData(), to.constData());
        if (r == 0) {
            m_files[to.toStdString()] = m_files[from.toStdString()];
            m_files.erase(from.toStdString());
            for (auto& [fd, path] : m_paths)
                if (path == from.toStdString())
                    path = to.toStdString();
        }
        return r;
    }
    int syncFolder(const QByteArray&) override { return 0; }

    // Writes every file as the cut leaves it. The journals must be closed first.
    template <typename Random> void cut(Cut how, Random& random) {
        for (auto& [path, file] : m_files) {
            const QByteArray now = contents(QByteArray::fromStdString(path));
            QByteArray left =
                how == Cut::AnySubsetOfPages ? anySubset(file, now, random) : prefix(file, random);
            QFile out(QString::fromStdString(path));
            if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                out.write(left);
        }
        m_files.clear();
        m_paths.clear();
    }

private:
    struct Write {
        qint64 at;
        QByteArray bytes;
        qint64 truncateTo; // a cut when not negative
    };
    struct File {
        bool known = false;
        QByteArray durable;
        std::vector<Write> writes; // since the last flush, in order
    };

    static QByteArray contents(const QByteArray& path) {
        QFile file(QString::fromUtf8(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    File& fileOf(int fd) { return m_files[m_paths.at(fd)]; }

    template <typename Random>
    static QByteArray anySubset(const File& file, const QByteArray& now, Random& random) {
        std::set<qint64> dirty;
        for (const Write& w : file.writes) {
            if (w.truncateTo >= 0)
                continue;
            for (qint64 p = w.at / kPage; p <= (w.at + w.bytes.size() - 1) / kPage; ++p)
                dirty.insert(p);
        }
        const qint64 size = std::bernoulli_distribution(0.5)(random) ? now.size() : file.durable.size();
        QByteArray left(size, '\0');
        std::bernoulli_distribution keep(0.5);
        for (qint64 p = 0; p * kPage < size; ++p) {
            const QByteArray& from = dirty.contains(p) && keep(random) ? now : file.durable;
            const qint64 n =
                std::min(kPage, std::max<qint64>(0, std::min(size, qint64(from.size())) - p * kPage));
            if (n > 0)
                std::memcpy(left.data() + p * kPage, from.constData() + p * kPage, size_t(n));
        }
        return left;
    }

    template <typename Random> static QByteArray prefix(const File& file, Random& random) {
        QByteArray left = file.durable;
        const std::size_t kept = std::uniform_int_distribution<std::size_t>(0, file.writes.size())(random);
        for (std::size_t i = 0; i < kept; ++i) {
            const Write& w = file.writes[i];
            if (w.truncateTo >= 0) {
                left.resize(w.truncateTo, '\0');
                continue;
            }
            if (left.size() < w.at + w.bytes.size())
                left.resize(w.at + w.bytes.size(), '\0');
            std::memcpy(left.data() + w.at, w.bytes.constData(), size_t(w.bytes.size()));
        }
        return left;
    }

    std::map<int, std::string> m_paths;
    std::map<std::string, File> m_files;
};

} // namespace tests
