#include "station/LivePanel.h"
#include "base/Error.h"
#include "tests/support/QtPrinters.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using station::Field;
using station::Light;
using station::LivePanel;

TEST(LivePanel, StartsWithTheInitialTexts) {
    const LivePanel panel;
    EXPECT_EQ(panel.text(Field::LC128), QStringLiteral("MAQUINA"));
    EXPECT_EQ(panel.text(Field::Lseq), QStringLiteral("Seq#:"));
    EXPECT_EQ(panel.text(Field::lplaza), QStringLiteral("PDF 417:"));
    EXPECT_EQ(panel.text(Field::Lcalidad), QStringLiteral("100.00"));
    EXPECT_EQ(panel.text(Field::Fallas), QString());
    EXPECT_EQ(panel.status(0), QStringLiteral("00"));
    EXPECT_EQ(panel.status(1), QStringLiteral("xx"));
    EXPECT_EQ(panel.status(2), QStringLiteral("00"));
    EXPECT_FALSE(panel.isLit(Light::Leddeco));
    EXPECT_FALSE(LivePanel::definition(Field::Lbuenos).shown);
    EXPECT_EQ(QString::fromUtf16(LivePanel::definition(Light::LedInput).hint),
              QStringLiteral("Dato conforme a especifici\u00f3n."));
}

TEST(LivePanel, IncrementNotifiesEveryWriteWithTheNewText) {
    LivePanel panel;
    QSignalSpy spy(&panel, &LivePanel::fieldChanged);
    for (int i = 0; i < 3; ++i)
        panel.increment(Field::lProcesados);
    EXPECT_EQ(panel.text(Field::lProcesados), QStringLiteral("3"));
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(2).at(0).value<Field>(), Field::lProcesados);
    EXPECT_EQ(spy.at(2).at(1).toString(), QStringLiteral("3"));
}

TEST(LivePanel, CounterContinuesFromARestoredText) {
    LivePanel panel;
    panel.setText(Field::Lbuenos, QStringLiteral("12"));
    panel.increment(Field::Lbuenos);
    EXPECT_EQ(panel.text(Field::Lbuenos), QStringLiteral("13"));
    panel.reset(Field::Lbuenos);
    EXPECT_EQ(panel.text(Field::Lbuenos), QStringLiteral("0"));
}

TEST(LivePanel, CounterThatIsNotAnIntegerFailsAndKeepsItsText) {
    for (const char16_t* bad : {u"abc", u"", u"12 ", u"1.5", u"0x10"}) {
        LivePanel panel;
        panel.setText(Field::fem, QString::fromUtf16(bad));
        QSignalSpy spy(&panel, &LivePanel::fieldChanged);
        try {
            panel.increment(Field::fem);
            ADD_FAILURE() << "no error for " << QString::fromUtf16(bad).toStdString();
        } catch (const base::Error& e) {
            EXPECT_EQ(e.message(),
                      QStringLiteral("'%1' is not a valid integer value").arg(QString::fromUtf16(bad)));
        }
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
    panel.setStatus(2, QStringLiteral("x"));
    EXPECT_EQ(lights.count(), 1);
    EXPECT_EQ(status.count(), 1);
    EXPECT_TRUE(panel.isLit(Light::LedInput));
}
