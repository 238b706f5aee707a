#pragma once

#include "config/SettingId.h"
#include "station/PanelIds.h"

#include <QDateTime>
#include <QObject>
#include <QString>

namespace config {
class Settings;
}

namespace base {
class Clock;
class ErrorReport;
} // namespace base
namespace station {
class LivePanel;
class RawLog;
} // namespace station

namespace storage {

class FileCounter;

// Writes the two raw logs (`logRS232`, `logEthernet`) to dated files DDMMYYYY-hhmmcc.txt and
// empties them: the periodic save of the serial road, the operator's "Guardar Log" and the save on
// close. Every object it works on belongs to the core; the folders come from the settings as they
// read at the moment of the save.
class RawLogFiles final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RawLogFiles)

public:
    // A list that grows past this many entries, or this many bytes of text, is written out at once,
    // so that a station that never saves (no operator, a serial device inside the save's interval)
    // does not hold an ever-growing list until it closes. The bytes bound long lines: a hundred
    // thousand lines of 16 KiB would take gigabytes.
    static constexpr qsizetype kEntryLimit = 100'000;
    static constexpr qsizetype kByteLimit = 16 * 1024 * 1024;

    RawLogFiles(station::RawLog& logRS232, station::RawLog& logEthernet, config::Settings& settings,
                station::LivePanel& panel, const base::Clock& clock, FileCounter& contador_archivo,
                base::ErrorReport& errors, QObject* parent = nullptr);

    // The periodic save. Raises "No se puedo crear la carpeta " + base folder on every call while
    // the base folder is missing and cannot be made; once the interval has passed, any failure
    // ends the save silently and the next call tries again.
    void grabar_logs();

    // "Guardar Log": both lists into the folders named by the settings, relative to the working
    // directory; the folder of a list that has entries is created when missing, as the close does,
    // so that the first save on a fresh station works. A failure is raised and the list that
    // failed keeps its entries (the serial list is not tried when the Ethernet one failed).
    void Button3Click();

    // The log part of the close handler: the same as "Guardar Log". A failure is raised.
    void saveOnClose();

    // End of the last periodic save that got past the interval test; far in the past at start.
    const QDateTime& ultimo_guardado() const { return m_ultimo_guardado; }

private:
    struct SizeWatch {
        // Sizes above which the next forced write is tried; raised after a failed one so that a
        // folder that cannot be written brings one error report, not one per appended line.
        qsizetype entriesAbove = kEntryLimit;
        qsizetype bytesAbove = kByteLimit;
        bool flushPending = false;

        bool exceeded(const station::RawLog& log) const;
    };

    void writeList(station::RawLog& log, const QString& folder, station::Field label);
    void saveIntoRelativeFolder(station::RawLog& log, config::SettingId folder, station::Field label);
    void watchSize(station::RawLog& log, config::SettingId folder, station::Field label, SizeWatch& watch);
    void writeOversized(station::RawLog& log, config::SettingId folder, station::Field label,
                        SizeWatch& watch);

    station::RawLog& m_logRS232;
    station::RawLog& m_logEthernet;
    config::Settings& m_settings;
    station::LivePanel& m_panel;
    const base::Clock& m_clock;
    FileCounter& m_contadorArchivo;
    base::ErrorReport& m_errors;
    QDateTime m_ultimo_guardado;
    SizeWatch m_watchRS232;
    SizeWatch m_watchEthernet;
};

} // namespace storage
