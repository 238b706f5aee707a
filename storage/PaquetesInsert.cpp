#include "storage/PaquetesInsert.h"

#include <array>

using namespace Qt::StringLiterals;

namespace storage {

namespace {

const QString kColumns =
    u" insert into paquetes(plaza,origen,paquete,momento,longitud,altura,profundidad,peso,"
    "pesovolumen,estatus,ano,mes,dia,hora"_s;
const QString kServerClock = u"?,?,?,current_time,?,?,?,?,?,?,extract(year from current_date),"
                             "extract(month from current_date),extract(day from current_date),"
                             "extract(hour from current_time)"_s;
const QString kStationClock = u"?,?,?,cast(? as time),?,?,?,?,?,?,?,?,?,?"_s;

QString statement(bool late, bool withIdentity) {
    return kColumns + (withIdentity ? u",id_lectura)    values ("_s : u")    values ("_s) +
           (late ? kStationClock : kServerClock) + (withIdentity ? u",?);"_s : u");"_s);
}

} // namespace

PaquetesInsert PaquetesInsert::of(const PendingRow& row, bool late, bool withIdentity) {
    static const std::array<QString, 4> statements{statement(false, false), statement(false, true),
                                                   statement(true, false), statement(true, true)};
    PaquetesInsert insert{statements[(late ? 2 : 0) + (withIdentity ? 1 : 0)], {}};
    insert.values.reserve(row.values.size() + 6);
    // plaza, origen, paquete, [momento], the five numbers, estatus, [ano, mes, dia, hora]
    for (qsizetype i = 0; i < row.values.size(); ++i) {
        if (late && i == 3)
            insert.values.append(row.processedAt.time().toString(u"HH:mm:ss.zzz"));
        insert.values.append(row.values[i]);
    }
    if (late) {
        const QDate date = row.processedAt.date();
        insert.values << double(date.year()) << double(date.month()) << double(date.day())
                      << double(row.processedAt.time().hour());
    }
    if (withIdentity)
        insert.values.append(row.lectura);
    return insert;
}

} // namespace storage
