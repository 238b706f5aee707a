#pragma once

#include <QAbstractListModel>
#include <QString>

#include <deque>
#include <unordered_set>
#include <vector>

namespace ui {

// The window's picture of the intake queue `L1`, kept from the queue's own notifications so that
// nothing ever copies the queue. A removal names the item that left (the queue serves devices in
// turn, so not always the oldest); an append may reach the window after its removal (it is
// announced on the connection's thread, the removal on the core's), and is then dropped. Changes
// are collected as they arrive and applied in one go by `apply`, once per frame.
class QueueListModel final : public QAbstractListModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueueListModel)

public:
    using QAbstractListModel::QAbstractListModel;

    void noteAppended(quint64 sequence, const QString& line);
    void noteRemoved(quint64 sequence);
    bool hasPending() const { return !m_appends.empty() || !m_removals.empty(); }
    void apply();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    quint64 sequenceAt(int row) const { return m_items.at(std::size_t(row)).sequence; }
    const QString& lineAt(int row) const { return m_items.at(std::size_t(row)).line; }

    // The item as the operator reads it: control characters (the frame's STX, TAB and LF) as blanks.
    static QString displayText(const QString& line);

private:
    struct Item {
        quint64 sequence;
        QString line;
    };

    void applyRemovals();

    std::deque<Item> m_items;            // in sequence order
    std::vector<Item> m_appends;         // noted since the last apply
    std::vector<quint64> m_removals;     // noted since the last apply
    std::unordered_set<quint64> m_early; // removed before their append was noted
};

} // namespace ui
