#pragma once

#include "base/ErrorReport.h"

#include <QByteArray>
#include <QString>

namespace app {

// Whether `fd` is a stream the journal reads: systemd names its stream in JOURNAL_STREAM as
// "DEVICE:INODE", and only a descriptor with that very device and inode goes there (a redirected
// standard error does not).
bool isJournalStream(int fd);

// `text` and a line end after each of its lines; with `prefixed`, each line starts with its syslog
// priority ("<3>"), which the journal takes off and keeps as the entry's priority.
QByteArray journalLines(const QString& text, base::Priority priority, bool prefixed);

// One message on the standard error at once, as the journal ranks it when it reads that stream:
// for what is said before or beside the console's own output.
void printToStderr(base::Priority priority, const QString& text);

} // namespace app
