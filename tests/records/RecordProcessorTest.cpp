#include "records/RecordProcessor.h"
#include "base/Error.h"
#include "config/Settings.h"
#include "station/LivePanel.h"
#include "station/RawLog.h"
#include "station/TickTimer.h"
#include "tests/support/FakeClock.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/SampleLines.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

using namespace records;
using namespace Qt::StringLiterals;
using config::SettingId;
using station::Field;
using station::Light;

namespace {

const QString kStx = u"\x02"_s;
const QString kSampleLine = testsupport::kSampleDeviceLine;
const QString kUnreadGuideLine =
    kStx +
    u"H00001!000124!PQ12RS34TU56VW78XY90ZZ ROUTE 56!??????????????????????!A01!B02!010.0x020.0x030.0"_s;

QString entry(const QString& origin, const QString& deviceLine) {
    return kStx + origin + u'\t' + deviceLine + u'\n';
}

// A device line with the given slots after the header, in the order they are cut.
QString lineWith(const QString& slots) {
    return kStx + u"H00001!"_s + slots;
}

class FakeTimer final : public station::TickTimer {
public:
    void setEnabled(bool on) override { m_on = on; }
    bool isEnabled() const override { return m_on; }

private:
    bool m_on = false;
};

struct Row {
    QString plaza, origen, paquete, longitud, altura, profundidad, peso, pesovolumen, estatus;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << QStringList{r.plaza,       r.origen, r.paquete,     r.longitud, r.altura,
                       r.profundidad, r.peso,   r.pesovolumen, r.estatus}
               .join(u" | "_s)
               .toStdString();
}

struct Evaluation {
    QString h, l, w, guide;
    bool operator==(const Evaluation&) const = default;
};

// Stands in for the row insert, the periodic log save and the quality evaluation, and keeps what
// the panel held when each was called.
class Recorder final : public RowStore, public PeriodicLogSave, public QualityEvaluation {
public:
    explicit Recorder(const station::LivePanel& panel)
        : m_panel(panel) {}

    void insertar(const QString& estatus) override {
        const auto t = [this](Field f) { return m_panel.text(f); };
        rows.push_back({t(Field::lplaza), t(Field::Lorigen), t(Field::LC128), t(Field::Lhhh), t(Field::llll),
                        t(Field::lwww), t(Field::lpeso), t(Field::lpesov), estatus});
        if (handOverFails)
            throw base::Error(u"No se pudo entregar la fila"_s);
    }
    double tiempoPromedio() const override { return average; }
    void grabar_logs() override { ++logSaves; }
    void evaluar_calidad(const QString& h, const QString& l, const QString& w) override {
        evaluations.push_back({h, l, w, m_panel.text(Field::LC128)});
    }

    std::vector<Row> rows;
    std::vector<Evaluation> evaluations;
    int logSaves = 0;
    double average = 12.5;
    bool handOverFails = false;

private:
    const station::LivePanel& m_panel;
};

class ProcessorFixture : public ::testing::Test {
protected:
    ProcessorFixture() {
        settings.setLines(SettingId::LogiPs, config::LineList(u"10.1.2.3\r\n*\r\n"_s));
        settings.setLines(SettingId::LogCamNombre, config::LineList(u"CAM-01\r\nALL\r\n"_s));
    }

    void process(QString buffer) { processor.procesar_dato(buffer); }

    QString text(Field f) const { return panel.text(f); }

    station::LivePanel panel;
    config::Settings settings;
    FakeTimer timer;
    station::RawLog logRS232;
    Recorder recorder{panel};
    FakeClock clock{QDateTime(QDate(2024, 1, 5), QTime(14, 37))};
    QLocale locale{QLocale::English, QLocale::UnitedStates};
    RecordProcessor processor{{panel, settings, timer, logRS232, recorder, recorder, recorder, clock},
                              locale};
};

} // namespace

