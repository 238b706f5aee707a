#pragma once

#include "alerts/MailMessage.h"
#include "alerts/SmtpReplyReader.h"
#include "alerts/SmtpServer.h"

#include <QObject>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>

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
// and QUIT whatever happened before.
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

    // Ends the exchange in flight now; it finishes with `why` as its error.
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

    QTcpSocket m_socket;
    QTimer m_connectTimer;
    QTimer m_replyTimer;
    QTimer m_exchangeTimer;
    QTimer m_closeTimer;
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
