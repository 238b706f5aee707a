#pragma once

#include "base/ByteCodec.h"
#include "base/JournalFile.h"

#include <QString>
#include <QStringList>

namespace testsupport {

// The texts of the line records in an intake journal file, in their order, marks or not: what a
// test sees on the disk without going through the journal itself.
inline QStringList journaledTexts(const QString& path) {
    constexpr quint8 kLineRecord = 1;
    base::JournalFile file(path);
    base::JournalReader reader(file, 0);
    QStringList texts;
    while (const auto record = reader.next()) {
        base::ByteReader in(record->bytes);
        quint8 kind = 0;
        quint64 run = 0, sequence = 0, source = 0;
        QString text;
        if (in.get(kind) && kind == kLineRecord && in.get(run) && in.get(sequence) && in.get(source) &&
            in.get(text))
            texts << text;
    }
    return texts;
}

} // namespace testsupport
