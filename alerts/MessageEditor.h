#pragma once

#include "alerts/MailMessage.h"
#include "alerts/MailOutbox.h"
#include "alerts/MailPriority.h"
#include "alerts/MailRequest.h"

#include <QLocale>
#include <QObject>
#include <QString>

namespace base {
class Clock;
}

namespace alerts {

// What the message editor window shows and the operator may change.
struct EditorState {
    QString Memo1; // the template
    MailPriority cboPriority = MailPriority::High;
    bool chkReturnReciept = false;
    QString edtBCC;

    friend bool operator==(const EditorState&, const EditorState&) = default;
};

// The alert editor: the holder of the mail template, the message's settings and the SMTP client.
// It lives with the core; the window `TfrmMessageEditor` shows its state and posts the operator's
// edits and the test send to it. `enviar_mensaje` composes the mail at once and hands it to the
// outbox: whatever can be known before connecting fails right there, the rest comes back later
// through `sendFinished`.
class MessageEditor final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MessageEditor)

public:
    static constexpr QStringView kTemplateFile = u"Template_fallas.txt";

    MessageEditor(const base::Clock& clock, QLocale locale = QLocale::system(), QObject* parent = nullptr);

    // `aplicacion`, `estacion` and `usuario`: what "@GUIA", "@ORIGEN" and "@DESTINO" become. Set by
    // each alert; a test send uses whatever the last alert left.
    void setValues(QString aplicacion, QString estacion, QString usuario);

    const EditorState& state() const { return m_state; }
    void setState(const EditorState& state);
    // Loads the template file, replacing the template; fails when it cannot be read.
    void loadTemplate(const QString& path);

    // Composes the mail and posts it; fails on a setting that makes it unsendable.
    void enviar_mensaje(const MailRequest& request, MailOutbox::Kind kind = MailOutbox::Kind::Alert);

    // "Sen&d": the test send with the built-in values. Its outcome comes as `sendFinished`, a
    // mail that cannot even be composed too.
    void testSend();
    // The built-in values of the test send.
    static MailRequest builtInTestRequest();
    void setTestRequest(const MailRequest& request) { m_testRequest = request; }

    void setTimeouts(const SmtpTimeouts& timeouts) { m_outbox.client().setTimeouts(timeouts); }
    const MailOutbox& outbox() const { return m_outbox; }
    bool idle() const { return m_outbox.idle(); }
    void abortAll(const QString& why) { m_outbox.abortAll(why); }

Q_SIGNALS:
    void stateChanged(const alerts::EditorState& state);
    // `note`: what is still to know of a mail the server took (a certificate that did not verify).
    void sendFinished(alerts::MailOutbox::Kind kind, const QString& error, const QString& note);
    void drained();
    // Alerts dropped because too many waited; once a burst.
    void alertsDropped(qint64 count);

private:
    const base::Clock& m_clock;
    QLocale m_locale;
    QString m_aplicacion;
    QString m_estacion;
    QString m_usuario;
    EditorState m_state;
    MailRequest m_testRequest;
    MailOutbox m_outbox;
};

} // namespace alerts
