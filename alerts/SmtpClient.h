#pragma once

#include "alerts/MailMessage.h"
#include "alerts/SmtpReplyReader.h"
#include "alerts/SmtpServer.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <memory>

namespace alerts {

// How long a mail may keep the station's alert path waiting.
struct SmtpTimeouts {
    std::chrono::milliseconds connect{10'000};  // name lookup and connection
    std::chrono::milliseconds reply{30'000};    // each reply of the server
    std::chrono::milliseconds exchange{60'000}; // the whole exchange, from the lookup to QUIT
};

// Sends one mail at a time over SMTP on the event loop of the thread it lives on: nothing here
// waits, every wait on the server has a time limit, and the outcome comes back as `finished`. The
// exchange: greeting 220, EHLO (HELO when EHLO is refused), STARTTLS when the server offers it,
// AUTH LOGIN when a user is set and the server offers LOGIN, MAIL FROM, one RCPT TO per recipient,
// DATA, the content, and QUIT whatever happened before. The socket and the timers exist only
// during an exchange and go on this thread when it ends, so a client whose thread has stopped
// holds none of them.
//
// TLS is opportunistic ([rfc7435]): a server that offers STARTTLS gets everything after it
// encrypted, even when its certificate does not verify against the system's store (the mail then
// goes with a note saying so); a server that offers it and then fails the upgrade gets nothing,
// least of all the password. A server that offers no STARTTLS is spoken to in clear.
class SmtpClient final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SmtpClient)

public:
    explicit SmtpClient(QObject* parent = nullptr);
    ~SmtpClient() override;

    void setTimeouts(const SmtpTimeouts& timeouts) { m_timeouts = timeouts; }

    // From `send` until `finished` has been emitted.
    bool busy() const { return m_step != Step::Idle; }

    // Starts the exchange; the client must not be busy.
    void send(const SmtpServer& server, const MailMessage& message);

    // Ends the exchange in flight now, and `finished` is emitted before this returns: with `why`
    // as its error, or with the outcome already known when only the farewell was left.
    void abort(const QString& why);

Q_SIGNALS:
    // Emitted once per send, from the event loop; `error` is empty when the server took the mail.
    // `note` is what the operator should still know of a mail that was taken, empty when there is
    // nothing: it continues "enviada …" ("con cifrado, pero el certificado del servidor no se pudo
    // verificar: …").
    void finished(const QString& error, const QString& note);

private:
    enum class Step {
        Idle,
        Connecting,
        Greeting,
        Ehlo,
        Helo,
        StartTls,  // STARTTLS sent, its 220 awaited
        Handshake, // the TLS handshake, until `encrypted`
        AuthLogin,
        AuthUser,
        AuthPassword,
        MailFrom,
        RcptTo,
        Data,
        Content,
        Closing,
        Reporting,
    };

    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void onSocketError();
    void onReply(int code, const QStringList& lines);
    void onEncrypted();
    // Whether the step reads replies; not during the handshake, nor once the outcome is known.
    bool awaitsReply() const;

    // Writes one command line; `shown` names it in an error (never the credentials).
    void command(const QByteArray& line, const QString& shown);
    void startTls();
    void mailFrom();
    void sendContent();
    // Ends the exchange on a reply it cannot go on from; the reply's lines carry its code.
    void refused(const QStringList& lines);
    // Whether QUIT can still go: connected, and not halfway into TLS.
    bool canSayQuit() const;
    // Ends the exchange: QUIT when the connection is still up, then the outcome.
    void finish(const QString& error);
    void report();

    // The socket and the timers of a new exchange, wired to this client.
    void openLink();
    // The exchange is over: its socket and timers go, and the outcome is told.
    void end();

    struct Link;
    std::unique_ptr<Link> m_link; // from `send` to the end of the exchange
    SmtpTimeouts m_timeouts;
    QByteArray m_localName;

    Step m_step = Step::Idle;
    SmtpServer m_server;
    MailMessage m_message;
    qsizetype m_nextRecipient = 0;
    SmtpReplyReader m_replies;
    QString m_shownCommand;
    bool m_encrypted = false;
    // Why the server's certificate did not verify, when it did not; the mail went encrypted all the same.
    QStringList m_unverified;
    QString m_outcome;
    QString m_note;
};

} // namespace alerts
