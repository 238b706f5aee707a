#include "ui/TFportselector.h"

#include "app/CoreStation.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/QtPrinters.h"
#include "ui/WindowFrontEnd.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace config {
// Settings in failure messages as the console shows them.
void PrintTo(const SerialPortSettings& s, std::ostream* os) {
    *os << "COM" << s.ComNumber << ' ' << s.Baud << ' ' << s.DataBits << ' ' << s.StopBits << " parity "
        << int(s.parity) << " sw flow " << int(s.SWFlowOptions);
}
} // namespace config
using config::Parity;
using config::SerialPortSettings;
using ui::TFportselector;

namespace {

constexpr int kWaitMs = 5000;
const QStringList kGroups{u"RGPuerto"_s, u"RGBaudrate"_s, u"RGDAtaBits"_s, u"RGParada"_s, u"RGParidad"_s};

QList<QRadioButton*> items(const QWidget& dialog, const QString& group) {
    const auto* box = dialog.findChild<QGroupBox*>(group);
    return box ? box->findChildren<QRadioButton*>() : QList<QRadioButton*>{};
}

// The text of the checked item of each group, empty for a group with none.
QStringList checked(const QWidget& dialog) {
    QStringList texts;
    for (const QString& group : kGroups) {
        QString text;
        for (const QRadioButton* item : items(dialog, group)) {
            if (item->isChecked())
                text = item->text();
        }
        texts << text;
    }
    return texts;
}

void choose(const QWidget& dialog, const QString& group, const QString& text) {
    for (QRadioButton* item : items(dialog, group)) {
        if (item->text() == text) {
            // On the round mark: a short text leaves the middle of a wide item unclickable.
            QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(6, item->height() / 2));
            return;
        }
    }
    ADD_FAILURE() << "no item " << qPrintable(text) << " in " << qPrintable(group);
}

SerialPortSettings settings(int com, int baud, int dataBits, int stopBits, Parity parity) {
    SerialPortSettings s;
    s.ComNumber = com;
    s.Baud = baud;
    s.DataBits = dataBits;
    s.StopBits = stopBits;
    s.parity = parity;
    return s;
}

TEST(TFportselector, CaptionGroupsItemsAndButtonAsLaidOut) {
    const TFportselector dialog(SerialPortSettings{});
    EXPECT_EQ(dialog.windowTitle(), u"Selector de puertos"_s);
    const std::pair<QString, QStringList> expected[] = {
        {u"&Puerto"_s,
         {u"Ninguno"_s, u"Com 1"_s, u"Com 2"_s, u"Com 3"_s, u"Com 4"_s, u"Com 5"_s, u"Com 6"_s, u"Com 7"_s,
          u"Com 8"_s, u"Com 9"_s, u"Com 10"_s, u"Com 11"_s, u"Com 12"_s, u"Com 13"_s, u"Com 14"_s, u"Com15"_s,
          u"Com 16"_s, u"Com 17"_s}},
        {u"&Rata de baudios"_s,
         {u"600"_s, u"1200"_s, u"2400"_s, u"4800"_s, u"9600"_s, u"19200"_s, u"38400"_s, u"57600"_s,
          u"115200"_s}},
        {u"&Data Bits"_s, {u"7"_s, u"8"_s}},
        {u"&Bits de parada"_s, {u"0"_s, u"1"_s}},
        {u"P&aridad"_s, {u"Marca"_s, u"Par"_s, u"Ninguno"_s, u"Impar"_s, u"Espacio"_s}},
    };
    for (int g = 0; g < kGroups.size(); ++g) {
        const auto* box = dialog.findChild<QGroupBox*>(kGroups[g]);
        ASSERT_NE(box, nullptr) << qPrintable(kGroups[g]);
        EXPECT_EQ(box->title(), expected[g].first);
        QStringList texts;
        for (const QRadioButton* item : items(dialog, kGroups[g]))
            texts << item->text();
        EXPECT_EQ(texts, expected[g].second);
    }
    const auto* ok = dialog.findChild<QPushButton*>(u"JvHTButton1"_s);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), u"ok  "_s);
}

struct PreselectionCase {
    const char* name;
    SerialPortSettings current;
    QStringList checked;                       // port, speed, data bits, stop bits, parity
    std::optional<SerialPortSettings> written; // what closing writes, when not `current`
};

