#include "records/RecordProcessor.h"

#include "base/Clock.h"
#include "config/Settings.h"
#include "records/MessageFormat.h"
#include "records/NumberText.h"
#include "records/RecordChecks.h"
#include "station/LivePanel.h"
#include "station/RawLog.h"
#include "station/TickTimer.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace records {

using config::SettingId;
using station::Field;
using station::Light;

namespace {

const QString kDimensionPlaceholder = u"???"_s;
const QString kSequencePlaceholder = u"??????"_s;
const QString kGuidePlaceholder = QString(22, u'?');
const QString kGroupPlaceholder = u"????????????????????????|???|???"_s;

// The text after the first "|", or the whole text when it holds none.
QStringView afterBar(QStringView text) {
    const qsizetype bar = text.indexOf(u'|');
    return bar < 0 ? text : text.sliced(bar + 1);
}

// A weight with "." or "," as its decimal separator, with "." in it; nothing when it is no number.
std::optional<QString> weightText(QStringView weight) {
    if (!decimalNumber(weight))
        return std::nullopt;
    return weight.toString().replace(u',', u'.');
}

// The text before the first "|", empty when it holds none.
QStringView beforeBar(QStringView text) {
    const qsizetype bar = text.indexOf(u'|');
    return bar < 0 ? text.first(0) : text.first(bar);
}

} // namespace

RecordProcessor::RecordProcessor(Parts parts, QLocale locale)
    : m_parts(parts)
    , m_locale(std::move(locale)) {}

QString RecordProcessor::fecha_compacta() const {
    const QDateTime now = m_parts.clock.now();
    const QTime time = now.time();
    if (const qint64 minute = now.date().toJulianDay() * 1440 + time.hour() * 60 + time.minute();
        minute != m_compactMinute) {
        m_compactMinute = minute;
        m_compactText = now.toString(u"yyyyMMddHHmm"_s);
    }
    return m_compactText;
}

void RecordProcessor::procesar_dato(QString& buffer_trama) {
    if (!buffer_trama.contains(kLf) || buffer_trama.size() < 16)
        return;
    m_parts.timer.setEnabled(false);
    do {
        const qsizetype lf = buffer_trama.indexOf(kLf);
        const qsizetype stx = buffer_trama.indexOf(kStx);
        if (stx < 0)
            return;
        const QString frame = stx < lf ? buffer_trama.sliced(stx, lf - stx) : QString();
        buffer_trama.remove(0, lf + 1);
        if (!processFrame(frame))
            return;
    } while (buffer_trama.contains(kLf));
}