TEST_F(ProcessorFixture, AGoodLineFillsThePanelAndStoresItsRow) {
    process(entry(u"10.1.2.3"_s, kSampleLine));

    EXPECT_TRUE(panel.isLit(Light::LedInput));
    EXPECT_FALSE(panel.isLit(Light::LedOutput));
    EXPECT_FALSE(panel.isLit(Light::Leddeco));
    const std::map<Field, QString> expected = {
        {Field::Logflash, kStx + u"10.1.2.3\t"_s + kSampleLine},
        {Field::Label54, u"10.1.2.3\t"_s + kSampleLine.sliced(0, kSampleLine.size() - 1)},
        {Field::Lorigen, u"CAM-01"_s},
        {Field::Lseq, u"000123"_s},
        {Field::Lhhh, u"012.5"_s},
        {Field::llll, u"030.0"_s},
        {Field::lwww, u"045.5"_s},
        {Field::LC128, u""_s},
        {Field::LC128_32, u"4.5|P01"_s},
        {Field::lpeso, u"4.5"_s},
        {Field::lplaza, u"P01"_s},
        {Field::lpesov, u"3.4125"_s},
        {Field::lStatus, u"Con dim-Con peso-Con gu\u00eda"_s},
        {Field::Lfecha, u"202401051437"_s},
        {Field::fem, u"0"_s},
        {Field::fsm, u"1"_s},
        {Field::lProcesados, u"1"_s},
    };
    for (const auto& [field, value] : expected)
        EXPECT_EQ(text(field), value)
            << QString::fromUtf16(station::LivePanel::definition(field).name).toStdString();
    EXPECT_EQ(panel.status(0), u" 12.5000"_s);

    ASSERT_EQ(recorder.rows.size(), 1u);
    EXPECT_EQ(recorder.rows[0],
              (Row{u"P01"_s, u"CAM-01"_s, u"GUIA0001ZXWV0002TSRQ0003"_s, u"012.5"_s, u"030.0"_s, u"045.5"_s,
                   u"4.5"_s, u"3.4125"_s, u"Con dim-Con peso-Con gu\u00eda"_s}));
    ASSERT_EQ(recorder.evaluations.size(), 1u);
    EXPECT_EQ(recorder.evaluations[0],
              (Evaluation{u"012.5"_s, u"030.0"_s, u"045.5"_s, u"GUIA0001ZXWV0002TSRQ0003"_s}));
}

// The date and the average time are formatted again only when they change: each record still
// shows its own minute and the writer's latest average.
TEST_F(ProcessorFixture, DateAndAverageTimeFollowEveryRecord) {
    struct Step {
        QDateTime now;
        double average;
        const char16_t* date;
        const char16_t* status;
    };
    const Step steps[] = {
        {QDateTime(QDate(2024, 1, 5), QTime(14, 37, 0)), 12.5, u"202401051437", u" 12.5000"},
        {QDateTime(QDate(2024, 1, 5), QTime(14, 37, 59)), 12.5, u"202401051437", u" 12.5000"},
        {QDateTime(QDate(2024, 1, 5), QTime(14, 38, 0)), 3.25, u"202401051438", u"  3.2500"},
        {QDateTime(QDate(2024, 1, 6), QTime(14, 38, 0)), 3.25, u"202401061438", u"  3.2500"},
        {QDateTime(QDate(2024, 1, 6), QTime(14, 38, 1)), 0.0, u"202401061438", u"  0.0000"},
    };
    for (const Step& step : steps) {
        clock.set(step.now);
        recorder.average = step.average;
        process(entry(u"10.1.2.3"_s, kSampleLine));
        EXPECT_EQ(text(Field::Lfecha), QString::fromUtf16(step.date)) << step.now.toString().toStdString();
        EXPECT_EQ(panel.status(0), QString::fromUtf16(step.status)) << step.now.toString().toStdString();
    }
}

