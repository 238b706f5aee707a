#include "storage/RawLogFiles.h"

#include "base/Clock.h"
#include "base/CodePage.h"
#include "base/Error.h"
#include "base/ErrorReport.h"
#include "config/Settings.h"
#include "station/LivePanel.h"
#include "station/RawLog.h"
#include "storage/FileStamp.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

using namespace Qt::StringLiterals;
using config::SettingId;
using station::Field;

namespace storage {

namespace {

// The zero date-time of the station's clock: so far back that the first periodic save of a run
// passes the interval test whatever the interval.
const QDateTime kZeroDateTime(QDate(1899, 12, 30), QTime(0, 0));

QString folderError(const QString& folder) {
    return u"No se puedo crear la carpeta "_s + folder;
}

QString pathOf(const QString& folder, const QString& stem) {
    return folder + QDir::separator() + stem + u".txt"_s;
}

bool ensureFolder(const QString& folder) {
    return QDir(folder).exists() || QDir().mkdir(folder);
}

// Adds the entries to the file, each followed by CR LF, in the station's code page. A name that
// is already there is added to, never truncated: the counter comes back to the same value after
// a hundred names and starts again at every start, and a save must not destroy an earlier one. A
// write that fails half way is cut back, so that the retry of the kept list does not leave a
// partial copy in front of the full one.
void appendEntries(const QString& path, const QStringList& entries) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw base::Error(u"No se puede escribir el archivo "_s + path + u": "_s + file.errorString());
    const qint64 sizeBefore = file.size();
    bool written = true;
    for (const QString& entry : entries) {
        QByteArray line = base::codepage::narrow(entry);
        line += "\r\n";
        if (file.write(line) != line.size()) {
            written = false;
            break;
        }
    }
    if (written && file.flush())
        return;
    const QString reason = file.errorString();
    file.resize(sizeBefore);
    throw base::Error(u"No se puede escribir el archivo "_s + path + u": "_s + reason);
}

} // namespace

RawLogFiles::RawLogFiles(station::RawLog& logRS232, station::RawLog& logEthernet, config::Settings& settings,
                         station::LivePanel& panel, const base::Clock& clock, FileCounter& contador_archivo,
                         base::ErrorReport& errors, QObject* parent)
    : QObject(parent)
    , m_logRS232(logRS232)
    , m_logEthernet(logEthernet)
    , m_settings(settings)
    , m_panel(panel)
    , m_clock(clock)
    , m_contadorArchivo(contador_archivo)
    , m_errors(errors)
    , m_ultimo_guardado(kZeroDateTime) {
    watchSize(m_logRS232, SettingId::edCarpeta_destino_rs232, Field::LULR, m_watchRS232);
    watchSize(m_logEthernet, SettingId::EdCarpeta_Destino_ethernet, Field::LULE, m_watchEthernet);
}

void RawLogFiles::grabar_logs() {
    // The base folder is checked before the interval test, so a missing one is reported with every
    // serial record until the operator fixes it.
    const QString base = m_settings.text(SettingId::EdCarpetaBase);
    if (!ensureFolder(base))
        throw base::Error(folderError(base));

    const qint64 seconds = std::abs(m_clock.now().secsTo(m_ultimo_guardado));
    if (static_cast<double>(seconds) < m_settings.real(SettingId::Gcm) * 60)
        return;

    // Past the interval test a failure only ends this save: the lists not written keep their
    // entries and `ultimo_guardado` stays, so the next serial record tries again.
    const QString ethernet =
        base + QDir::separator() + m_settings.text(SettingId::EdCarpeta_Destino_ethernet);
    const QString rs232 = base + QDir::separator() + m_settings.text(SettingId::edCarpeta_destino_rs232);
    if (!ensureFolder(ethernet) || !ensureFolder(rs232))
        return;
    try {
        writeList(m_logEthernet, ethernet, Field::LULE);
        writeList(m_logRS232, rs232, Field::LULR);
    } catch (const std::exception&) {
        return;
    }

    // The counter starts the day again at the first save after midnight; the files written just now
    // keep the counts they got.
    const QDateTime now = m_clock.now();
    if (m_ultimo_guardado.date() == now.date().addDays(-1))
        m_contadorArchivo.reset();
    m_ultimo_guardado = now;
}

void RawLogFiles::Button3Click() {
    saveIntoRelativeFolder(m_logEthernet, SettingId::EdCarpeta_Destino_ethernet, Field::LULE);
    saveIntoRelativeFolder(m_logRS232, SettingId::edCarpeta_destino_rs232, Field::LULR);
}

void RawLogFiles::saveOnClose() {
    Button3Click();
}

void RawLogFiles::writeList(station::RawLog& log, const QString& folder, Field label) {
    if (log.isEmpty())
        return;
    appendEntries(pathOf(folder, nombre_archivo_log(m_clock, m_contadorArchivo)), log.entries());
    // The label gets a fresh stem, one count ahead of the file just written.
    m_panel.setText(label, nombre_archivo_log(m_clock, m_contadorArchivo));
    log.clear();
}

void RawLogFiles::saveIntoRelativeFolder(station::RawLog& log, SettingId folder, Field label) {
    const QString path = m_settings.text(folder);
    // A folder that cannot be made shows up as the failed write that follows.
    if (!log.isEmpty())
        ensureFolder(path);
    writeList(log, path, label);
}

bool RawLogFiles::SizeWatch::exceeded(const station::RawLog& log) const {
    return log.size() > entriesAbove || log.bytes() > bytesAbove;
}

void RawLogFiles::watchSize(station::RawLog& log, SettingId folder, Field label, SizeWatch& watch) {
    const auto check = [this, &log, folder, label, &watch] {
        if (log.size() <= kEntryLimit && log.bytes() <= kByteLimit) {
            watch.entriesAbove = kEntryLimit;
            watch.bytesAbove = kByteLimit;
        }
        if (!watch.exceeded(log) || watch.flushPending)
            return;
        // Written after the current event has finished, so that everyone who follows the list has
        // seen the entry before the list is emptied.
        watch.flushPending = true;
        QMetaObject::invokeMethod(
            this, [this, &log, folder, label, &watch] { writeOversized(log, folder, label, watch); },
            Qt::QueuedConnection);
    };
    connect(&log, &station::RawLog::appended, this, check);
    connect(&log, &station::RawLog::replaced, this, check);
}

void RawLogFiles::writeOversized(station::RawLog& log, SettingId folder, Field label, SizeWatch& watch) {
    watch.flushPending = false;
    if (!watch.exceeded(log))
        return; // a save got there first
    try {
        saveIntoRelativeFolder(log, folder, label);
    } catch (const std::exception& e) {
        watch.entriesAbove = log.size() + kEntryLimit;
        watch.bytesAbove = log.bytes() + kByteLimit;
        m_errors.report(base::messageOf(e));
    }
}

} // namespace storage
