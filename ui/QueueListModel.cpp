#include "ui/QueueListModel.h"

#include <algorithm>

namespace ui {

void QueueListModel::noteAppended(quint64 sequence, const QString& line) {
    if (sequence > m_removedUpTo)
        m_appends.push_back({sequence, line});
}

void QueueListModel::noteRemoved(quint64 sequence) {
    m_removedUpTo = std::max(m_removedUpTo, sequence);
}

void QueueListModel::apply() {
    const quint64 gone = m_removedUpTo;
    m_appliedRemovedUpTo = gone;

    // Whatever has already left the queue is not shown at all.
    std::erase_if(m_appends, [gone](const Item& item) { return item.sequence <= gone; });

    const auto firstKept = std::find_if(m_items.begin(), m_items.end(),
                                        [gone](const Item& item) { return item.sequence > gone; });
    const int leaving = int(firstKept - m_items.begin());
    if (leaving > 0) {
        beginRemoveRows({}, 0, leaving - 1);
        m_items.erase(m_items.begin(), firstKept);
        endRemoveRows();
    }

    if (m_appends.empty())
        return;
    std::sort(m_appends.begin(), m_appends.end(),
              [](const Item& a, const Item& b) { return a.sequence < b.sequence; });

    // Appends are nearly always newer than anything shown: they go in as one block at the end.
    // One that was overtaken by a later sequence is put in its place by itself.
    auto tail = m_appends.begin();
    if (!m_items.empty()) {
        const quint64 last = m_items.back().sequence;
        tail = std::find_if(m_appends.begin(), m_appends.end(),
                            [last](const Item& item) { return item.sequence > last; });
        for (auto it = m_appends.begin(); it != tail; ++it) {
            const auto at =
                std::lower_bound(m_items.begin(), m_items.end(), it->sequence,
                                 [](const Item& item, quint64 sequence) { return item.sequence < sequence; });
            if (at != m_items.end() && at->sequence == it->sequence)
                continue;
            const int row = int(at - m_items.begin());
            beginInsertRows({}, row, row);
            m_items.insert(at, std::move(*it));
            endInsertRows();
        }
    }
    if (tail != m_appends.end()) {
        const int first = int(m_items.size());
        beginInsertRows({}, first, first + int(m_appends.end() - tail) - 1);
        std::move(tail, m_appends.end(), std::back_inserter(m_items));
        endInsertRows();
    }
    m_appends.clear();
}

int QueueListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant QueueListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= int(m_items.size()))
        return {};
    return displayText(m_items[std::size_t(index.row())].line);
}

QString QueueListModel::displayText(const QString& line) {
    QString shown = line;
    for (QChar& c : shown) {
        if (c.unicode() < 0x20)
            c = u' ';
    }
    return shown.trimmed();
}

} // namespace ui