TEST_F(ProcessorFixture, AnUnreadGuideFallsBackToTheGuideOfSlotTwo) {
    process(entry(u"10.1.2.3"_s, kUnreadGuideLine));

    ASSERT_EQ(recorder.rows.size(), 1u);
    EXPECT_EQ(recorder.rows[0],
              (Row{u"???"_s, u"CAM-01"_s, u"PQ12RS34TU56VW78XY90ZZ"_s, u"010.0"_s, u"020.0"_s, u"030.0"_s,
                   u"0"_s, u"1.2"_s, u"Con dim-Sin peso-Con gu\u00eda"_s}));
    EXPECT_EQ(text(Field::LC128_32), u"???|???"_s);
    EXPECT_EQ(text(Field::Lseq), u"000124"_s);
    EXPECT_EQ(text(Field::fem), u"0"_s);
    EXPECT_EQ(text(Field::fsm), u"1"_s);
}

TEST_F(ProcessorFixture, EntryOfTheSerialLineOnlyLogsTheRecord) {
    timer.setEnabled(false);
    process(entry(u"232"_s, kSampleLine));

    ASSERT_EQ(logRS232.size(), 1);
    EXPECT_EQ(logRS232.entries()[0], u"000123!PQ12RS34TU56VW78XY90ZZ ROUTE 55!GT10HJ20KM30NP40QR50ST!"
                                     u"GUIA0001ZXWV0002TSRQ0003|4.5|P01!A01!012.5x030.0x045.5!XYZ"_s);
    EXPECT_EQ(recorder.logSaves, 1);
    EXPECT_TRUE(timer.isEnabled());
    EXPECT_FALSE(panel.isLit(Light::Leddeco));
    EXPECT_TRUE(panel.isLit(Light::LedInput));
    EXPECT_EQ(text(Field::Lorigen), u"232"_s);
    EXPECT_EQ(text(Field::Lseq), u"Seq#:"_s);
    EXPECT_EQ(text(Field::LC128), u"MAQUINA"_s);
    EXPECT_TRUE(recorder.rows.empty());
}

TEST_F(ProcessorFixture, UnlistedOriginIsShownButNotStored) {
    settings.setLines(SettingId::LogiPs, config::LineList(u"10.9.9.9\r\n"_s));
    process(entry(u"10.1.2.3"_s, kSampleLine));

    EXPECT_EQ(text(Field::Lorigen), u"10.1.2.3"_s);
    EXPECT_EQ(text(Field::Lfecha), u"202401051437"_s);
    EXPECT_EQ(text(Field::lProcesados), u"0"_s);
    EXPECT_EQ(text(Field::fsm), u"0"_s);
    EXPECT_EQ(text(Field::lStatus), u"OK"_s);
    EXPECT_EQ(text(Field::LC128), u"GT10HJ20KM30NP40QR50ST"_s);
    EXPECT_TRUE(panel.isLit(Light::Leddeco));
    EXPECT_TRUE(recorder.rows.empty());
    EXPECT_TRUE(recorder.evaluations.empty());
}

TEST_F(ProcessorFixture, OriginFilterJudgesTheEntrysOwnOrigin) {
    settings.setLines(SettingId::LogiPs, config::LineList(u"10.1.2.3\r\n"_s));
    process(entry(u"10.1.2.3"_s, kSampleLine));
    EXPECT_EQ(recorder.rows.size(), 1u);

    settings.setLines(SettingId::LogiPs, config::LineList(u"10.9.9.9\r\n"_s));
    process(entry(u"10.1.2.3"_s, kSampleLine));
    EXPECT_EQ(recorder.rows.size(), 1u);
}

TEST_F(ProcessorFixture, AddressWithoutACameraNameIsStoredAsTheAddress) {
    settings.setLines(SettingId::LogiPs, config::LineList(u"10.9.9.9\r\n10.1.2.3\r\n"_s));
    settings.setLines(SettingId::LogCamNombre, config::LineList(u"OTRA\r\n"_s));
    process(entry(u"10.1.2.3"_s, kSampleLine));
    ASSERT_EQ(recorder.rows.size(), 1u);
    EXPECT_EQ(recorder.rows[0].origen, u"10.1.2.3"_s);
}

