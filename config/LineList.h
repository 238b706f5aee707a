#pragma once

#include <QString>
#include <QStringList>

namespace config {

// The text of a memo: its lines joined by CR LF, with or without a line end after the last one.
// Lookups compare whole lines without regard to letter case; the first match counts.
class LineList final {
public:
    LineList() = default;
    explicit LineList(QString text);

    // A list built from entries, each followed by CR LF (the form of a list that was never read
    // from a file).
    static LineList fromLines(const QStringList& lines);

    // Any of CR LF, a lone CR or a lone LF ends a line; in the result every line end is CR LF.
    static LineList fromFileText(QStringView text);

    const QString& text() const { return m_text; }
    const QStringList& lines() const { return m_lines; }
    qsizetype indexOf(QStringView line) const;
    bool contains(QStringView line) const { return indexOf(line) >= 0; }

    friend bool operator==(const LineList& a, const LineList& b) { return a.m_text == b.m_text; }

private:
    QString m_text;
    QStringList m_lines;
};

} // namespace config
