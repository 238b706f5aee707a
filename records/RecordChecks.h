#pragma once

#include <QString>

namespace records {

// The separator count that lights the input and output lights: yes when `text` holds exactly
// `expected` characters equal to `separator` and never the separator twice in a row. A separator
// of other than one character counts nothing.
bool validar_campos(int expected, QStringView text, QStringView separator);

// Whether a text looks like a number: only "," "-" "." "0"-"9" and "E", and no ".." or ",,".
// It lets through texts that are not numbers ("-", "E", "1-2"); the conversion judges those.
bool es_numero(QStringView text);

// The three words of a record's status text, each starting in its "Con" form.
struct StatusWords {
    bool dimensions = true;
    bool weight = true;
    bool guide = true;

    // dimension word, "-", weight word, "-", guide word: Con dim-Sin peso-Con guía
    QString text() const;
};

} // namespace records
