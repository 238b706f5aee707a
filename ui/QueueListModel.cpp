#include "ui/QueueListModel.h"

#include <algorithm>

namespace ui {

void QueueListModel::noteAppended(quint64 sequence, const QString& line) {
    if (m_early.erase(sequence) == 0)
        m_appends.push_back({sequence, line});
}

void QueueListModel::noteRemoved(quint64 sequence) {
    m_removals.push_back(sequence);
}

void QueueListModel::applyRemovals() {
    if (m_removals.empty())
        return;
    std::sort(m_removals.begin(), m_removals.end());
    // Rows of shown items that left, in order; the rest may still wait among this frame's appends,
    // or left before the window saw their append at all.
    std::vector<int> rows;
    std::unordered_set<quint64> unseen;
    for (const quint64 sequence : m_removals) {
        const auto at = std::lower_bound(m_items.begin(), m_items.end(), sequence,
                                         [](const Item& item, quint64 s) { return item.sequence < s; });
        if (at != m_items.end() && at->sequence == sequence)
            rows.push_back(int(at - m_items.begin()));
        else
            unseen.insert(sequence);
    }
    if (!unseen.empty())
        std::erase_if(m_appends, [&unseen](const Item& item) { return unseen.erase(item.sequence) > 0; });
    m_early.insert(unseen.begin(), unseen.end());
    m_removals.clear();
    // Runs of neighbouring rows go as one block each, the last run first so the rows before it
    // keep their numbers.
    for (auto end = rows.end(); end != rows.begin();) {
        auto first = end - 1;
        while (first != rows.begin() && *(first - 1) == *first - 1)
            --first;
        const int from = *first;
        const int to = *(end - 1);
        beginRemoveRows({}, from, to);
        m_items.erase(m_items.begin() + from, m_items.begin() + to + 1);
        endRemoveRows();
        end = first;
    }
}

void QueueListModel::apply() {
    applyRemovals();

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
