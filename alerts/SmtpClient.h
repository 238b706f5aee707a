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

// Sends one mail at a time over SMTP, without TLS, on the event loop of the thread it lives on:
// nothing here waits, every wait on the server has a time limit, and the outcome comes back as
// `finished`. The exchange: greeting 220, EHLO (HELO when EHLO is refused), AUTH LOGIN when a user
// is set and the server offers LOGIN, MAIL FROM, one RCPT TO per recipient, DATA, the content,
// and QUIT whatever happened before. The socket and the timers exist only during an exchange and
// go on this thread when it ends, so a client whose thread has stopped holds none of them.
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
    void finished(const QString& error);

private:
    enum class Step {
        Idle,
        Connecting,
        Greeting,
        Ehlo,
        Helo,
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

    // Writes one command line; `shown` names it in an error (never the credentials).
    void command(const QByteArray& line, const QString& shown);
    void mailFrom();
    void sendContent();
    // Ends the exchange on a reply it cannot go on from; the reply's lines carry its code.
    void refused(const QStringList& lines);
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
    QString m_outcome;
};

} // namespace alerts