void PrintTo(const PreselectionCase& c, std::ostream* os) {
    *os << c.name;
}

class Preselection : public ::testing::TestWithParam<PreselectionCase> {};

// Closing without touching anything writes back what the dialog opened with, as its items read.
TEST_P(Preselection, ShowsTheSettingsAndGivesThemBackUntouched) {
    const TFportselector dialog(GetParam().current);
    EXPECT_EQ(checked(dialog), GetParam().checked);
    EXPECT_EQ(dialog.selection(), GetParam().written.value_or(GetParam().current));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Preselection,
    ::testing::Values(PreselectionCase{"Com3At9600",
                                       settings(3, 9600, 8, 1, Parity::None),
                                       {u"Com 3"_s, u"9600"_s, u"8"_s, u"1"_s, u"Ninguno"_s},
                                       std::nullopt},
                      PreselectionCase{"NoPortSevenDataBitsMark",
                                       settings(0, 600, 7, 0, Parity::Mark),
                                       {u"Ninguno"_s, u"600"_s, u"7"_s, u"0"_s, u"Marca"_s},
                                       std::nullopt},
                      PreselectionCase{"Com15",
                                       settings(15, 115200, 8, 1, Parity::Space),
                                       {u"Com15"_s, u"115200"_s, u"8"_s, u"1"_s, u"Espacio"_s},
                                       std::nullopt},
                      // Values no item stands for show no choice, and are kept.
                      PreselectionCase{"ValuesWithoutAnItem",
                                       settings(4, 14400, 5, 2, Parity::Odd),
                                       {u"Com 4"_s, u""_s, u""_s, u""_s, u"Impar"_s},
                                       std::nullopt},
                      // A port above the last item shows the last item, and becomes its number.
                      PreselectionCase{"PortAboveTheLastItem",
                                       settings(20, 19200, 8, 1, Parity::Even),
                                       {u"Com 17"_s, u"19200"_s, u"8"_s, u"1"_s, u"Par"_s},
                                       settings(17, 19200, 8, 1, Parity::Even)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TFportselector, ChoicesAreWrittenAndShownAgainAtTheNextOpening) {
    SerialPortSettings current = settings(3, 9600, 8, 1, Parity::None);
    current.SWFlowOptions = config::SoftwareFlow::Both;
    TFportselector dialog(current);
    dialog.show();
    choose(dialog, u"RGPuerto"_s, u"Com15"_s);
    choose(dialog, u"RGBaudrate"_s, u"57600"_s);
    choose(dialog, u"RGDAtaBits"_s, u"7"_s);
    choose(dialog, u"RGParada"_s, u"0"_s);
    choose(dialog, u"RGParidad"_s, u"Marca"_s);

    SerialPortSettings expected = settings(15, 57600, 7, 0, Parity::Mark);
    expected.SWFlowOptions = config::SoftwareFlow::Both; // not the dialog's
    EXPECT_EQ(dialog.selection(), expected);

    const TFportselector again(dialog.selection());
    EXPECT_EQ(checked(again), (QStringList{u"Com15"_s, u"57600"_s, u"7"_s, u"0"_s, u"Marca"_s}));
}

TEST(TFportselector, CloseBoxAppliesLikeTheButton) {
    for (const bool byButton : {true, false}) {
        TFportselector dialog(settings(3, 9600, 8, 1, Parity::None));
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.show();
        choose(dialog, u"RGPuerto"_s, u"Com 5"_s);
        if (byButton)
            QTest::mouseClick(dialog.findChild<QPushButton*>(u"JvHTButton1"_s), Qt::LeftButton);
        else
            dialog.close();
        EXPECT_FALSE(dialog.isVisible());
        ASSERT_EQ(finished.count(), 1);
        EXPECT_EQ(finished[0][0].toInt(), QDialog::Accepted) << byButton;
        EXPECT_EQ(dialog.selection().ComNumber, 5);
    }
}

// --- the dialog from the window, over a real core ---------------------------------------------------

class PortDialogFromTheWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_settingsDir.isValid());
        ASSERT_TRUE(device.isOpen());
        ASSERT_TRUE(dosdevices.link(3, device.slavePath()));
        m_core = std::make_unique<app::CoreStation>(m_settingsDir.filePath(u"OrvaneDB.reg"_s));
        m_front = std::make_unique<ui::WindowFrontEnd>(*m_core);
        m_core->moveToThread(&m_thread);
        m_thread.start();
        window().show();
        // A stopped station: its serial port is closed.
        QMetaObject::invokeMethod(m_core.get(), &app::CoreStation::parar, Qt::BlockingQueuedConnection);
    }

    void TearDown() override {
        m_thread.quit();
        m_thread.wait();
        m_front.reset();
        m_core.reset();
    }

    ui::TVuruvov& window() { return m_front->window(); }

    // The operator goes to the configuration tab and presses the dialog's key.
    TFportselector* openDialog() {
        auto* tabs = window().findChild<QTabWidget*>(u"PageControl1"_s);
        tabs->setCurrentIndex(1);
        window().activateWindow();
        if (!QTest::qWaitForWindowActive(&window()))
            return nullptr;
        QTest::keyClick(&window(), Qt::Key_P, Qt::ControlModifier);
        TFportselector* dialog = nullptr;
        const bool shown = QTest::qWaitFor(
            [&] {
                dialog = window().findChild<TFportselector*>();
                return dialog && dialog->isVisible();
            },
            kWaitMs);
        return shown ? dialog : nullptr;
    }

    SerialPortSettings coreSettings() {
        SerialPortSettings s;
        QMetaObject::invokeMethod(
            m_core.get(), [&] { s = m_core->serialPort(); }, Qt::BlockingQueuedConnection);
        return s;
    }

    testsupport::DosDevices dosdevices;
    testsupport::PseudoTerminal device;

