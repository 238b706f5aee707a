#include "config/LineList.h"

using namespace Qt::StringLiterals;

namespace config {

namespace {
const QString kCrLf = u"\r\n"_s;
}

LineList::LineList(QString text)
    : m_text(std::move(text)) {
    m_lines = m_text.split(kCrLf);
    // A line end after the last entry does not make an empty entry of its own.
    if (m_text.endsWith(kCrLf))
        m_lines.removeLast();
    if (m_text.isEmpty())
        m_lines.clear();
}

LineList LineList::fromLines(const QStringList& lines) {
    QString text;
    for (const QString& line : lines)
        text += line + kCrLf;
    return LineList(std::move(text));
}

LineList LineList::fromFileText(QStringView text) {
    QString normalised;
    normalised.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            normalised += kCrLf;
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n') {
            normalised += kCrLf;
        } else {
            normalised += c;
        }
    }
    return LineList(std::move(normalised));
}

qsizetype LineList::indexOf(QStringView line) const {
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (QStringView(m_lines[i]).compare(line, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace config
