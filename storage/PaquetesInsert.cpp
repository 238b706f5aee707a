#include "storage/PaquetesInsert.h"

#include <array>

using namespace Qt::StringLiterals;

namespace storage {

namespace {

const QString kColumns =
    u" insert into paquetes(plaza,origen,paquete,momento,longitud,altura,profundidad,peso,"
    "pesovolumen,estatus,ano,mes,dia,hora"_s;
const QString kServerDate = u",extract(year from current_date),extract(month from current_date),"
                            "extract(day from current_date),extract(hour from current_time)"_s;
const QString kServerClock = u"?,?,?,current_time,?,?,?,?,?,?"_s + kServerDate;
const QString kStationClock = u"?,?,?,cast(? as time),?,?,?,?,?,?,?,?,?,?"_s;

QString statement(bool late, bool withIdentity) {
    return kColumns + (withIdentity ? u",id_lectura)    values ("_s : u")    values ("_s) +
           (late ? kStationClock : kServerClock) + (withIdentity ? u",?);"_s : u");"_s);
}

} // namespace

PaquetesInsert PaquetesInsert::together(std::span<const PendingRow* const> rows, bool withIdentity) {
    // The parameters take the types of the columns they go to, so a value the table would refuse is
    // refused as the row's own insert refuses it.
    static constexpr std::array<QStringView, 9> kColumnOf{u"plaza",    u"origen",      u"paquete",
                                                          u"longitud", u"altura",      u"profundidad",
                                                          u"peso",     u"pesovolumen", u"estatus"};
    PaquetesInsert insert;
    QString parameters;
    QString inserts;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const PendingRow& row = *rows[r];
        QStringList names;
        const auto columns = static_cast<qsizetype>(kColumnOf.size());
        for (qsizetype i = 0; i <= columns; ++i) {
            const bool identity = i == columns;
            if (identity && !withIdentity)
                break;
            const QString name = u"p%1_%2"_s.arg(r).arg(i);
            if (!parameters.isEmpty())
                parameters += u", "_s;
            parameters += name + u" type of column paquetes."_s +
                          (identity ? u"id_lectura"_s : kColumnOf[std::size_t(i)].toString()) + u" = ?"_s;
            names << u':' + name;
            insert.values.append(identity ? StatementValue(row.lectura) : row.values.value(i));
        }
        // plaza, origen, paquete, then the server's moment, the five numbers, estatus and its date.
        const QString head = names.mid(0, 3).join(u',');
        const QString numbers = names.mid(3, 6).join(u',');
        inserts += kColumns + (withIdentity ? u",id_lectura) values ("_s : u") values ("_s) + head +
                   u",current_time,"_s + numbers + kServerDate +
                   (withIdentity ? u',' + names.last() : QString()) + u");"_s;
    }
    insert.sql = u"execute block ("_s + parameters + u") as begin"_s + inserts + u" end"_s;
    return insert;
}

PaquetesInsert PaquetesInsert::of(const PendingRow& row, bool late, bool withIdentity) {
    static const std::array<QString, 4> statements{statement(false, false), statement(false, true),
                                                   statement(true, false), statement(true, true)};
    PaquetesInsert insert{statements[(late ? 2 : 0) + (withIdentity ? 1 : 0)], {}};
    insert.values.reserve(row.values.size() + 6);
    // plaza, origen, paquete, [momento], the five numbers, estatus, [ano, mes, dia, hora]
    for (qsizetype i = 0; i < row.values.size(); ++i) {
        if (late && i == 3)
            insert.values.append(row.processedAt.time.toString(u"HH:mm:ss.zzz"));
        insert.values.append(row.values[i]);
    }
    if (late) {
        const QDate& date = row.processedAt.date;
        insert.values << double(date.year()) << double(date.month()) << double(date.day())
                      << double(row.processedAt.time.hour());
    }
    if (withIdentity)
        insert.values.append(row.lectura);
    return insert;
}

} // namespace storage
