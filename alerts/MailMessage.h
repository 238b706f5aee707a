#pragma once

#include "alerts/MailPriority.h"
#include "alerts/MailRequest.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace alerts {

// One composed alert mail: its envelope and its content as it goes after DATA (before the
// transport's dot-stuffing). The content is 7-bit: headers folded, with RFC 2047 words where
// needed, an HTML body whose characters outside US-ASCII are character references, every line at
// most 998 octets.
class MailMessage final {
public:
    struct Options {
        MailPriority priority = MailPriority::High;
        bool returnReceipt = false;
        QString bcc;
    };

    static constexpr QStringView kOrganization = u"OrvaneDB";
    static constexpr qsizetype kMaxLineOctets = 998;

    // Fails, before anything is sent, on a sender, reply-to or subject that would break out of its
    // header line, on an unusable address or text after one, and when nobody would receive the
    // mail.
    static MailMessage compose(const MailRequest& request, const QStringList& bodyLines,
                               const Options& options, const QDateTime& now);

    const QString& sender() const { return m_sender; }
    const QStringList& recipients() const { return m_recipients; }
    const QByteArray& content() const { return m_content; }

    // [rfc5322] 3.3: "Thu, 10 Dec 2026 13:04:05 +0100", in English whatever the locale.
    static QByteArray dateHeaderValue(const QDateTime& when);

    // One body line as wire lines: characters outside printable ASCII (tab aside) as HTML
    // character references, cut into pieces of at most 998 octets, at a blank when there is one.
    static QList<QByteArray> wireLines(QStringView line);

private:
    QString m_sender;
    QStringList m_recipients;
    QByteArray m_content;
};

} // namespace alerts
