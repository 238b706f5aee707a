#pragma once

#include "app/ConsoleOutput.h"
#include "config/SerialPortSettings.h"
#include "station/PanelIds.h"

#include <QObject>
#include <QSocketNotifier>

#include <array>
#include <memory>
#include <optional>

namespace app {

class CoreStation;

// The station without a window: prints the status texts, a line per stored record, the serial
// lines, every error report and how the alert mails go; errors and records the database refused go
// to stderr. It reads the commands iniciar, parar, guardar, reset, puerto, correo (the test mail)
// and salir from standard input, and runs the close sequence on SIGINT, SIGTERM and SIGHUP. Lives
// on the main thread; the core runs on its own. Construct it while the core is still on this
// thread: it reads the serial port settings once, and follows their changes from then on.
class ConsoleFrontEnd final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConsoleFrontEnd)

public:
    // Longer lines on standard input are refused without being kept.
    static constexpr qsizetype kLongestCommandLine = 4096;

    // Prints to the descriptors `out` and `err`, keeping at most `outputLimit` bytes for a reader
    // that does not keep up; record lines that do not fit are left out and counted, and the count is
    // printed once there is room again.
    ConsoleFrontEnd(CoreStation& core, int out, int err, qsizetype outputLimit = ConsoleOutput::kDefaultLimit,
                    QObject* parent = nullptr);
    ~ConsoleFrontEnd() override;

    // Starts listening to the commands on `input` (standard input) and to the termination signals.
    void attach(int input = 0);

    // Runs one operator command line; false for a command it does not know.
    bool command(QStringView line);

Q_SIGNALS:
    // The station has closed; the program may end.
    void finished();

private:
    void readInput();
    // One line per stored record, from the fields as the panel showed them when it was counted.
    void printRecord();
    void printStatus(const QString& text);
    void requestClose();
    // "puerto" prints the serial port settings; "puerto N BAUD DATABITS STOPBITS PARITY" applies
    // new ones as the port dialog does.
    void puerto(const QList<QStringView>& arguments);

    CoreStation& m_core;
    ConsoleOutput m_out;
    ConsoleOutput m_err;
    qint64 m_hidden = 0; // lines left out since the last that was printed
    std::unique_ptr<QSocketNotifier> m_input;
    std::unique_ptr<QSocketNotifier> m_signals;
    int m_inputFd = -1;
    QByteArray m_pending;
    bool m_skippingLongLine = false; // the rest of a refused line is still arriving
    std::array<QString, station::kFieldCount> m_shown;
    config::SerialPortSettings m_serialPort;
    bool m_closing = false;
};

} // namespace app
