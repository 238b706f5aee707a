#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <utility>

namespace alerts {

// The entries of the editor's priority list, in their order there.
enum class MailPriority { Highest, High, Normal, Low, Lowest };

inline constexpr std::array<const char16_t*, 5> kPriorityNames{u"Highest", u"High", u"Normal", u"Low",
                                                               u"Lowest"};

inline QString priorityName(MailPriority p) {
    return QString::fromUtf16(kPriorityNames[static_cast<int>(p)]);
}

// The headers that carry a priority. "Normal" carries none.
inline QList<std::pair<QByteArray, QByteArray>> priorityHeaders(MailPriority p) {
    switch (p) {
    case MailPriority::Highest:
        return {{"Priority", "urgent"}, {"X-Priority", "1"}, {"Importance", "high"}};
    case MailPriority::High:
        return {{"Priority", "urgent"}, {"X-Priority", "2"}, {"Importance", "high"}};
    case MailPriority::Normal:
        return {};
    case MailPriority::Low:
        return {{"Priority", "non-urgent"}, {"X-Priority", "4"}, {"Importance", "low"}};
    case MailPriority::Lowest:
        return {{"Priority", "non-urgent"}, {"X-Priority", "5"}, {"Importance", "low"}};
    }
    return {};
}

} // namespace alerts
