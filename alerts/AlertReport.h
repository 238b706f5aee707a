#pragma once

#include "base/ErrorReport.h"

#include <QObject>
#include <QString>

namespace alerts {

// The outcome of the last alert mail, for the operator: the window keeps it quietly on its status
// bar, the console writes it to stderr. It speaks once per change of outcome, not once per mail,
// so a server that stays down does not flood either of them.
class AlertReport final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AlertReport)

public:
    using QObject::QObject;

    // `caveat`: what the operator should still know of the mail the server took (a certificate
    // that did not verify), continuing "enviada …"; it is a sent mail all the same.
    void sent(const QString& caveat = {}) {
        if (caveat.isEmpty())
            note(true, QString::fromUtf16(u"Alerta de calidad enviada"), base::Priority::Info);
        else
            note(true, QString::fromUtf16(u"Alerta de calidad enviada ") + caveat, base::Priority::Warning);
    }
    void failed(const QString& error) {
        note(false, QString::fromUtf16(u"Alerta de calidad no enviada: ") + error, base::Priority::Warning);
    }
    // Alerts that never became a mail because too many waited: said at every burst of them, but
    // no mail's outcome.
    void dropped(qint64 count) {
        m_last = count == 1
                     ? QString::fromUtf16(u"Se descartó 1 alerta de calidad: demasiadas en espera")
                     : QString::fromUtf16(u"Se descartaron %1 alertas de calidad: demasiadas en espera")
                           .arg(count);
        Q_EMIT changed(m_last, base::Priority::Warning);
    }

    const QString& last() const { return m_last; }

Q_SIGNALS:
    // A mail that did not go, one that went unverified, or alerts let go, is a warning; a sent
    // mail is news.
    void changed(const QString& text, base::Priority priority);
    // Every mail's outcome, a repeated one too: for whoever counts them.
    void noted(bool sent, const QString& text);

private:
    void note(bool sent, const QString& text, base::Priority priority) {
        Q_EMIT noted(sent, text);
        if (text == m_last)
            return;
        m_last = text;
        Q_EMIT changed(m_last, priority);
    }

    QString m_last;
};

} // namespace alerts
