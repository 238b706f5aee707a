#include "ui/TextListModel.h"

#include "ui/QueueListModel.h"

namespace ui {

void TextListModel::noteAppended(const QString& entry) {
    m_appends.append(entry);
}

void TextListModel::noteReplaced(const QStringList& entries) {
    m_replace = true;
    m_replacement = entries;
    m_appends.clear();
}

void TextListModel::apply() {
    if (m_replace) {
        beginResetModel();
        m_entries.assign(m_replacement.cbegin(), m_replacement.cend());
        endResetModel();
        m_replacement.clear();
        m_replace = false;
    }
    if (!m_appends.isEmpty()) {
        const int first = int(m_entries.size());
        beginInsertRows({}, first, first + int(m_appends.size()) - 1);
        m_entries.insert(m_entries.end(), m_appends.cbegin(), m_appends.cend());
        endInsertRows();
        m_appends.clear();
    }
}

int TextListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant TextListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= int(m_entries.size()))
        return {};
    return QueueListModel::displayText(m_entries[std::size_t(index.row())]);
}

} // namespace ui
