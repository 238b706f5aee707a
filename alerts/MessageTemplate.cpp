#include "alerts/MessageTemplate.h"

#include "alerts/MailError.h"
#include "base/CodePage.h"
#include "config/LineList.h"
#include "station/SideFile.h"
#include "station/StationError.h"

using namespace Qt::StringLiterals;

namespace alerts {

namespace {

// Every line followed by CR LF, as a memo hands out its text.
QString normalised(QStringView text) {
    return config::LineList::fromLines(config::LineList::fromFileText(text).lines()).text();
}

} // namespace

QString MessageTemplate::defaultText() {
    return uR"(<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.0 Transitional//EN">
<html>
<head>
<meta http-equiv="Content-Language" content="es-mx">
<meta http-equiv="Content-Type" content="text/html; charset=windows-1252">
<title>OrvaneDB - Captura de eventos</title>
</head>
<body>
<table border="0" width="100%" style="border-collapse: collapse">
	<tr>
		<td>
		<table border="0" width="100%" style="border-collapse: collapse">
			<tr>
				<td width="110"><img border="0" src="logo-orvanedb.gif" alt="OrvaneDB"></td>
				<td><b><i><font face="Arial" style="font-size: 9pt">Aplicación:</font></i></b>
				<b><i><font face="Arial" style="font-size: 9pt">@GUIA</font></i></b></td>
			</tr>
			<tr>
				<td colspan="2"><b><i><font face="Arial" style="font-size: 9pt">
				Fecha: @FECHA</font></i></b></td>
			</tr>
			<tr>
				<td><b><i><font face="Arial" style="font-size: 9pt">
				Estación: @ORIGEN</font></i></b></td>
				<td align="right"><b><i><font face="Arial" style="font-size: 9pt">
				Usuario:@DESTINO</font></i></b></td>
			</tr>
		</table>
	
Bloque_falla
	
		<p><font face="Arial" style="font-size: 9pt">
Este correo se envía en 
forma automática, debido a.......Este correo no se considera Spam, 
Artículos #: ####, Usted solo recibirá este correo una sola vez.Tarvenix
		</font></p>
		</td>
	</tr>
	<tr>
		<td style="font-size: 9pt"></td>
	</tr>
	<tr>
		<td style="font-size: 9pt"></td>
	</tr>
</table>
<p></p>
<body>
</body>
</html>
)"_s;
}

QString MessageTemplate::readFile(const QString& path) {
    // Read at each alert, on the core's thread: a pipe must not hold it up nor a huge file fill
    // its memory.
    QByteArray bytes;
    try {
        bytes = station::SideFile::readBounded(path);
    } catch (const station::StationError& e) {
        throw MailError(u"No se pudo leer la plantilla: %1"_s.arg(e.message()));
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.sliced(3));
    const auto utf16 = [&bytes](bool littleEndian) {
        QString text;
        for (qsizetype i = 2; i + 1 < bytes.size(); i += 2) {
            const auto lo = static_cast<unsigned char>(bytes[littleEndian ? i : i + 1]);
            const auto hi = static_cast<unsigned char>(bytes[littleEndian ? i + 1 : i]);
            text += QChar(static_cast<char16_t>(hi << 8 | lo));
        }
        return text;
    };
    if (bytes.startsWith("\xFF\xFE"))
        return utf16(true);
    if (bytes.startsWith("\xFE\xFF"))
        return utf16(false);
    return base::codepage::widen(bytes);
}

QStringList MessageTemplate::fill(const QString& plantilla, const Values& values) {
    struct Placeholder {
        QStringView name;
        QString value;
        bool brokenLines; // its line breaks get their "<br>" as the template's own do
    };
    const Placeholder placeholders[] = {
        {u"@GUIA", escapeHtml(values.aplicacion), true},
        {u"Bloque_falla", values.Texto_cuerpo, true},
        {u"@ORIGEN", escapeHtml(values.estacion), false},
        {u"@DESTINO", escapeHtml(values.usuario), false},
        {u"@FECHA", values.fecha, false},
    };
    const auto withBr = [](QStringView value) {
        QString out;
        for (qsizetype i = 0; i < value.size(); ++i) {
            if (value[i] == u'\r' || value[i] == u'\n') {
                if (value[i] == u'\r' && i + 1 < value.size() && value[i + 1] == u'\n')
                    ++i;
                out += u"\r\n<br>"_s;
            } else {
                out += value[i];
            }
        }
        return out;
    };

    // One pass over the template, from the left: what a value brings in is never searched for
    // placeholders, so a guide read as "AB@FECHA" goes into the mail as it was read.
    const QString text = normalised(plantilla);
    const QStringView source(text);
    QString body;
    body.reserve(text.size() + text.size() / 8);
    qsizetype copied = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\n') {
            body += source.sliced(copied, i + 1 - copied);
            body += u"<br>"_s;
            copied = i + 1;
            continue;
        }
        if (c != u'@' && c != u'B')
            continue;
        for (const Placeholder& p : placeholders) {
            if (!source.sliced(i).startsWith(p.name))
                continue;
            body += source.sliced(copied, i - copied);
            body += p.brokenLines ? withBr(p.value) : p.value;
            i += p.name.size() - 1;
            copied = i + 1;
            break;
        }
    }
    body += source.sliced(copied);
    return config::LineList::fromFileText(body).lines();
}

QString MessageTemplate::fechaText(const QDateTime& now, const QLocale& locale) {
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
    if (now.time().msecsSinceStartOfDay() == 0)
        return date;
    // The long format names the time zone; the mail's own date line already carries it.
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(u't');
    return date + u' ' + locale.toString(now.time(), format.trimmed());
}

QString MessageTemplate::escapeHtml(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            out += u"&amp;"_s;
        else if (c == u'<')
            out += u"&lt;"_s;
        else if (c == u'>')
            out += u"&gt;"_s;
        else
            out += c;
    }
    return out;
}

} // namespace alerts
