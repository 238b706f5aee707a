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

namespace {

// `name`, or `name` with "-2", "-3"… added when it is taken already.
QString unusedName(const QString& name) {
    QString free = name;
    for (int n = 2; QFileInfo::exists(free); ++n)
        free = name + u'-' + QString::number(n);
    return free;
}

} // namespace

QString damagedName(const QString& path, const QDateTime& now) {
    return unusedName(path + u".da\u00f1ado-"_s + now.toString(u"yyyyMMdd-HHmmss"_s));
}

QString formerFormatName(const QString& path, const QDateTime& now) {
    return unusedName(path + u".anterior-"_s + now.toString(u"yyyyMMdd-HHmmss"_s));
}

} // namespace base
