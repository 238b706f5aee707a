#include "alerts/MessageTemplate.h"
#include "base/Error.h"
#include "tests/support/QtPrinters.h"

#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using alerts::MessageTemplate;

namespace {

MessageTemplate::Values values() {
    return {u"A"_s, u"B"_s, u"E"_s, u"U"_s, u"F"_s};
}

TEST(MessageTemplateFill, ATemplateWithoutPlaceholdersGetsItsBrAndOneMoreLine) {
    // Whatever the line ends of the template, each later line starts with "<br>".
    for (const QString& plantilla : {u"uno\r\ndos\r\ntres"_s, u"uno\ndos\rtres\n"_s}) {
        EXPECT_EQ(MessageTemplate::fill(plantilla, values()),
                  (QStringList{u"uno"_s, u"<br>dos"_s, u"<br>tres"_s, u"<br>"_s}))
            << qPrintable(plantilla);
    }
}

TEST(MessageTemplateFill, DefaultTemplateTakesTheTestFailureBlockOnItsOwnLine) {
    MessageTemplate::Values v = values();
    v.Texto_cuerpo = u"Texto_cuerpo"_s;
    const QStringList body = MessageTemplate::fill(MessageTemplate::defaultText(), v);
    const qsizetype at = body.indexOf(u"<br>Texto_cuerpo"_s);
    ASSERT_GT(at, 0);
    // The lines holding a single tab stay around it.
    EXPECT_EQ(body[at - 1], u"<br>\t"_s);
    EXPECT_EQ(body[at + 1], u"<br>\t"_s);
    EXPECT_EQ(body.last(), u"<br>"_s);
    EXPECT_TRUE(body.contains(u"<br>Este correo se envía en "_s));
    EXPECT_FALSE(body.join(u'\n').contains(u'@')) << "every placeholder replaced";
}

// Line breaks from "@GUIA" and "Bloque_falla" get their "<br>"; those of the later values stay bare.
// The placeholders are found in the template only: a value that holds one (a guide read as
// "AB@FECHA@DESTINO12345.") goes into the mail as it is.
struct FillCase {
    const char* name;
    const char16_t* plantilla;
    MessageTemplate::Values values;
    QStringList body;
};

class Fill : public ::testing::TestWithParam<FillCase> {};

TEST_P(Fill, ReplacesThePlaceholdersOfTheTemplateOnly) {
    EXPECT_EQ(MessageTemplate::fill(QString::fromUtf16(GetParam().plantilla), GetParam().values),
              GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Fill,
    ::testing::Values(
        FillCase{"LineBreaksOfTheEarlyValuesGetTheirBr",
                 u"@GUIA|@DESTINO\nBloque_falla @ORIGEN\n@FECHA",
                 {u"a1\na2"_s, u"b1\r\nb2"_s, u"e1\ne2"_s, u"u"_s, u"f"_s},
                 {u"a1"_s, u"<br>a2|u"_s, u"<br>b1"_s, u"<br>b2 e1"_s, u"e2"_s, u"<br>f"_s, u"<br>"_s}},
        FillCase{"AGuideHoldingPlaceholdersStaysAsRead",
                 u"Estaci\u00f3n: @ORIGEN Usuario:@DESTINO",
                 {u"A"_s, u"B"_s, u"AB@FECHA@DESTINO12345."_s, u"???|???"_s, u"10 Dec 2026 18:42:18"_s},
                 {u"Estaci\u00f3n: AB@FECHA@DESTINO12345. Usuario:???|???"_s, u"<br>"_s}},
        FillCase{"NoValueIsSearchedForALaterOrAnEarlierPlaceholder",
                 u"@GUIA;Bloque_falla;@ORIGEN;@DESTINO;@FECHA",
                 {u"Bloque_falla@ORIGEN"_s, u"@DESTINO"_s, u"@FECHA@GUIA"_s, u"@ORIGEN"_s, u"@GUIA"_s},
                 {u"Bloque_falla@ORIGEN;@DESTINO;@FECHA@GUIA;@ORIGEN;@GUIA"_s, u"<br>"_s}},
        FillCase{"APlaceholderSplitByAValueIsNoPlaceholder",
                 u"@FE@GUIACHA",
                 {u"@FE"_s, u"B"_s, u"E"_s, u"U"_s, u"F"_s},
                 {u"@FE@FECHA"_s, u"<br>"_s}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MessageTemplateFill, DeviceValuesAreEscapedButTheFailureBlockIsHtml) {
    const MessageTemplate::Values v{u"<W&>"_s, u"<b>x</b>"_s, u"</td><script>"_s, u"a&b"_s, u"f"_s};
    EXPECT_EQ(MessageTemplate::fill(u"@GUIA @ORIGEN @DESTINO Bloque_falla"_s, v),
              (QStringList{u"&lt;W&amp;&gt; &lt;/td&gt;&lt;script&gt; a&amp;b <b>x</b>"_s, u"<br>"_s}));
}

TEST(MessageTemplateFecha, ShortDateAndLongTimeButTheDateAloneAtMidnight) {
    const QLocale c(QLocale::C);
    const QDate day(2026, 12, 10);
    const QString date = c.toString(day, QLocale::ShortFormat);
    EXPECT_EQ(MessageTemplate::fechaText(QDateTime(day, QTime(0, 0)), c), date);
    const QString withTime = MessageTemplate::fechaText(QDateTime(day, QTime(7, 5, 9)), c);
    EXPECT_TRUE(withTime.startsWith(date + u' ')) << qPrintable(withTime);
    EXPECT_TRUE(withTime.contains(u"07:05:09"_s)) << qPrintable(withTime);
    EXPECT_EQ(MessageTemplate::fechaText(QDateTime(day, QTime(0, 0, 1)), c).size(), withTime.size());
}

struct TemplateFileCase {
    const char* name;
    QByteArray bytes;
};

class TemplateFile : public ::testing::TestWithParam<TemplateFileCase> {};

TEST_P(TemplateFile, IsReadByItsMarkOrInTheCodePage) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Template_fallas.txt"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(GetParam().bytes);
    file.close();
    EXPECT_EQ(MessageTemplate::readFile(path), u"Estación\r\n@GUIA"_s);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, TemplateFile,
    ::testing::Values(
        TemplateFileCase{"Utf8Mark", QByteArray("\xEF\xBB\xBF"
                                                "Estaci\xC3\xB3n\r\n@GUIA")},
        TemplateFileCase{"Utf16LeMark", QByteArray("\xFF\xFE"
                                                   "E\0s\0t\0a\0c\0i\0\xF3\0n\0\r\0\n\0@\0G\0U\0I\0A\0",
                                                   32)},
        TemplateFileCase{"Utf16BeMark", QByteArray("\xFE\xFF"
                                                   "\0E\0s\0t\0a\0c\0i\0\xF3\0n\0\r\0\n\0@\0G\0U\0I\0A",
                                                   32)},
        TemplateFileCase{"CodePage", QByteArray("Estaci\xF3n\r\n@GUIA")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TemplateFile, ThatCannotBeReadFailsWithItsName) {
    EXPECT_THAT(
        [] { MessageTemplate::readFile(u"/nonexistent/Template_fallas.txt"_s); },
        ::testing::ThrowsMessage<base::Error>(::testing::HasSubstr("/nonexistent/Template_fallas.txt")));
}

} // namespace
