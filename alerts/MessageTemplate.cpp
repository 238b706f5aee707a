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
    QString body = normalised(plantilla);
    body.replace(u"@GUIA"_s, escapeHtml(values.aplicacion));
    body.replace(u"Bloque_falla"_s, values.Texto_cuerpo);
    body = normalised(body);
    body.replace(u'\n', u"\n<br>"_s);
    body.replace(u"@ORIGEN"_s, escapeHtml(values.estacion));
    body.replace(u"@DESTINO"_s, escapeHtml(values.usuario));
    body.replace(u"@FECHA"_s, values.fecha);
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
