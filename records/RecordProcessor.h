#pragma once

#include "records/NumberText.h"
#include "records/RecordSinks.h"
#include "station/ProcessingTick.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace config {
class Settings;
}
namespace base {
class Clock;
}
namespace station {
class LivePanel;
class RawLog;
class TickTimer;
} // namespace station

namespace records {

// `procesar_dato`: frames the queue entry the tick left in `buffer_trama`, cuts it into its slots,
// shows every part on the live panel, judges it, and hands an accepted record on to its row and to
// the quality evaluation. Runs on the core's thread, one entry at a time.
class RecordProcessor final : public station::FrameHandler {
public:
    struct Parts {
        station::LivePanel& panel;
        const config::Settings& settings;
        station::TickTimer& timer;
        station::RawLog& logRS232;
        RowStore& rows;
        PeriodicLogSave& periodicLogSave;
        QualityEvaluation& quality;
        const base::Clock& clock;
    };

    explicit RecordProcessor(Parts parts, QLocale locale = QLocale::system());

    void procesar_dato(QString& buffer_trama) override;

    // The station clock as yyyyMMddhhmm.
    QString fecha_compacta() const;

    // The origin tag of the serial line.
    static constexpr QStringView kSerialOrigin = u"232";

private:
    // Returns false when the entry must not be framed any further (the serial branch).
    bool processFrame(const QString& frame);
    void clasificar_campo(QStringView slot, QStringView dimensionSeparator);

    Parts m_parts;
    QLocale m_locale;
    LocaleNumbers m_numbers{m_locale};
    // Texts that change far less often than records come, formatted again only when their input
    // changed: the minute of the compact date, the average time.
    mutable qint64 m_compactMinute = -1;
    mutable QString m_compactText;
    std::optional<double> m_averageShown;
    QString m_averageText;
};

} // namespace records