TEST_F(ProcessorFixture, DimensionThatIsNoNumberCountsAsMissingAndTheRecordGoesOn) {
    for (const QString& h : {u"-"_s, u"E"_s, u"1-2"_s, u"1.2.3"_s, u"1,5"_s}) {
        recorder.rows.clear();
        recorder.evaluations.clear();
        const QString l = u"30.0"_s.rightJustified(17 - h.size() - 2 - 5, u'0');
        process(entry(u"10.1.2.3"_s,
                      lineWith(u"000123!X!GT10HJ20KM30NP40QR50ST!A01!B02!"_s + h + u'x' + l + u"x045.5"_s)));

        ASSERT_EQ(recorder.rows.size(), 1u) << h.toStdString();
        EXPECT_EQ(recorder.rows[0].longitud, u"0"_s);
        EXPECT_EQ(recorder.rows[0].pesovolumen, u"0"_s);
        EXPECT_TRUE(recorder.rows[0].estatus.startsWith(u"Sin dim-"_s));
        ASSERT_EQ(recorder.evaluations.size(), 1u);
        EXPECT_EQ(recorder.evaluations[0].h, h); // judged as read
        EXPECT_FALSE(panel.isLit(Light::Leddeco));
    }
    EXPECT_EQ(text(Field::lProcesados), u"5"_s);
}

struct StatusCase {
    const char* name;
    const char16_t* slots; // after the header
    const char16_t* failure;
    const char16_t* guide;
    const char16_t* peso;
    const char16_t* plaza;
    const char16_t* pesovolumen;
    const char16_t* estatus;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.name;
}

class StatusCases : public ProcessorFixture, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusCases, DecidesTheWordsAndTheRow) {
    const StatusCase& c = GetParam();
    settings.setText(SettingId::EDFC128, QString::fromUtf16(c.failure));
    process(entry(u"10.1.2.3"_s, lineWith(QString::fromUtf16(c.slots))));
    ASSERT_EQ(recorder.rows.size(), 1u);
    const Row& row = recorder.rows[0];
    EXPECT_EQ(row.paquete, QString::fromUtf16(c.guide));
    EXPECT_EQ(row.peso, QString::fromUtf16(c.peso));
    EXPECT_EQ(row.plaza, QString::fromUtf16(c.plaza));
    EXPECT_EQ(row.pesovolumen, QString::fromUtf16(c.pesovolumen));
    EXPECT_EQ(row.estatus, QString::fromUtf16(c.estatus));
}

