#include "app/JournalStream.h"

#include <QList>

#include <cstdio>
#include <sys/stat.h>

namespace app {

bool isJournalStream(int fd) {
    const QByteArray named = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = named.indexOf(':');
    if (colon <= 0)
        return false;
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = named.first(colon).toULongLong(&deviceOk);
    const qulonglong inode = named.sliced(colon + 1).toULongLong(&inodeOk);
    struct stat status {};
    return deviceOk && inodeOk && ::fstat(fd, &status) == 0 && qulonglong(status.st_dev) == device &&
           qulonglong(status.st_ino) == inode;
}

QByteArray journalLines(const QString& text, base::Priority priority, bool prefixed) {
    const QByteArray bytes = text.toUtf8();
    if (!prefixed)
        return bytes + '\n';
    // The journal makes an entry of every line: a message of several lines (a database's error
    // text) keeps its priority on each.
    const QByteArray prefix = '<' + QByteArray::number(int(priority)) + '>';
    QByteArray out;
    out.reserve(bytes.size() + prefix.size() + 1);
    for (const QByteArray& line : (bytes.endsWith('\n') ? bytes.chopped(1) : bytes).split('\n'))
        out += prefix + line + '\n';
    return out;
}

void printToStderr(base::Priority priority, const QString& text) {
    static const bool prefixed = isJournalStream(2);
    const QByteArray bytes = journalLines(text, priority, prefixed);
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace app
