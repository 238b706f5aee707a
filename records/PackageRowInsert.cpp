#include "records/PackageRowInsert.h"

#include "base/Clock.h"
#include "base/CodePage.h"
#include "records/NumberText.h"
#include "station/LivePanel.h"
#include "station/StationError.h"
#include "storage/FileStamp.h"
#include "storage/RowOutbox.h"
#include "storage/RowWriter.h"

#include <QFile>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace records {

using station::Field;

PackageRowInsert::PackageRowInsert(station::LivePanel& panel, storage::RowOutbox& outbox,
                                   storage::RowWriter& writer, std::function<base::LineId()> lineInHand,
                                   storage::FileCounter& contador_archivo, const base::Clock& clock)
    : m_panel(panel)
    , m_outbox(outbox)
    , m_writer(writer)
    , m_lineInHand(std::move(lineInHand))
    , m_contador(contador_archivo)
    , m_clock(clock) {}

double PackageRowInsert::numero(const QString& shown) {
    return decimalNumber(shown).value_or(0.0);
}

storage::StatementValues PackageRowInsert::values(const station::LivePanel& panel,
                                                  const QString& estatus_actual) {
    return {
        panel.text(Field::lplaza),        panel.text(Field::Lorigen),        panel.text(Field::LC128),
        numero(panel.text(Field::Lhhh)),  numero(panel.text(Field::llll)),   numero(panel.text(Field::lwww)),
        numero(panel.text(Field::lpeso)), numero(panel.text(Field::lpesov)), estatus_actual,
    };
}

QString PackageRowInsert::lectura() {
    const base::LineId line = m_lineInHand();
    m_recordOfLine = line == m_lastLine ? m_recordOfLine + 1 : 0;
    m_lastLine = line;
    return m_recordOfLine == 0 ? line.text() : line.text() + u'-' + QString::number(m_recordOfLine);
}

void PackageRowInsert::insertar(const QString& estatus_actual) {
    m_outbox.append({lectura(), m_clock.now(), values(m_panel, estatus_actual)});
    m_writer.wake();
}

double PackageRowInsert::tiempoPromedio() const {
    return m_writer.tiempoPromedio();
}

void PackageRowInsert::refused(const QString& statement, const QString& error) {
    m_panel.setText(Field::Label54, error);
    dejarVolcado(error, statement);
}

void PackageRowInsert::dejarVolcado(const QString& error, const QString& sentencia) const {
    const QString name =
        u"Query-fallido-"_s + storage::sello_tiempo(m_clock, m_contador, true, true) + u".txt"_s;
    // The counter comes round after a hundred names and a restart within the hour starts it again:
    // an earlier dump of the same name keeps its rows.
    QFile file(name);
    QString text = error + u"\r\n"_s + sentencia + u"\r\n"_s;
    text.replace(QRegularExpression(u"(?<!\r)\n"_s), u"\r\n"_s);
    const QByteArray bytes = base::codepage::narrow(text);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(bytes) != bytes.size() ||
        !file.flush())
        throw station::StationError(
            u"No se pudo escribir el archivo \"%1\": %2"_s.arg(name, file.errorString()));
}

} // namespace records
