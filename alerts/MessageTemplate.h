#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace alerts {

// The alert mail's HTML template and how its placeholders are filled.
class MessageTemplate final {
public:
    // What the placeholders are replaced by. The three values that come from a device are put into
    // the HTML with &, < and > escaped.
    struct Values {
        QString aplicacion;   // "@GUIA"
        QString Texto_cuerpo; // "Bloque_falla"
        QString estacion;     // "@ORIGEN"
        QString usuario;      // "@DESTINO"
        QString fecha;        // "@FECHA"
    };

    // The template the editor starts with.
    static QString defaultText();

    // "Template_fallas.txt" and the like: a byte-order mark selects UTF-8 or UTF-16, without one
    // the file is in the station's code page. Fails when the file cannot be read, is not a regular
    // file or is larger than station::SideFile::kMaxBytes.
    static QString readFile(const QString& path);

    // The mail body as lines: every placeholder of the template replaced, in one pass (a value is
    // never searched for placeholders), and every line after the first begun with "<br>", one
    // more line "<br>" at the end. Line breaks that the value of "@GUIA" or of "Bloque_falla"
    // brings in get their "<br>" too; those of the other values do not.
    static QStringList fill(const QString& plantilla, const Values& values);

    // "@FECHA": the short date, a blank and the long time (without a time zone); at midnight
    // exactly the date alone.
    static QString fechaText(const QDateTime& now, const QLocale& locale);

    // &, < and > as HTML character entities.
    static QString escapeHtml(QStringView text);
};

} // namespace alerts
