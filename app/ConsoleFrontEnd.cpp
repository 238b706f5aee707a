#include "app/ConsoleFrontEnd.h"

#include "app/CoreStation.h"
#include "app/JournalStream.h"

#include <csignal>
#include <cstddef>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

using namespace Qt::StringLiterals;

namespace app {

namespace {

// SIGHUP too: a station started from a terminal that goes away still closes as it should.
constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

int g_signalPipe[2] = {-1, -1};

// The parity word of the console: the name in lower case.
QString parityWord(std::size_t index) {
    return config::kParityNames[index].toString().toLower();
}

std::optional<int> number(QStringView text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// Device text as the operator's terminal may show it: a control character (an escape sequence
// would retitle or clear the terminal) appears as \xHH instead. The database keeps it as sent.
QString visible(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u < 0xA0))
            out += u"\\x"_s + QString::number(u, 16).toUpper().rightJustified(2, u'0');
        else
            out += c;
    }
    return out;
}

extern "C" void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

ConsoleFrontEnd::ConsoleFrontEnd(CoreStation& core, int out, int err, qsizetype outputLimit, QObject* parent)
    : QObject(parent)
    , m_core(core)
    , m_out(out, outputLimit)
    , m_err(err, outputLimit)
    , m_serialPort(core.serialPort()) {
    using base::Priority;
    using station::Field;
    // Under a service manager whose journal reads the error output, each line says how much it matters.
    m_err.setPriorityPrefixes(isJournalStream(err));
    connect(&core.panelRelay(), &station::PanelRelay::changed, this,
            [this](const station::PanelChanges& changes) {
                for (const station::PanelChange& change : changes) {
                    if (change.kind != station::PanelChange::Kind::Field)
                        continue;
                    m_shown[change.index] = change.text;
                    const auto field = static_cast<Field>(change.index);
                    if (field == Field::Label1 || field == Field::Label51)
                        printStatus(change.text);
                    else if (field == Field::lProcesados)
                        printRecord();
                }
            });
    // Not stored: said on the error output with the database's reason.
    connect(&core, &CoreStation::recordRefused, this, [this](const QString& row, const QString& error) {
        m_err.writeLine(u"Registro rechazado por la base de datos: "_s + visible(row) + u" ("_s +
                            visible(error.simplified()) + u')',
                        2, Priority::Error);
    });
    connect(&core.databaseBacklog(), &DatabaseBacklog::notice, this,
            [this](const QString& line, Priority priority) { m_err.writeLine(line, 2, priority); });
    connect(&core.errors(), &base::ErrorReport::reported, this,
            [this](const QString& message, Priority priority) { m_err.writeLine(message, 2, priority); });
    connect(&core, &CoreStation::closed, this, [this] {
        // The last lines get a moment to reach a slow reader; a stalled one does not hold the end.
        m_out.drain(2000);
        m_err.drain(2000);
        Q_EMIT finished();
    });
    // Serial lines are not records; they are shown as they come, control characters as blanks.
    connect(&core.logRS232(), &station::RawLog::appended, this, [this](QString entry) {
        for (QChar& c : entry) {
            if (c.unicode() < 0x20)
                c = u' ';
        }
        printStatus(u"rs232: "_s + entry);
    });
    connect(&core, &CoreStation::serialPortChanged, this,
            [this](const config::SerialPortSettings& settings) { m_serialPort = settings; });
    // How the alerts go, once per change; the test mail's outcome every time it is asked for.
    connect(&core.alertReport(), &alerts::AlertReport::changed, this,
            [this](const QString& text, Priority priority) { m_err.writeLine(text, 2, priority); });
    connect(&core.alertMail(), &alerts::MessageEditor::sendFinished, this,
            [this](alerts::MailOutbox::Kind kind, const QString& error, const QString& note) {
                if (kind != alerts::MailOutbox::Kind::Test)
                    return;
                if (error.isEmpty() && note.isEmpty())
                    printStatus(u"Correo de prueba enviado"_s);
                else if (error.isEmpty())
                    m_err.writeLine(u"Correo de prueba enviado "_s + note, 2, Priority::Warning);
                else
                    m_err.writeLine(u"Correo de prueba no enviado: "_s + error, 2, Priority::Warning);
            });
    // The station stays open after a failed close; the next "salir" or signal tries again.
    connect(&core, &CoreStation::closeFailed, this, [this] { m_closing = false; });
}

ConsoleFrontEnd::~ConsoleFrontEnd() {
    if (m_signals) {
        for (const int signal : kTerminationSignals)
            std::signal(signal, SIG_DFL);
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
}

void ConsoleFrontEnd::attach(int input) {
    m_inputFd = input;
    m_input = std::make_unique<QSocketNotifier>(input, QSocketNotifier::Read);
    connect(m_input.get(), &QSocketNotifier::activated, this, &ConsoleFrontEnd::readInput);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        m_signals = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        connect(m_signals.get(), &QSocketNotifier::activated, this, [this] {
            char byte;
            [[maybe_unused]] const auto got = ::read(g_signalPipe[0], &byte, 1);
            requestClose();
        });
        for (const int signal : kTerminationSignals)
            std::signal(signal, onTerminationSignal);
    }
}