private:
    QTemporaryDir m_settingsDir;
    QThread m_thread;
    std::unique_ptr<app::CoreStation> m_core;
    std::unique_ptr<ui::WindowFrontEnd> m_front;
};

TEST_F(PortDialogFromTheWindow, KeyOnTheConfigurationTabOpensItAndTheChoiceSendsAck) {
    auto* tabs = window().findChild<QTabWidget*>(u"PageControl1"_s);
    EXPECT_TRUE(tabs->tabToolTip(1).contains(u"Config Puerto serial"_s));
    EXPECT_TRUE(tabs->tabToolTip(1).contains(u"P"_s));
    EXPECT_TRUE(window().findChild<QPushButton*>(u"Br"_s)->isHidden());

    TFportselector* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(checked(*dialog)[0], u"Ninguno"_s);
    choose(*dialog, u"RGPuerto"_s, u"Com 3"_s);
    choose(*dialog, u"RGBaudrate"_s, u"9600"_s);
    QTest::mouseClick(dialog->findChild<QPushButton*>(u"JvHTButton1"_s), Qt::LeftButton);

    EXPECT_EQ(device.read(3, kWaitMs), QByteArray("ACK"));
    EXPECT_EQ(coreSettings().ComNumber, 3);
    EXPECT_EQ(coreSettings().Baud, 9600);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window().findChild<TFportselector*>() == nullptr; }, kWaitMs));

    // The window shows the settings the core took at the next opening.
    dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(checked(*dialog)[0], u"Com 3"_s);
    dialog->close();
}

TEST_F(PortDialogFromTheWindow, KeyDoesNothingOnTheOtherTabs) {
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    QTest::keyClick(&window(), Qt::Key_P, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(window().findChild<TFportselector*>(), nullptr);
}

TEST_F(PortDialogFromTheWindow, NingunoIsWrittenAndTheFailedOpenReported) {
    TFportselector* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    choose(*dialog, u"RGPuerto"_s, u"Com 3"_s);
    dialog->close();
    EXPECT_EQ(device.read(3, kWaitMs), QByteArray("ACK"));

    dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    choose(*dialog, u"RGPuerto"_s, u"Ninguno"_s);
    dialog->close();

    auto* box = window().findChild<QMessageBox*>(u"ErrorBox"_s);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->isVisible(); }, kWaitMs));
    EXPECT_EQ(box->text(), u"No hay puerto serial seleccionado (COM0)"_s);
    EXPECT_EQ(coreSettings().ComNumber, 0);
}

} // namespace
