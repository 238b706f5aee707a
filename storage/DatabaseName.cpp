#include "storage/DatabaseName.h"

#include <QFileInfo>

namespace storage {

bool isLocalDatabase(QStringView eddb) {
    const QStringView name = eddb.trimmed();
    if (name.contains(u"://"))
        return false;
    const qsizetype colon = name.indexOf(u':');
    if (colon <= 0)
        return true;
    // A path that starts like a path is a local file even when a ':' follows somewhere in it.
    const QChar first = name.front();
    return first == u'/' || first == u'.' || first == u'~';
}

QString localDatabasePath(const QString& eddb) {
    return QFileInfo(eddb.trimmed()).absoluteFilePath();
}

} // namespace storage
