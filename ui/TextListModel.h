#pragma once

#include <QAbstractListModel>
#include <QStringList>

#include <deque>

namespace ui {

// A raw log (`logEthernet`, `logRS232`) as the window shows it. The log may grow by hundreds of
// entries a second and holds everything since its last save, so entries are collected as they are
// announced and go into the view in one block per frame.
class TextListModel final : public QAbstractListModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TextListModel)

public:
    using QAbstractListModel::QAbstractListModel;

    void noteAppended(const QString& entry);
    void noteReplaced(const QStringList& entries);
    bool hasPending() const { return m_replace || !m_appends.isEmpty(); }
    void apply();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    std::deque<QString> m_entries;
    QStringList m_appends; // after the replacement, when there is one
    QStringList m_replacement;
    bool m_replace = false;
};

} // namespace ui
