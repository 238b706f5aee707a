#pragma once

#include "config/SerialPortSettings.h"
#include "station/PanelIds.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTextStream>

#include <array>
#include <memory>

namespace app {

class CoreStation;

// The station without a window: prints the status texts, the serial lines, every error report
// (errors on stderr) and how the alert mails go, reads the commands iniciar, parar, guardar, reset,
// puerto, correo (the test mail) and salir from standard input, and runs the close sequence on
// SIGINT, SIGTERM and SIGHUP. Lives on the main thread; the core runs on its own. Construct it
// while the core is still on this thread: it reads the serial port settings once, and follows
// their changes from then on.
class ConsoleFrontEnd final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConsoleFrontEnd)

public:
    ConsoleFrontEnd(CoreStation& core, FILE* out, FILE* err, QObject* parent = nullptr);
    ~ConsoleFrontEnd() override;

    // Starts listening to standard input and to the termination signals.
    void attach();

    // Runs one operator command line; false for a command it does not know.
    bool command(QStringView line);

Q_SIGNALS:
    // The station has closed; the program may end.
    void finished();

private:
    void readInput();
    // One line per stored record, from the fields as the panel showed them when it was counted.
    void printRecord();
    void requestClose();
    // "puerto" prints the serial port settings; "puerto N BAUD DATABITS STOPBITS PARITY" applies
    // new ones as the port dialog does.
    void puerto(const QList<QStringView>& arguments);

    CoreStation& m_core;
    QTextStream m_out;
    QTextStream m_err;
    std::unique_ptr<QSocketNotifier> m_input;
    std::unique_ptr<QSocketNotifier> m_signals;
    QByteArray m_pending;
    std::array<QString, station::kFieldCount> m_shown;
    config::SerialPortSettings m_serialPort;
    bool m_closing = false;
};

} // namespace app
