#pragma once

#include "records/RecordSinks.h"

#include <QLocale>
#include <QString>

namespace config {
class Settings;
}
namespace base {
class ErrorReport;
}
namespace station {
class LivePanel;
}

namespace alerts {

class AlertReport;
class MessageEditor;

// `evaluar_calidad`: judges the four read results of an accepted record (H, L, W and the guide)
// against their failure patterns, moves the good and bad totals, the consecutive failure counters
// and the quality percentage on the live panel, and raises one alert mail when a field keeps
// failing. The mail goes out in the background; how it went ends up in the alert report, never in
// the record's way.
class QualityCounters final : public records::QualityEvaluation {
public:
    QualityCounters(station::LivePanel& panel, const config::Settings& settings, MessageEditor& editor,
                    AlertReport& report, QLocale locale = QLocale::system());

    void evaluar_calidad(const QString& h, const QString& l, const QString& w) override;

    // Right after the stored totals are restored: a total that is not a count (an edited settings
    // store) is reported once and counts from "0", instead of failing every record after it.
    void checkStoredTotals(base::ErrorReport& errors);

    // "%10.2f" with the locale's decimal separator, trimmed.
    static QString qualityText(long double quality, const QLocale& locale);

private:
    void alert();

    station::LivePanel& m_panel;
    const config::Settings& m_settings;
    MessageEditor& m_editor;
    AlertReport& m_report;
    QLocale m_locale;
};

} // namespace alerts
