#include "ui/QualityTrend.h"

namespace ui {

namespace {

qint64 minuteOf(const QDateTime& at) {
    return at.toMSecsSinceEpoch() / 60000;
}

} // namespace

QualityTrend::Slot& QualityTrend::slotAt(const QDateTime& at) {
    const qint64 minute = minuteOf(at);
    if (m_slots.empty() || minute > m_slots.back().minute)
        m_slots.push_back({minute, 0, std::nullopt});
    while (m_slots.front().minute <= m_slots.back().minute - kMinutes) {
        if (m_slots.front().quality)
            m_qualityBefore = m_slots.front().quality;
        m_slots.pop_front();
    }
    return m_slots.back();
}

void QualityTrend::addRows(const QDateTime& at, int rows) {
    slotAt(at).rows += rows;
}

void QualityTrend::setQuality(const QDateTime& at, double percent) {
    slotAt(at).quality = percent;
}

std::vector<QualityTrend::Minute> QualityTrend::minutes(const QDateTime& now) const {
    const qint64 last = minuteOf(now);
    const qint64 first = last - kMinutes + 1;
    std::vector<Minute> out;
    out.reserve(kMinutes);
    std::optional<double> quality = m_qualityBefore;
    auto slot = m_slots.begin();
    for (; slot != m_slots.end() && slot->minute < first; ++slot) {
        if (slot->quality)
            quality = slot->quality;
    }
    for (qint64 minute = first; minute <= last; ++minute) {
        int rows = 0;
        if (slot != m_slots.end() && slot->minute == minute) {
            rows = slot->rows;
            if (slot->quality)
                quality = slot->quality;
            ++slot;
        }
        out.push_back({QDateTime::fromMSecsSinceEpoch(minute * 60000), rows, quality});
    }
    return out;
}

} // namespace ui
