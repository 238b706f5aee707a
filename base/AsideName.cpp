#include "base/AsideName.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace base {

QString asideName(const QString& path, const QDateTime& now) {
    const QString stamp = now.toString(u"yyyyMMdd-HHmmss"_s);
    QString name = path + u'.' + stamp + u".bak"_s;
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = path + u'.' + stamp + u'-' + QString::number(n) + u".bak"_s;
    return name;
}

} // namespace base
