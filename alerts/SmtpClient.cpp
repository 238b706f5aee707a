#include "alerts/SmtpClient.h"

#include <QHostInfo>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace alerts {

namespace {

QString seconds(std::chrono::milliseconds limit) {
    return QString::number(static_cast<double>(limit.count()) / 1000.0);
}

// EHLO's argument: the host's name when it is a plain domain name, else "localhost".
QByteArray helloName() {
    const QString name = QHostInfo::localHostName();
    const bool plain = !name.isEmpty() && std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'-' || c == u'.';
    });
    return plain ? name.toLatin1() : QByteArrayLiteral("localhost");
}

// A reply line without its code and separator.
QStringView textOf(const QString& line) {
    return QStringView(line).sliced(std::min<qsizetype>(4, line.size()));
}

// Whether an EHLO reply names the extension whose keyword is `keyword` ("250-STARTTLS").
bool offers(const QStringList& lines, QStringView keyword) {
    return std::any_of(lines.begin(), lines.end(), [keyword](const QString& line) {
        const QStringView text = textOf(line);
        return text.startsWith(keyword, Qt::CaseInsensitive) &&
               (text.size() == keyword.size() || text[keyword.size()] == u' ');
    });
}

// Whether an EHLO reply lists LOGIN among its AUTH mechanisms ("AUTH LOGIN PLAIN" or the older
// "AUTH=LOGIN").
bool offersLogin(const QStringList& lines) {
    for (const QString& line : lines) {
        const QStringView text = textOf(line);
        if (!text.startsWith(u"AUTH", Qt::CaseInsensitive) || text.size() < 5 ||
            (text[4] != u' ' && text[4] != u'='))
            continue;
        for (const QStringView mechanism : text.sliced(5).split(u' ', Qt::SkipEmptyParts))
            if (mechanism.compare(u"LOGIN", Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}

} // namespace

// No parent: they belong to the exchange, not to the client, and go when it ends.
struct SmtpClient::Link {
    QSslSocket socket; // in clear until STARTTLS
    QTimer connectTimer;
    QTimer replyTimer;
    QTimer exchangeTimer;
    QTimer closeTimer;
};

SmtpClient::SmtpClient(QObject* parent)
    : QObject(parent)
    , m_localName(helloName()) {}

SmtpClient::~SmtpClient() {
    // No signal of a dying client: its socket goes down with it.
    if (m_link)
        m_link->socket.disconnect(this);
}

void SmtpClient::send(const SmtpServer& server, const MailMessage& message) {
    Q_ASSERT(!busy());
    m_server = server;
    m_message = message;
    m_nextRecipient = 0;
    m_replies.clear();
    m_encrypted = false;
    m_unverified.clear();
    m_outcome.clear();
    m_note.clear();
    m_shownCommand = u"la conexión"_s;
    m_step = Step::Connecting;

    openLink();
    m_link->exchangeTimer.start(m_timeouts.exchange);
    m_link->connectTimer.start(m_timeouts.connect);
    // The name is looked up in the background; nothing here waits for it.
    m_link->socket.connectToHost(server.host, server.port);
}

void SmtpClient::openLink() {
    m_link = std::make_unique<Link>();
    QSslSocket& socket = m_link->socket;
    connect(&socket, &QSslSocket::connected, this, &SmtpClient::onConnected);
    connect(&socket, &QSslSocket::readyRead, this, &SmtpClient::onReadyRead);
    connect(&socket, &QSslSocket::disconnected, this, &SmtpClient::onDisconnected);
    connect(&socket, &QSslSocket::errorOccurred, this, &SmtpClient::onSocketError);
    connect(&socket, &QSslSocket::encrypted, this, &SmtpClient::onEncrypted);
    // [rfc7435] 3: a certificate that does not verify still beats clear text; the operator hears
    // why. Only ignored from this very signal, and only for this handshake.
    connect(&socket, &QSslSocket::sslErrors, this, [this, &socket](const QList<QSslError>& errors) {
        for (const QSslError& error : errors)
            if (!m_unverified.contains(error.errorString()))
                m_unverified << error.errorString();
        socket.ignoreSslErrors();
    });
    for (QTimer* timer :
         {&m_link->connectTimer, &m_link->replyTimer, &m_link->exchangeTimer, &m_link->closeTimer})
        timer->setSingleShot(true);
    connect(&m_link->connectTimer, &QTimer::timeout, this, [this] {
        finish(u"El servidor de correo %1:%2 no aceptó la conexión en %3 s"_s.arg(m_server.host)
                   .arg(m_server.port)
                   .arg(seconds(m_timeouts.connect)));
    });
    connect(&m_link->replyTimer, &QTimer::timeout, this, [this] {
        finish(u"El servidor de correo no respondió en %1 s a %2"_s.arg(seconds(m_timeouts.reply),
                                                                        m_shownCommand));
    });
    connect(&m_link->exchangeTimer, &QTimer::timeout, this, [this] {
        finish(u"El envío del correo no terminó en %1 s"_s.arg(seconds(m_timeouts.exchange)));
    });
    connect(&m_link->closeTimer, &QTimer::timeout, this, [this] {
        m_link->socket.abort();
        report();
    });
}

void SmtpClient::abort(const QString& why) {
    if (m_step == Step::Idle)
        return;
    // Once the farewell is all that is left, the outcome is known already.
    if (m_step != Step::Closing && m_step != Step::Reporting)
        m_outcome = why;
    if (m_link) {
        QSslSocket& socket = m_link->socket;
        socket.disconnect(this);
        if (m_step != Step::Closing && m_step != Step::Reporting && canSayQuit()) {
            // QUIT as far as the socket takes it at once; the connection is not waited for.
            socket.write("QUIT\r\n");
            socket.flush();
        }
        socket.abort();
    }
    end();
}

void SmtpClient::onConnected() {
    if (m_step != Step::Connecting)
        return;
    m_link->connectTimer.stop();
    m_step = Step::Greeting;
    m_shownCommand = u"la conexión (saludo 220)"_s;
    m_link->replyTimer.start(m_timeouts.reply);
}

void SmtpClient::onReadyRead() {
    m_replies.append(m_link->socket.readAll());
    while (awaitsReply()) {
        SmtpReplyReader::Reply reply;
        QString error;
        switch (m_replies.next(reply, error)) {
        case SmtpReplyReader::Result::NeedMore:
            return;
        case SmtpReplyReader::Result::Invalid:
            finish(error);
            return;
        case SmtpReplyReader::Result::Reply:
            m_link->replyTimer.stop();
            onReply(reply.code, reply.lines);
            break;
        }
    }
}

void SmtpClient::onDisconnected() {
    if (m_step == Step::Closing) {
        m_link->closeTimer.stop();
        report();
    } else if (m_step != Step::Idle && m_step != Step::Reporting) {
        finish(u"El servidor de correo cerró la conexión durante %1"_s.arg(m_shownCommand));
    }
}

void SmtpClient::onSocketError() {
    if (m_step == Step::Idle || m_step == Step::Reporting)
        return;
    if (m_step == Step::Closing) {
        if (m_link->socket.state() == QAbstractSocket::UnconnectedState)
            report();
        return;
    }
    if (m_step == Step::Handshake && m_link->socket.error() != QAbstractSocket::RemoteHostClosedError) {
        finish(u"La negociación TLS con el servidor de correo falló (%1); el correo no se envía sin cifrar"_s
                   .arg(m_link->socket.errorString()));
    } else if (m_link->socket.error() == QAbstractSocket::RemoteHostClosedError) {
        // The server hung up: nobody is left to say QUIT to.
        m_link->socket.abort();
        finish(u"El servidor de correo cerró la conexión durante %1"_s.arg(m_shownCommand));
    } else if (m_step == Step::Connecting) {
        finish(u"Servidor de correo %1:%2: %3"_s.arg(m_server.host)
                   .arg(m_server.port)
                   .arg(m_link->socket.errorString()));
    } else {
        finish(u"Servidor de correo: %1 durante %2"_s.arg(m_link->socket.errorString(), m_shownCommand));
    }
}

void SmtpClient::command(const QByteArray& line, const QString& shown) {
    m_shownCommand = shown;
    m_link->socket.write(line + "\r\n");
    m_link->replyTimer.start(m_timeouts.reply);
}

void SmtpClient::onReply(int code, const QStringList& lines) {
    switch (m_step) {
    case Step::Greeting:
        if (code != 220)
            return refused(lines);
        m_step = Step::Ehlo;
        return command("EHLO " + m_localName, u"EHLO"_s);
    case Step::Ehlo:
        if (code != 250) {
            m_step = Step::Helo;
            return command("HELO " + m_localName, u"HELO"_s);
        }
        // [rfc3207] 4.2: after the upgrade only the new reply counts, and it is not upgraded twice.
        if (!m_encrypted && offers(lines, u"STARTTLS"))
            return startTls();
        if (!m_server.user.isEmpty() && offersLogin(lines)) {
            m_step = Step::AuthLogin;
            return command("AUTH LOGIN", u"AUTH LOGIN"_s);
        }
        return mailFrom();
    case Step::Helo:
        if (code != 250)
            return refused(lines);
        return mailFrom();
    case Step::StartTls:
        if (code != 220)
            return refused(lines);
        // [rfc3207] 6: whatever came in clear behind the 220 is no part of the encrypted
        // conversation; a server that injects commands there is not heard.
        m_replies.clear();
        m_step = Step::Handshake;
        m_shownCommand = u"la negociación TLS"_s;
        m_link->replyTimer.start(m_timeouts.reply);
        m_link->socket.startClientEncryption();
        return;
    case Step::AuthLogin:
        if (code != 334)
            return refused(lines);
        m_step = Step::AuthUser;
        return command(m_server.user.toUtf8().toBase64(), u"el usuario"_s);
    case Step::AuthUser:
        if (code != 334)
            return refused(lines);
        m_step = Step::AuthPassword;
        return command(m_server.password.toUtf8().toBase64(), u"la clave"_s);
    case Step::AuthPassword:
        if (code != 235)
            return refused(lines);
        return mailFrom();
    case Step::MailFrom:
    case Step::RcptTo:
        if (code != 250 && !(m_step == Step::RcptTo && code == 251))
            return refused(lines);
        if (m_nextRecipient < m_message.recipients().size()) {
            m_step = Step::RcptTo;
            const QByteArray rcpt = "RCPT TO:<" + m_message.recipients()[m_nextRecipient++].toLatin1() + ">";
            return command(rcpt, QString::fromLatin1(rcpt));
        }
        m_step = Step::Data;
        return command("DATA", u"DATA"_s);
    case Step::Data:
        if (code != 354)
            return refused(lines);
        return sendContent();
    case Step::Content:
        if (code != 250)
            return refused(lines);
        return finish({});
    case Step::Idle:
    case Step::Connecting:
    case Step::Handshake:
    case Step::Closing:
    case Step::Reporting:
        return;
    }
}

bool SmtpClient::awaitsReply() const {
    return m_step != Step::Idle && m_step != Step::Handshake && m_step != Step::Closing &&
           m_step != Step::Reporting;
}

void SmtpClient::startTls() {
    // Without a TLS library the upgrade cannot happen, and a server that offered it gets nothing
    // in clear either.
    if (!QSslSocket::supportsSsl())
        return finish(
            u"El servidor de correo ofrece cifrado (STARTTLS), pero la estación no dispone de TLS; el correo "
            "no se envía sin cifrar"_s);
    m_step = Step::StartTls;
    command("STARTTLS", u"STARTTLS"_s);
}

void SmtpClient::onEncrypted() {
    if (m_step != Step::Handshake)
        return;
    m_link->replyTimer.stop();
    m_encrypted = true;
    m_step = Step::Ehlo;
    command("EHLO " + m_localName, u"EHLO"_s);
}

void SmtpClient::mailFrom() {
    m_step = Step::MailFrom;
    const QByteArray line = "MAIL FROM:<" + m_message.sender().toLatin1() + ">";
    command(line, QString::fromLatin1(line));
}

void SmtpClient::sendContent() {
    m_step = Step::Content;
    // [rfc5321] 4.5.2 Transparency: a line that begins with "." gets one more in front, so that
    // only the closing line is a lone ".".
    QByteArray data;
    const QByteArray& content = m_message.content();
    data.reserve(content.size() + content.size() / 64 + 8);
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf("\r\n", start);
        end = end < 0 ? content.size() : end + 2;
        if (content[start] == '.')
            data += '.';
        data += QByteArrayView(content).sliced(start, end - start);
        start = end;
    }
    if (!data.isEmpty() && !data.endsWith("\r\n"))
        data += "\r\n";
    data += ".";
    command(data, u"el fin del mensaje"_s);
}

void SmtpClient::refused(const QStringList& lines) {
    finish(u"El servidor de correo rechazó %1: %2"_s.arg(m_shownCommand, lines.join(u' ')));
}

void SmtpClient::finish(const QString& error) {
    if (m_step == Step::Idle || m_step == Step::Closing || m_step == Step::Reporting)
        return;
    m_outcome = error;
    if (error.isEmpty() && !m_unverified.isEmpty())
        m_note = u"con cifrado, pero el certificado del servidor no se pudo verificar: %1"_s.arg(
            m_unverified.join(u"; "_s));
    m_link->connectTimer.stop();
    m_link->replyTimer.stop();
    m_link->exchangeTimer.stop();
    m_step = Step::Closing;
    if (canSayQuit()) {
        // QUIT in every case; the connection goes down once it is written, without waiting for
        // the server's farewell.
        m_link->socket.write("QUIT\r\n");
        m_link->socket.disconnectFromHost();
    } else {
        m_link->socket.abort();
    }
    if (m_link->socket.state() == QAbstractSocket::UnconnectedState)
        report();
    else
        m_link->closeTimer.start(std::min<std::chrono::milliseconds>(m_timeouts.reply, 2s));
}

bool SmtpClient::canSayQuit() const {
    const QSslSocket& socket = m_link->socket;
    // Halfway into TLS a QUIT would only wait for a handshake that is not coming.
    return socket.state() == QAbstractSocket::ConnectedState &&
           (socket.mode() == QSslSocket::UnencryptedMode || socket.isEncrypted());
}

void SmtpClient::report() {
    if (m_step != Step::Closing)
        return;
    m_link->closeTimer.stop();
    m_step = Step::Reporting;
    // From the event loop, never from inside the socket's own notification: the socket goes with
    // the exchange. An abort in between has told the outcome already.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_step == Step::Reporting)
                end();
        },
        Qt::QueuedConnection);
}

void SmtpClient::end() {
    m_step = Step::Idle;
    m_link.reset();
    Q_EMIT finished(m_outcome, m_outcome.isEmpty() ? m_note : QString());
}

} // namespace alerts
