#include "storage/FileStamp.h"

#include "base/Clock.h"

using namespace Qt::StringLiterals;

namespace storage {

QString dos_digitos(QStringView number) {
    return number.size() < 2 ? u"0"_s + number.toString() : number.toString();
}

QString dos_digitos(int number) {
    return dos_digitos(QString::number(number));
}

namespace {

QString datePart(const QDateTime& t) {
    return dos_digitos(t.date().day()) + dos_digitos(t.date().month()) + QString::number(t.date().year());
}

} // namespace

QString sello_tiempo(const base::Clock& clock, FileCounter& counter, bool hourOnly, bool withCounter) {
    const int count = counter.advance();
    const QDateTime t = clock.now();
    QString stamp = datePart(t) + u'-' + dos_digitos(t.time().hour());
    if (!hourOnly)
        stamp += dos_digitos(t.time().minute());
    if (withCounter)
        stamp += u'-' + dos_digitos(count);
    return stamp;
}

QString nombre_archivo_log(const base::Clock& clock, FileCounter& counter) {
    const QDateTime t = clock.now();
    const int count = counter.advance();
    return datePart(t) + u'-' + dos_digitos(t.time().hour()) + dos_digitos(t.time().minute()) +
           dos_digitos(count);
}

} // namespace storage
