#include "records/PackageRowInsert.h"

#include "base/CodePage.h"
#include "records/NumberText.h"
#include "station/LivePanel.h"
#include "station/StationError.h"
#include "storage/FileStamp.h"
#include "storage/StatementExecutor.h"

#include <QFile>
#include <QRegularExpression>


using namespace Qt::StringLiterals;

namespace records {

using station::Field;

const QString PackageRowInsert::kSentencia =
    u" insert into paquetes(plaza,origen,paquete,momento,longitud,altura,profundidad,peso,pesovolumen,"
    "estatus,ano,mes,dia,hora)    values (?,?,?,current_time,?,?,?,?,?,?,extract(year from current_date),"
    "extract(month from current_date),extract(day from current_date),extract(hour from current_time));"_s;

PackageRowInsert::PackageRowInsert(station::LivePanel& panel, storage::StatementExecutor& executor,
                                   storage::FileCounter& contador_archivo, const base::Clock& clock)
    : m_panel(panel)
    , m_executor(executor)
    , m_contador(contador_archivo)
    , m_clock(clock) {}

double PackageRowInsert::numero(const QString& shown) {
    return decimalNumber(shown).value_or(0.0);
}

storage::StatementValues PackageRowInsert::values(const QString& estatus_actual) const {
    return {
        m_panel.text(Field::lplaza),
        m_panel.text(Field::Lorigen),
        m_panel.text(Field::LC128),
        numero(m_panel.text(Field::Lhhh)),
        numero(m_panel.text(Field::llll)),
        numero(m_panel.text(Field::lwww)),
        numero(m_panel.text(Field::lpeso)),
        numero(m_panel.text(Field::lpesov)),
        estatus_actual,
    };
}

bool PackageRowInsert::insertar(const QString& estatus_actual) {
    const storage::StatementValues row = values(estatus_actual);
    if (m_executor.consultar(kSentencia, row))
        return true;
    m_panel.setText(Field::Label54, m_executor.lastFailure());
    dejarVolcado(storage::statementWithValues(kSentencia, row));
    return false;
}

double PackageRowInsert::tiempoPromedio() const {
    return m_executor.tiempo_promedio();
}

void PackageRowInsert::dejarVolcado(const QString& sentencia) const {
    const QString name =
        u"Query-fallido-"_s + storage::sello_tiempo(m_clock, m_contador, true, true) + u".txt"_s;
    // The counter comes round after a hundred names and a restart within the hour starts it again:
    // an earlier dump of the same name keeps its rows.
    QFile file(name);
    QString text = m_executor.lastFailure() + u"\r\n"_s + sentencia + u"\r\n"_s;
    text.replace(QRegularExpression(u"(?<!\r)\n"_s), u"\r\n"_s);
    const QByteArray bytes = base::codepage::narrow(text);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(bytes) != bytes.size() ||
        !file.flush())
        throw station::StationError(
            u"No se pudo escribir el archivo \"%1\": %2"_s.arg(name, file.errorString()));
}

} // namespace records
