#pragma once

#include <QObject>
#include <QStringList>

namespace station {

// One of the two raw logs kept in memory (`logRS232`, `logEthernet`): an ordered list of entries
// that a save writes to a file and then empties. A front end follows it through the signals.
class RawLog final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RawLog)

public:
    using QObject::QObject;

    const QStringList& entries() const { return m_entries; }
    qsizetype size() const { return m_entries.size(); }
    bool isEmpty() const { return m_entries.isEmpty(); }

    void append(const QString& entry) {
        m_entries.append(entry);
        Q_EMIT appended(entry);
    }

    void assign(QStringList entries) {
        m_entries = std::move(entries);
        Q_EMIT replaced(m_entries);
    }

    void clear() { assign({}); }

Q_SIGNALS:
    void appended(const QString& entry);
    void replaced(const QStringList& entries);

private:
    QStringList m_entries;
};

} // namespace station
