#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace alerts {

// An address list of the mail: entries separated by ",", ";" or line breaks, each a bare address
// or a display name followed by the address in angle brackets. Empty entries are skipped.
class AddressList final {
public:
    AddressList() = default;

    // Fails on an entry whose address is unusable in an SMTP command (control characters, blanks,
    // angle brackets, non-ASCII, longer than a path may be), on text after the closing angle
    // bracket, on angle brackets in the display name and on a NUL anywhere. `what` names the list
    // for the operator.
    static AddressList parse(QStringView text, QStringView what);

    // The address of one entry: the text in angle brackets when there is one, else the entry.
    static QString addressOf(QStringView entry);

    bool isEmpty() const { return m_entries.isEmpty(); }
    const QStringList& entries() const { return m_entries; }
    const QStringList& addresses() const { return m_addresses; }

    // The list as a header's value, still unfolded: entries joined by commas, a display name
    // encoded where it needs to be.
    QByteArray headerValue() const;

private:
    QStringList m_entries;
    QStringList m_addresses;
};

} // namespace alerts