void ConsoleFrontEnd::printRecord() {
    using station::Field;
    // The guide is still shown when the count moves; it is cleared right after.
    const auto shown = [this](Field f) { return visible(m_shown[static_cast<int>(f)]); };
    const QString line = shown(Field::Lfecha) + u' ' + shown(Field::Lorigen) + u' ' + shown(Field::LC128) +
                         u' ' + shown(Field::Lhhh) + u'x' + shown(Field::llll) + u'x' + shown(Field::lwww) +
                         u' ' + shown(Field::lpeso) + u' ' + shown(Field::lpesov) + u' ' +
                         shown(Field::lStatus);
    // After lines were left out, the count goes first, in the place where they are missing.
    QStringList lines;
    if (m_hidden > 0)
        lines.append(u"(%1 l\u00edneas no mostradas)"_s.arg(m_hidden));
    lines.append(line);
    if (m_out.writeLines(lines))
        m_hidden = 0;
    else
        ++m_hidden;
}

// Status texts are few and tell what the station is doing: they get twice the room of record lines.
void ConsoleFrontEnd::printStatus(const QString& text) {
    if (!m_out.writeLine(text, 2))
        ++m_hidden;
}

void ConsoleFrontEnd::readInput() {
    char chunk[4096];
    const ssize_t got = ::read(m_inputFd, chunk, sizeof chunk);
    if (got <= 0) {
        // End of input: a headless station goes on until a signal closes it.
        m_input->setEnabled(false);
        return;
    }
    m_pending.append(chunk, got);
    // No command is this long: the line is refused, however its bytes arrived, and what piles up
    // without a line end is let go as it comes.
    const auto refuseLongLine = [this] {
        if (!std::exchange(m_skippingLongLine, true))
            m_err.writeLine(
                u"Orden demasiado larga (m\u00e1s de %1 bytes): se descarta."_s.arg(kLongestCommandLine), 2,
                base::Priority::Warning);
    };
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        const QByteArray bytes = m_pending.first(end);
        m_pending.remove(0, end + 1);
        if (bytes.size() > kLongestCommandLine)
            refuseLongLine();
        if (std::exchange(m_skippingLongLine, false))
            continue; // the end of a line already refused
        const QString line = QString::fromLocal8Bit(bytes).trimmed().toLower();
        if (!line.isEmpty() && !command(line))
            m_err.writeLine(u"Orden desconocida: "_s + visible(line) +
                                u" (iniciar, parar, guardar, reset, puerto, correo, salir)"_s,
                            2, base::Priority::Warning);
    }
    if (m_pending.size() > kLongestCommandLine) {
        refuseLongLine();
        m_pending.clear();
    }
}

bool ConsoleFrontEnd::command(QStringView line) {
    QList<QStringView> words = line.split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return false;
    const QStringView word = words.takeFirst();
    if (word == u"puerto") {
        puerto(words);
        return true;
    }
    if (!words.isEmpty())
        return false;
    if (word == u"iniciar")
        QMetaObject::invokeMethod(&m_core, &CoreStation::iniciar, Qt::QueuedConnection);
    else if (word == u"parar")
        QMetaObject::invokeMethod(&m_core, &CoreStation::parar, Qt::QueuedConnection);
    else if (word == u"guardar")
        QMetaObject::invokeMethod(&m_core, &CoreStation::guardar, Qt::QueuedConnection);
    else if (word == u"reset")
        QMetaObject::invokeMethod(&m_core, &CoreStation::reset, Qt::QueuedConnection);
    else if (word == u"correo")
        QMetaObject::invokeMethod(&m_core, &CoreStation::correo, Qt::QueuedConnection);
    else if (word == u"salir")
        requestClose();
    else
        return false;
    return true;
}

void ConsoleFrontEnd::puerto(const QList<QStringView>& arguments) {
    if (arguments.isEmpty()) {
        const config::SerialPortSettings& s = m_serialPort;
        printStatus(u"Puerto serial: "_s + (s.ComNumber > 0 ? u"COM%1"_s.arg(s.ComNumber) : u"Ninguno"_s) +
                    u", Baudios: "_s + QString::number(s.Baud) + u", Data bits: "_s +
                    QString::number(s.DataBits) + u", Bits de parada: "_s + QString::number(s.StopBits) +
                    u", Paridad: "_s + config::parityLabel(s.parity).toString());
        return;
    }
    std::optional<config::Parity> parity;
    std::optional<int> com, baud, dataBits, stopBits;
    if (arguments.size() == 5) {
        com = number(arguments[0]);
        baud = number(arguments[1]);
        dataBits = number(arguments[2]);
        stopBits = number(arguments[3]);
        for (std::size_t i = 0; i < config::kParityNames.size(); ++i) {
            if (arguments[4] == parityWord(i))
                parity = config::Parity(i);
        }
    }
    if (!com || !baud || !dataBits || !stopBits || !parity) {
        m_err.writeLine(
            u"Uso: puerto [N BAUDIOS DATABITS BITSDEPARADA PARIDAD], con PARIDAD ninguno, impar, par, "
            u"marca o espacio; N 0 es ninguno"_s,
            2, base::Priority::Warning);
        return;
    }
    config::SerialPortSettings chosen = m_serialPort;
    chosen.ComNumber = *com;
    chosen.Baud = *baud;
    chosen.DataBits = *dataBits;
    chosen.StopBits = *stopBits;
    chosen.parity = *parity;
    QMetaObject::invokeMethod(
        &m_core, [core = &m_core, chosen] { core->setSerialPort(chosen); }, Qt::QueuedConnection);
}

void ConsoleFrontEnd::requestClose() {
    if (m_closing)
        return;
    m_closing = true;
    QMetaObject::invokeMethod(
        &m_core, [this] { m_core.close(); }, Qt::QueuedConnection);
}

} // namespace app
