#include "alerts/QualityCounters.h"

#include "alerts/AlertReport.h"
#include "alerts/MessageEditor.h"
#include "base/ErrorReport.h"
#include "base/IntegerText.h"
#include "config/Settings.h"
#include "station/LivePanel.h"

#include <QFileInfo>

#include <cstdio>

using namespace Qt::StringLiterals;
using config::SettingId;
using station::Field;

namespace alerts {

namespace {

struct JudgedField {
    Field counter;
    SettingId pattern;
    SettingId threshold;
    bool upperCase;    // H only: pattern and value compared upper-cased
    bool strict;       // the guide alerts when its counter is greater than the threshold
    bool everyFailure; // H alerts at each failure
};

bool failed(const QString& value, const QString& pattern, bool upperCase) {
    if (pattern.isEmpty())
        return false;
    return upperCase ? value.toUpper().contains(pattern.toUpper()) : value.contains(pattern);
}

} // namespace

QualityCounters::QualityCounters(station::LivePanel& panel, const config::Settings& settings,
                                 MessageEditor& editor, AlertReport& report, QLocale locale)
    : m_panel(panel)
    , m_settings(settings)
    , m_editor(editor)
    , m_report(report)
    , m_locale(std::move(locale)) {
    // From the outbox itself: it tells a mail taken with a note (a certificate that did not verify).
    QObject::connect(&editor.outbox(), &MailOutbox::finished, &report,
                     [&report](MailOutbox::Kind kind, const QString& error, const QString& note) {
                         if (kind != MailOutbox::Kind::Alert)
                             return;
                         if (error.isEmpty())
                             report.sent(note);
                         else
                             report.failed(error);
                     });
    QObject::connect(&editor, &MessageEditor::alertsDropped, &report, &AlertReport::dropped);
}

void QualityCounters::evaluar_calidad(const QString& h, const QString& l, const QString& w) {
    // The L and W checks use the H pattern; their own pattern settings are read by nothing.
    static constexpr JudgedField kFields[] = {
        {Field::lCHHH, SettingId::EDFHHH, SettingId::EVhhh, true, false, true},
        {Field::lclll, SettingId::EDFHHH, SettingId::evlll, false, false, false},
        {Field::LCwww, SettingId::EDFHHH, SettingId::evwww, false, false, false},
        {Field::lcc128, SettingId::EDFC128, SettingId::evc128, false, true, false},
    };
    const QString guide = m_panel.text(Field::LC128);
    const QString* const values[] = {&h, &l, &w, &guide};

    bool raise = false;
    for (int i = 0; i < 4; ++i) {
        const JudgedField& f = kFields[i];
        if (!failed(*values[i], m_settings.text(f.pattern), f.upperCase)) {
            m_panel.increment(Field::Lbuenos);
            m_panel.reset(f.counter);
            continue;
        }
        m_panel.increment(Field::Lmalos);
        m_panel.increment(f.counter);
        raise = raise || f.everyFailure;
        const auto count = static_cast<double>(base::toInteger(m_panel.text(f.counter)));
        const double threshold = m_settings.real(f.threshold);
        if (f.strict ? count > threshold : count >= threshold) {
            raise = true;
            m_panel.reset(f.counter);
        }
    }

    const auto buenos = static_cast<long double>(base::toInteger(m_panel.text(Field::Lbuenos)));
    const auto malos = static_cast<long double>(base::toInteger(m_panel.text(Field::Lmalos)));
    m_panel.setText(Field::Lcalidad, qualityText(buenos * 100 / (buenos + malos), m_locale));

    if (raise)
        alert();
}

void QualityCounters::alert() {
    m_editor.setValues(m_panel.text(Field::lwww), m_panel.text(Field::LC128), m_panel.text(Field::LC128_32));
    try {
        const QString templateFile = MessageEditor::kTemplateFile.toString();
        if (QFileInfo::exists(templateFile))
            m_editor.loadTemplate(templateFile);
        MailRequest request;
        request.Texto_cuerpo = m_panel.text(Field::Fallas);
        request.From_text = m_settings.text(SettingId::EdRemitente);
        request.To_text = m_settings.lines(SettingId::Maillist).text();
        request.Replay_to = m_settings.text(SettingId::EdREsponder_A);
        request.Asunto = m_settings.text(SettingId::EdAsunto);
        request.smptuser_name = m_settings.text(SettingId::EdMailuser);
        request.smptpassword = m_settings.text(SettingId::EdMailPass);
        request.smpt_server_name = m_settings.text(SettingId::EdMailserver);
        request.smpt_server_port = m_settings.text(SettingId::EdMailport);
        m_editor.enviar_mensaje(request);
    } catch (const std::exception& e) {
        // Never in the record's way, and never a message box: the report keeps it.
        m_report.failed(base::messageOf(e));
    }
    m_panel.setText(Field::Fallas, QString());
}

void QualityCounters::checkStoredTotals(base::ErrorReport& errors) {
    for (const Field total : {Field::Lbuenos, Field::Lmalos}) {
        const QString text = m_panel.text(total);
        bool usable = false;
        try {
            usable = base::toInteger(text) >= 0;
        } catch (const std::exception&) {
        }
        if (usable)
            continue;
        errors.report(u"El total guardado %1 ('%2') no es una cuenta válida; cuenta desde 0"_s.arg(
                          QString::fromUtf16(station::LivePanel::definition(total).name), text),
                      base::Priority::Warning);
        m_panel.reset(total);
    }
}

QString QualityCounters::qualityText(long double quality, const QLocale& locale) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%10.2Lf", quality);
    QString text = QString::fromLatin1(buffer).trimmed();
    text.replace(u'.', locale.decimalPoint());
    return text;
}

} // namespace alerts
