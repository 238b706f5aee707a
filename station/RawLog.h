#pragma once

#include <QObject>
#include <QStringList>

#include <numeric>

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
    // What the entries' text takes, in bytes: a few long lines weigh as much as many short ones.
    qsizetype bytes() const { return m_bytes; }

    void append(const QString& entry) {
        m_entries.append(entry);
        m_bytes += bytesOf(entry);
        Q_EMIT appended(entry);
    }

    void assign(QStringList entries) {
        m_entries = std::move(entries);
        m_bytes = std::accumulate(m_entries.cbegin(), m_entries.cend(), qsizetype(0),
                                  [](qsizetype sum, const QString& entry) { return sum + bytesOf(entry); });
        Q_EMIT replaced(m_entries);
    }

    void clear() { assign({}); }

Q_SIGNALS:
    void appended(const QString& entry);
    void replaced(const QStringList& entries);

private:
    static qsizetype bytesOf(const QString& entry) { return entry.size() * qsizetype(sizeof(QChar)); }

    QStringList m_entries;
    qsizetype m_bytes = 0;
};

} // namespace station
