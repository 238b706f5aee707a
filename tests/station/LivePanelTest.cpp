#include "station/LivePanel.h"
#include "base/Error.h"
#include "station/PanelRelay.h"
#include "tests/support/QtPrinters.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

using namespace Qt::StringLiterals;

using ::testing::StrEq;
using ::testing::ThrowsMessage;

using station::Field;
using station::Light;
using station::LivePanel;

TEST(LivePanel, StartsWithTheInitialTexts) {
    const LivePanel panel;
    EXPECT_EQ(panel.text(Field::LC128), u"MAQUINA"_s);
    EXPECT_EQ(panel.text(Field::Lseq), u"Seq#:"_s);
    EXPECT_EQ(panel.text(Field::lplaza), u"PDF 417:"_s);
    EXPECT_EQ(panel.text(Field::Lcalidad), u"100.00"_s);
    EXPECT_EQ(panel.text(Field::Fallas), QString());
    EXPECT_EQ(panel.status(0), u"00"_s);
    EXPECT_EQ(panel.status(1), u"xx"_s);
    EXPECT_EQ(panel.status(2), u"00"_s);
    EXPECT_FALSE(panel.isLit(Light::Leddeco));
    EXPECT_FALSE(LivePanel::definition(Field::Lbuenos).shown);
    EXPECT_EQ(QString::fromUtf16(LivePanel::definition(Light::LedInput).hint),
              u"Dato conforme a especifici\u00f3n."_s);
}

TEST(LivePanel, IncrementNotifiesEveryWriteWithTheNewText) {
    LivePanel panel;
    QSignalSpy spy(&panel, &LivePanel::fieldChanged);
    for (int i = 0; i < 3; ++i)
        panel.increment(Field::lProcesados);
    EXPECT_EQ(panel.text(Field::lProcesados), u"3"_s);
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(2).at(0).value<Field>(), Field::lProcesados);
    EXPECT_EQ(spy.at(2).at(1).toString(), u"3"_s);
}

TEST(LivePanel, CounterContinuesFromARestoredText) {
    LivePanel panel;
    panel.setText(Field::Lbuenos, u"12"_s);
    panel.increment(Field::Lbuenos);
    EXPECT_EQ(panel.text(Field::Lbuenos), u"13"_s);
    panel.reset(Field::Lbuenos);
    EXPECT_EQ(panel.text(Field::Lbuenos), u"0"_s);
}

TEST(LivePanel, CounterThatIsNotAnIntegerFailsAndKeepsItsText) {
    for (const char16_t* bad :
         {u"abc", u"", u"12 ", u"1.5", u"0x10", u"2147483648", u"-2147483649", u"4294967308"}) {
        LivePanel panel;
        panel.setText(Field::fem, QString::fromUtf16(bad));
        QSignalSpy spy(&panel, &LivePanel::fieldChanged);
        const std::string expected =
            u"'%1' is not a valid integer value"_s.arg(QString::fromUtf16(bad)).toStdString();
        EXPECT_THAT([&] { panel.increment(Field::fem); }, ThrowsMessage<base::Error>(StrEq(expected)));
        EXPECT_EQ(panel.text(Field::fem), QString::fromUtf16(bad));
        EXPECT_EQ(spy.count(), 0);
    }
}

TEST(LivePanel, ReadsNeverNotify) {
    LivePanel panel;
    QSignalSpy fields(&panel, &LivePanel::fieldChanged);
    QSignalSpy lights(&panel, &LivePanel::lightChanged);
    QSignalSpy status(&panel, &LivePanel::statusChanged);
    (void)panel.text(Field::Lorigen);
    (void)panel.isLit(Light::LedInput);
    (void)panel.status(2);
    EXPECT_EQ(fields.count() + lights.count() + status.count(), 0);

    panel.setLit(Light::LedInput, true);
    panel.setStatus(2, u"x"_s);
    EXPECT_EQ(lights.count(), 1);
    EXPECT_EQ(status.count(), 1);
    EXPECT_TRUE(panel.isLit(Light::LedInput));
}

TEST(PanelRelay, HandsOverEveryChangeInOrderOneBatchPerTurnOfTheEventLoop) {
    using station::PanelChange;
    LivePanel panel;
    station::PanelRelay relay(panel);
    std::vector<station::PanelChanges> batches;
    QObject::connect(&relay, &station::PanelRelay::changed,
                     [&](const station::PanelChanges& changes) { batches.push_back(changes); });
    const auto described = [](const PanelChange& c) {
        return QString::number(int(c.kind)) + u':' + QString::number(c.index) + u':' + c.text +
               (c.lit ? u":on"_s : QString());
    };

    panel.setText(Field::Lseq, u"7"_s);
    panel.setLit(Light::Leddeco, true);
    panel.setStatus(2, u"12 ms"_s);
    panel.increment(Field::lProcesados);
    panel.increment(Field::lProcesados);
    EXPECT_TRUE(batches.empty()); // not while the core is still at work
    QCoreApplication::processEvents();
    ASSERT_EQ(batches.size(), 1u);
    QStringList seen;
    for (const PanelChange& c : batches[0])
        seen << described(c);
    EXPECT_EQ(seen, (QStringList{u"0:%1:7"_s.arg(int(Field::Lseq)), u"1:%1::on"_s.arg(int(Light::Leddeco)),
                                 u"2:2:12 ms"_s, u"0:%1:1"_s.arg(int(Field::lProcesados)),
                                 u"0:%1:2"_s.arg(int(Field::lProcesados))}));

    // flush() hands over at once, and what it handed over does not come again.
    panel.setText(Field::Lseq, u"8"_s);
    relay.flush();
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(described(batches[1].value(0)), u"0:%1:8"_s.arg(int(Field::Lseq)));
    QCoreApplication::processEvents();
    EXPECT_EQ(batches.size(), 2u);
}