INSTANTIATE_TEST_SUITE_P(
    RecordProcessor, StatusCases,
    ::testing::Values(
        StatusCase{"zero_dimension",
                   u"000123!X!GT10HJ20KM30NP40QR50ST!CODE00000000000000000000|2.0|P02!A01!000.0x030.0x045.5",
                   u"?", u"CODE00000000000000000000", u"2.0", u"P02", u"0",
                   u"Sin dim-Con peso-Con gu\u00eda"},
        StatusCase{"volumetric_weight_beyond_range",
                   u"000123!X!GT10HJ20KM30NP40QR50ST!CODE00000000000000000000|2.0|P02!A01!1E300x1E300x99999",
                   u"?", u"CODE00000000000000000000", u"2.0", u"P02", u"0",
                   u"Sin dim-Con peso-Con gu\u00eda"},
        // Whatever the locale: this fixture's is English, with "." as its decimal point.
        StatusCase{"weight_with_decimal_comma",
                   u"000123!X!GT10HJ20KM30NP40QR50ST!CODE00000000000000000000|1,5|P02!A01!010.0x020.0x030.0",
                   u"?", u"CODE00000000000000000000", u"1.5", u"P02", u"1.2",
                   u"Con dim-Con peso-Con gu\u00eda"},
        StatusCase{"weight_that_is_no_number",
                   u"000123!X!GT10HJ20KM30NP40QR50ST!CODE00000000000000000000|-|P0212!A01!010.0x020.0x030.0",
                   u"?", u"CODE00000000000000000000", u"0", u"P0212", u"1.2",
                   u"Con dim-Sin peso-Con gu\u00eda"},
        StatusCase{"weight_that_is_an_exponent_alone",
                   u"000123!X!GT10HJ20KM30NP40QR50ST!CODE00000000000000000000|E|P0212!A01!010.0x020.0x030.0",
                   u"?", u"CODE00000000000000000000", u"0", u"P0212", u"1.2",
                   u"Con dim-Sin peso-Con gu\u00eda"},
        StatusCase{"missing_second_dimension", u"000123!X!GT10HJ20KM30NP40QR50ST!A01!B02!010.0x???x005.0",
                   u"?", u"GT10HJ20KM30NP40QR50ST", u"0", u"???", u"0", u"Sin dim-Sin peso-Con gu\u00eda"},
        StatusCase{"group_without_bar",
                   u"000123!X!GT10HJ20KM30NP40QR50ST!ABCDEFGHIJKLMNOPQRSTUVWXYZ012345!A01!"
                   u"010.0x020.0x030.0",
                   u"?", u"", u"0", u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", u"1.2",
                   u"Con dim-Con peso-Con gu\u00eda"},
        StatusCase{"other_failure_text", u"000123!X!??????????????????????!A01!B02!010.0x020.0x030.0", u"#",
                   u"????????????????????????", u"0", u"???", u"1.2", u"Con dim-Con peso-Con gu\u00eda"},
        StatusCase{"empty_failure_text", u"000123!X!??????????????????????!A01!B02!010.0x020.0x030.0", u"",
                   u"????????????????????????", u"0", u"???", u"1.2", u"Con dim-Con peso-Con gu\u00eda"},
        StatusCase{"nothing_found",
                   u"000123!??????????????????????!??????????????????????!A01!B02!???x???x???xxxxx", u"?",
                   u"??????????????????????", u"0", u"???", u"0", u"Sin dim-Sin peso-Sin gu\u00eda"},
        StatusCase{"later_guide_wins",
                   u"000123!X!GT10HJ20KM30NP40QR50ST!ZZ10HJ20KM30NP40QR50ST!A01!010.0x020.0x030.0", u"?",
                   u"ZZ10HJ20KM30NP40QR50ST", u"0", u"???", u"1.2", u"Con dim-Sin peso-Con gu\u00eda"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProcessorFixture, CommaLocaleConvertsDevicePointsAndGroupsTheTime) {
    const QLocale comma(QLocale::German, QLocale::Germany);
    RecordProcessor german({panel, settings, timer, logRS232, recorder, recorder, recorder, clock}, comma);
    recorder.average = 1234.5;
    QString buffer = entry(u"10.1.2.3"_s, kSampleLine);
    german.procesar_dato(buffer);
    EXPECT_EQ(text(Field::lpesov), u"3.4125"_s);
    EXPECT_EQ(panel.status(0), u"1.234,5000"_s);
}

TEST_F(ProcessorFixture, FramingGate) {
    process(u"\x02"_s + u"10.1.2.3\tH00001!000123"_s); // no LF
    process(u"\x02"_s + u"1.2.3\tH0001\n"_s);          // 13 characters
    process(u"10.1.2.3\tH00001!000123!ABC\n"_s);       // no STX
    EXPECT_EQ(text(Field::Logflash), u"Log flash"_s);

    // Two frames in one buffer are both processed.
    process(entry(u"10.1.2.3"_s, kSampleLine) + entry(u"10.1.2.3"_s, kUnreadGuideLine));
    EXPECT_EQ(recorder.rows.size(), 2u);
    EXPECT_EQ(text(Field::lProcesados), u"2"_s);
}

TEST_F(ProcessorFixture, ARowThatCannotBeHandedOverEndsTheRecord) {
    process(entry(u"10.1.2.3"_s, kSampleLine));
    EXPECT_EQ(text(Field::lProcesados), u"1"_s);
    EXPECT_EQ(recorder.evaluations.size(), 1u);

    recorder.handOverFails = true;
    EXPECT_THROW(process(entry(u"10.1.2.3"_s, kSampleLine)), base::Error);
    EXPECT_EQ(text(Field::lProcesados), u"1"_s);
    EXPECT_TRUE(panel.isLit(Light::Leddeco));
    EXPECT_EQ(recorder.evaluations.size(), 1u);
}
