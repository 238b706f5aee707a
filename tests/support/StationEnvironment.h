#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace testsupport {

// The environment a test starts the headless program in: its settings under `config`, the leak
// check off (the test looks at what the program does; leaks are the in-process tests' business),
// and none of the service manager's variables the test run itself may have been given.
inline QProcessEnvironment stationEnvironment(const QString& config) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    for (const char* variable :
         {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID", "JOURNAL_STREAM", "CREDENTIALS_DIRECTORY"})
        environment.remove(QString::fromLatin1(variable));
    return environment;
}

} // namespace testsupport
