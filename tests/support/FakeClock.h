#pragma once

#include "base/Clock.h"

// A clock the test sets by hand.
class FakeClock final : public base::Clock {
public:
    explicit FakeClock(QDateTime t = QDateTime(QDate(2024, 1, 5), QTime(14, 37)))
        : m_now(std::move(t)) {}
    QDateTime now() const override { return m_now; }
    void set(QDateTime t) { m_now = std::move(t); }
    void advanceSeconds(qint64 s) { m_now = m_now.addSecs(s); }

private:
    QDateTime m_now;
};
