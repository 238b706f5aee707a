#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <optional>

#include <termios.h>

namespace testsupport {

// A pseudo-terminal pair: the station opens the slave as its serial device, the test plays the
// device on the master.
class PseudoTerminal final {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool isOpen() const { return m_master >= 0; }
    const QString& slavePath() const { return m_slave; }

    // Sends the bytes as the device; false when they did not all go out.
    bool write(const QByteArray& bytes);
    // What the station sent, waiting (with the event loop running) until `size` bytes have come or
    // `timeoutMs` has passed.
    QByteArray read(qsizetype size, int timeoutMs);
    // The line settings: a pair shares them, so the device end sees what the station set.
    std::optional<termios> lineSettings() const;
    // The device hangs up: the slave's reader gets an error from now on.
    void close();

private:
    int m_master = -1;
    QString m_slave;
};

// A settings folder of the test's own (XDG_CONFIG_HOME) with links `dosdevices/comN`, the way the
// station finds its serial devices. Puts the previous XDG_CONFIG_HOME back when it goes.
class DosDevices final {
public:
    DosDevices();
    ~DosDevices();
    DosDevices(const DosDevices&) = delete;
    DosDevices& operator=(const DosDevices&) = delete;

    // Points COMn at `target`, replacing an earlier link.
    bool link(int n, const QString& target);
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

} // namespace testsupport
