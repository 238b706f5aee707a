// The record processor on its panel against hostile device lines: a line in as the network intake
// queues it, the panel and the row's values out. Besides the sanitizers' reports, every accepted
// record must reach its row with a six-character sequence, dimensions, weight and volumetric weight
// that the row reads as finite numbers, and one of the eight status texts.
#include "base/Clock.h"
#include "config/Settings.h"
#include "records/RecordProcessor.h"
#include "station/LineSplitter.h"
#include "station/LivePanel.h"
#include "station/RawLog.h"
#include "station/TickTimer.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;
using config::SettingId;
using station::Field;

namespace {

class StillTimer final : public station::TickTimer {
public:
    void setEnabled(bool on) override { m_on = on; }
    bool isEnabled() const override { return m_on; }

private:
    bool m_on = true;
};

class FixedClock final : public base::Clock {
public:
    QDateTime now() const override { return QDateTime(QDate(2024, 1, 5), QTime(14, 37)); }
};

// Names the broken invariant and the panel text behind it before stopping.
void check(bool condition, const char* what, const QString& text = {}) {
    if (condition)
        return;
    std::fprintf(stderr, "broken: %s [%s]\n", what, qUtf8Printable(text));
    std::abort();
}

// As the row takes a number from the panel: "." or "," as the decimal separator, nothing else.
bool isPlainNumber(QString text) {
    text.replace(u',', u'.');
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    return ok && std::isfinite(value);
}

class RowCheck final : public records::RowStore,
                       public records::PeriodicLogSave,
                       public records::QualityEvaluation {
public:
    explicit RowCheck(const station::LivePanel& panel)
        : m_panel(panel) {}

    void insertar(const QString& estatus) override {
        static const QRegularExpression status(u"^(Con|Sin) dim-(Con|Sin) peso-(Con|Sin) gu\u00eda$"_s);
        check(status.match(estatus).hasMatch(), "status text", estatus);
        check(m_panel.text(Field::Lseq).size() == 6, "sequence of six", m_panel.text(Field::Lseq));
        for (const Field f : {Field::Lhhh, Field::llll, Field::lwww, Field::lpeso, Field::lpesov})
            check(isPlainNumber(m_panel.text(f)), "a plain number", m_panel.text(f));
    }
    double tiempoPromedio() const override { return 0; }
    void grabar_logs() override {}
    void evaluar_calidad(const QString&, const QString&, const QString&) override {}

private:
    const station::LivePanel& m_panel;
};

struct Separators {
    QString field;
    QString dimension;
};

// The shipped separators first; the others are what an operator may type in.
const Separators kSeparators[] = {
    {u"!"_s, u"x"_s},  {u"!"_s, u"X"_s}, {u"|"_s, u"x"_s},
    {u"!!"_s, u"x"_s}, {u"!"_s, u"."_s}, {u"\t"_s, u"x"_s},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const Separators& separators = kSeparators[data[0] % std::size(kSeparators)];
    // The first byte's high bit picks a locale with "," as its decimal point.
    const QLocale locale = data[0] & 0x80 ? QLocale(QLocale::Spanish, QLocale::Spain) : QLocale::c();

    station::LivePanel panel;
    config::Settings settings;
    settings.setText(SettingId::EdSeparador, separators.field);
    settings.setText(SettingId::edsepdim, separators.dimension);
    settings.setLines(SettingId::LogiPs, config::LineList(u"10.1.2.3\r\n*\r\n"_s));
    settings.setLines(SettingId::LogCamNombre, config::LineList(u"CAM-01\r\n"_s));
    StillTimer timer;
    station::RawLog logRS232;
    RowCheck rows(panel);
    FixedClock clock;
    records::RecordProcessor processor({panel, settings, timer, logRS232, rows, rows, rows, clock}, locale);

    // Each LF-separated part is one queued line, as the intake builds it.
    const QByteArrayView bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    for (const QByteArrayView line : QByteArray::fromRawData(bytes.data(), bytes.size()).split('\n')) {
        QString buffer = u"\x02"_s + u"10.1.2.3\t"_s + station::LineSplitter::decode(line) + u'\n';
        processor.procesar_dato(buffer);
    }
    return 0;
}