bool RecordProcessor::processFrame(const QString& frame) {
    station::LivePanel& panel = m_parts.panel;
    const config::Settings& settings = m_parts.settings;
    const QString separator = settings.text(SettingId::EdSeparador);
    const QString dimensionSeparator = settings.text(SettingId::edsepdim);
    const QString failure = settings.text(SettingId::EDFC128);

    panel.setText(Field::Logflash, frame);
    panel.setLit(Light::Leddeco, true);

    const QString trimmed = trimControl(frame).toString();
    panel.setText(Field::Label54, trimmed);

    panel.setLit(Light::LedInput, validar_campos(6, trimmed, separator));
    if (!panel.isLit(Light::LedInput))
        panel.increment(Field::fem);

    const RecordText record = recordText(trimmed, separator);
    // The origin as the entry carries it; the camera-name lookup below may replace what the panel shows.
    const QString origin = record.origin.toString();
    panel.setText(Field::Lorigen, origin);
    const QStringView dato = withoutHeader(record.text);

    // An entry that came over the serial line goes to its raw log. Decided on the entry's own
    // origin: the shared tag names whichever device spoke last, and a network record must never
    // be diverted from the database because a serial line arrived meanwhile.
    if (origin == kSerialOrigin) {
        m_parts.logRS232.append(dato.toString());
        m_parts.periodicLogSave.grabar_logs();
        panel.setLit(Light::Leddeco, false);
        m_parts.timer.setEnabled(true);
        return false;
    }

    panel.setText(Field::llll, kDimensionPlaceholder);
    panel.setText(Field::lwww, kDimensionPlaceholder);
    panel.setText(Field::Lhhh, kDimensionPlaceholder);
    panel.setText(Field::Lseq, kSequencePlaceholder);
    panel.setText(Field::LC128, kGuidePlaceholder);
    panel.setText(Field::LC128_32, kGroupPlaceholder);
    StatusWords words;

    const config::LineList& accepted = settings.lines(SettingId::LogiPs);
    const qsizetype listed = accepted.indexOf(origin);
    if (listed >= 0) {
        const QStringList& names = settings.lines(SettingId::LogCamNombre).lines();
        // An address without a name of its own is stored as the address: a row must say where
        // it came from.
        panel.setText(Field::Lorigen, listed < names.size() ? names[listed] : origin);
    }

    const Slots slots = cutSlots(dato, separator);
    for (const int i : {0, 2, 3, 4, 5, 6})
        clasificar_campo(slots.slot[i], dimensionSeparator);

    panel.setText(Field::Lfecha, fecha_compacta());

    // Decided on the entry's own origin: the shared tag may already name another device.
    if (listed < 0 && !accepted.contains(u"*"))
        return true;

    panel.setLit(Light::LedOutput, validar_campos(10, slots.remainder, separator));
    if (!panel.isLit(Light::LedOutput))
        panel.increment(Field::fsm);

    // A dimension is usable when it passes the number test and converts; one that passes the test
    // but is no number ("-", "E", "1,5" under a "." separator) is treated as rejected rather than
    // ending the record.
    const QString h = panel.text(Field::Lhhh);
    const QString l = panel.text(Field::llll);
    const QString w = panel.text(Field::lwww);
    const auto value = [this](const QString& text) {
        return es_numero(text) ? m_numbers.toNumber(text) : std::nullopt;
    };
    const std::optional<long double> hValue = value(h);
    const std::optional<long double> wValue = value(w);
    const std::optional<long double> lValue = value(l);
    if (!hValue || !wValue || !lValue)
        words.dimensions = false;

    if (isMarked(panel.text(Field::LC128_32), failure))
        words.weight = false;

    if (!hValue)
        panel.setText(Field::Lhhh, u"0"_s);
    if (!wValue)
        panel.setText(Field::lwww, u"0"_s);
    if (!lValue)
        panel.setText(Field::llll, u"0"_s);

    if (words.weight)
        panel.setText(Field::LC128, beforeBar(panel.text(Field::LC128_32)).toString());

    const QString rest = afterBar(panel.text(Field::LC128_32)).toString();
    panel.setText(Field::LC128_32, rest);
    // A weight written with a comma is that number whatever the locale, shown and stored with a
    // point; one that passes the number test but is no number is as unusable as such a dimension.
    const QStringView weight = beforeBar(rest);
    if (!es_numero(weight)) {
        panel.setText(Field::lpeso, u"0"_s);
    } else if (std::optional<QString> peso = weightText(weight)) {
        panel.setText(Field::lpeso, *peso);
    } else {
        panel.setText(Field::lpeso, u"0"_s);
        words.weight = false;
    }
    panel.setText(Field::lplaza, afterBar(rest).toString());

    double pesoVolumen = volumetricWeight(hValue.value_or(0), wValue.value_or(0), lValue.value_or(0));
    // Dimensions that are numbers each but whose product has no double: as unusable as a
    // dimension that is no number.
    if (!std::isfinite(pesoVolumen)) {
        for (const Field f : {Field::Lhhh, Field::lwww, Field::llll})
            panel.setText(f, u"0"_s);
        pesoVolumen = 0;
    }
    panel.setText(Field::lpesov, generalForm(pesoVolumen));
    if (pesoVolumen == 0)
        words.dimensions = false;

    if (isMarked(panel.text(Field::LC128), failure))
        panel.setText(Field::LC128, slots.guiaRespaldo.toString());
    if (isMarked(panel.text(Field::LC128), failure))
        words.guide = false;

    const QString estatus_actual = words.text();
    panel.setText(Field::lStatus, estatus_actual);

    m_parts.rows.insertar(estatus_actual);
    panel.increment(Field::lProcesados);
    if (const double average = m_parts.rows.tiempoPromedio(); average != m_averageShown) {
        m_averageShown = average;
        m_averageText = averageTimeText(average, m_locale);
    }
    panel.setStatus(0, m_averageText);

    m_parts.quality.evaluar_calidad(h, l, w);
    panel.setText(Field::LC128, QString());
    panel.setLit(Light::Leddeco, false);
    return true;
}

void RecordProcessor::clasificar_campo(QStringView slot, QStringView dimensionSeparator) {
    station::LivePanel& panel = m_parts.panel;
    switch (slotKind(slot.size())) {
    case SlotKind::Sequence:
        panel.setText(Field::Lseq, slot.toString());
        break;
    case SlotKind::Dimensions: {
        const Dimensions d = splitDimensions(slot, dimensionSeparator);
        panel.setText(Field::Lhhh, d.h.toString());
        panel.setText(Field::llll, d.l.toString());
        panel.setText(Field::lwww, d.w);
        break;
    }
    case SlotKind::Guide:
        panel.setText(Field::LC128, slot.toString());
        break;
    case SlotKind::Group32:
        panel.setText(Field::LC128_32, slot.toString());
        break;
    case SlotKind::None:
        break;
    }
    if (!isExpectedSlotLength(slot.size()))
        panel.increment(Field::fem);
}

} // namespace records
