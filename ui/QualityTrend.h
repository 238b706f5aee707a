#pragma once

#include <QDateTime>

#include <deque>
#include <optional>
#include <vector>

namespace ui {

// The last eight hours of the station's work, minute by minute: the rows stored in each minute and
// the quality percentage shown at its end. Times come from the caller, so a clock that steps back
// (a time-zone or daylight-saving change) adds to the latest minute instead of disordering them.
class QualityTrend final {
public:
    static constexpr int kMinutes = 8 * 60;

    struct Minute {
        QDateTime start;
        int rows = 0;
        // The quality shown at the minute's end, carried over from before when it did not change;
        // empty before the first known value.
        std::optional<double> quality;
    };

    void addRows(const QDateTime& at, int rows);
    void setQuality(const QDateTime& at, double percent);

    // Every minute of the eight hours up to `now`, oldest first, the quiet ones with no rows.
    std::vector<Minute> minutes(const QDateTime& now) const;

private:
    struct Slot {
        qint64 minute = 0; // minutes since the epoch
        int rows = 0;
        std::optional<double> quality;
    };

    Slot& slotAt(const QDateTime& at);

    std::deque<Slot> m_slots;              // ascending, at most kMinutes old
    std::optional<double> m_qualityBefore; // the last value that fell out of the window
};

} // namespace ui
