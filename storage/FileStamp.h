#pragma once

#include <QDateTime>
#include <QString>

namespace base {
class Clock;
}
namespace storage {

// `dos_digitos`: a number's text with one "0" in front when it is a single character.
QString dos_digitos(QStringView number);
QString dos_digitos(int number);

// `contador_archivo`: the file counter shared by the raw log names and the refused-insert dump
// names. 0 at every start, advanced before use, 99 followed by 0.
class FileCounter final {
public:
    int advance() {
        m_value = m_value + 1 > 99 ? 0 : m_value + 1;
        return m_value;
    }
    int value() const { return m_value; }
    void reset() { m_value = 0; }

private:
    int m_value = 0;
};

// `sello_tiempo`: DDMMYYYY-hh (hour only) or DDMMYYYY-hhmm, then "-NN" with the counter.
QString sello_tiempo(const base::Clock& clock, FileCounter& counter, bool hourOnly, bool withCounter);

// `nombre_archivo_log`: the raw log stem DDMMYYYY-hhmmcc.
QString nombre_archivo_log(const base::Clock& clock, FileCounter& counter);

} // namespace storage
