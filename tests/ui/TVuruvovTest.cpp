#include "ui/TVuruvov.h"

#include "app/CoreStation.h"
#include "tests/support/QtPrinters.h"
#include "ui/Lamp.h"
#include "ui/WindowFrontEnd.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using config::SettingId;
using config::SettingKind;
using config::Settings;
using station::Field;
using station::Light;
using station::LivePanel;

constexpr int kWaitMs = 5000;

// The window over a real core on its own thread, as the station runs it; its close stores the
// settings in a folder of its own, never in the user's.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_settingsDir.isValid());
        m_core = std::make_unique<app::CoreStation>(m_settingsDir.filePath(QStringLiteral("OrvaneDB.reg")));
        m_front = std::make_unique<ui::WindowFrontEnd>(*m_core);
        m_core->moveToThread(&m_thread);
        m_thread.start();
        window().show();
    }

    void TearDown() override {
        m_thread.quit();
        m_thread.wait();
        m_front.reset();
        m_core.reset();
    }

    ui::TVuruvov& window() { return m_front->window(); }

    template <typename T = QWidget> T* child(const QString& name) {
        T* const found = window().findChild<T*>(name);
        EXPECT_NE(found, nullptr) << qPrintable(name);
        return found;
    }
    template <typename T = QWidget> T* child(const char16_t* name) {
        return child<T>(QString::fromUtf16(name));
    }

    // Runs `work` on the core's thread and waits for it.
    template <typename Work> auto onCore(Work work) {
        using Result = decltype(work());
        if constexpr (std::is_void_v<Result>) {
            QMetaObject::invokeMethod(m_core.get(), work, Qt::BlockingQueuedConnection);
        } else {
            Result result{};
            QMetaObject::invokeMethod(
                m_core.get(), [&] { result = work(); }, Qt::BlockingQueuedConnection);
            return result;
        }
    }

    app::CoreStation& core() { return *m_core; }

private:
    QTemporaryDir m_settingsDir;
    QThread m_thread;
    std::unique_ptr<app::CoreStation> m_core;
    std::unique_ptr<ui::WindowFrontEnd> m_front;
};

TEST_F(WindowTest, TabsInOrderWithTheSerialLogHidden) {
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Orvane-i DB"));
    EXPECT_EQ(window().size(), QSize(773, 491));
    auto* tabs = child<QTabWidget>(u"PageControl1");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->tabPosition(), QTabWidget::South);
    const std::pair<const char16_t*, const char16_t*> expected[] = {{u"TabSheet1", u"Operaci\u00f3n"},
                                                                    {u"TabSheet2", u"Configuraci\u00f3n"},
                                                                    {u"TabSheet3", u"Acerca de"},
                                                                    {u"TSLogEthernet", u"Log ethernet"},
                                                                    {u"TabSheet5", u"Log rs232"}};
    ASSERT_EQ(tabs->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tabs->widget(i)->objectName(), QString::fromUtf16(expected[i].first));
        EXPECT_EQ(tabs->tabText(i), QString::fromUtf16(expected[i].second));
        EXPECT_EQ(tabs->isTabVisible(i), i != 4) << i;
    }
    EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST_F(WindowTest, EveryFieldShowsItsCaptionAndInitialText) {
    for (int i = 0; i < station::kFieldCount; ++i) {
        const auto& d = LivePanel::definition(static_cast<Field>(i));
        const QString name = QString::fromUtf16(d.name);
        SCOPED_TRACE(qPrintable(name));
        if (static_cast<Field>(i) == Field::Fallas) {
            auto* fallas = child<QPlainTextEdit>(name);
            ASSERT_NE(fallas, nullptr);
            EXPECT_TRUE(fallas->isHidden());
            EXPECT_TRUE(fallas->toPlainText().isEmpty());
            continue;
        }
        auto* value = child<QLabel>(name);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->text(), QString::fromUtf16(d.initial));
        EXPECT_EQ(value->isHidden(), !d.shown);
        EXPECT_EQ(value->textFormat(), Qt::PlainText);
        auto* caption = window().findChild<QLabel*>(name + QStringLiteral("Caption"));
        if (d.caption[0] == u'\0') {
            EXPECT_EQ(caption, nullptr);
        } else if (caption || d.shown) {
            ASSERT_NE(caption, nullptr);
            EXPECT_EQ(caption->text(), QString::fromUtf16(d.caption));
            EXPECT_EQ(caption->isHidden(), !d.shown);
        }
    }
    EXPECT_EQ(child<QLabel>(u"LVersion")->text(), QStringLiteral("OrvaneDB Ver.:201703001001-i"));

    const std::tuple<const char16_t*, const char16_t*, bool> buttons[] = {
        {u"Button6", u"Email", false}, {u"Button4", u"Conectar", false},   {u"Button1", u"Iniciar", true},
        {u"Button2", u"Parar", true},  {u"Button3", u"Guardar Log", true}, {u"Button7", u"Reset", true}};
    int lastX = -1;
    for (const auto& [name, caption, shown] : buttons) {
        auto* button = child<QPushButton>(name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromUtf16(caption));
        EXPECT_EQ(button->isHidden(), !shown);
        if (shown) {
            EXPECT_GT(button->x(), lastX); // left to right
            lastX = button->x();
        }
    }
}

TEST_F(WindowTest, RecordFieldsReachTheirLabelsOncePerFrame) {
    QApplication::processEvents();
    const int framesBefore = window().framesApplied();
    onCore([this] {
        for (int i = 0; i < 200; ++i) {
            core().panel().increment(Field::lProcesados);
            core().panel().setText(Field::LC128, QStringLiteral("GUIA%1").arg(i));
        }
        core().panel().setText(Field::Label54, QStringLiteral("<b>no es html</b>"));
    });
    auto* procesados = child<QLabel>(u"lProcesados");
    EXPECT_TRUE(QTest::qWaitFor([&] { return procesados->text() == u"200"; }, kWaitMs));
    EXPECT_EQ(child<QLabel>(u"LC128")->text(), QStringLiteral("GUIA199"));
    EXPECT_EQ(child<QLabel>(u"Label54")->text(), QStringLiteral("<b>no es html</b>"));
    // 401 writes, put on screen in one frame (two when the burst straddles a frame).
    EXPECT_LE(window().framesApplied() - framesBefore, 2);
}

QColor centreOf(QWidget* widget) {
    return widget->grab().toImage().pixelColor(widget->width() / 2, widget->height() / 2);
}

TEST_F(WindowTest, LightsAreRedWhenLitAndGreenWhenNot) {
    auto* input = child<ui::Lamp>(u"LedInput");
    auto* deco = child<ui::Lamp>(u"Leddeco");
    ASSERT_TRUE(input && deco);
    EXPECT_EQ(input->size(), QSize(13, 13));
    EXPECT_EQ(input->toolTip(), QStringLiteral("Dato conforme a especifici\u00f3n."));
    EXPECT_EQ(deco->toolTip(), QStringLiteral("Decodificando"));
    EXPECT_EQ(centreOf(input), ui::Lamp::unlitColor());

    onCore([this] { core().panel().setLit(Light::LedInput, true); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return input->isLit(); }, kWaitMs));
    EXPECT_EQ(centreOf(input), ui::Lamp::litColor());
    EXPECT_EQ(centreOf(deco), ui::Lamp::unlitColor());

    onCore([this] { core().panel().setLit(Light::LedInput, false); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !input->isLit(); }, kWaitMs));
    EXPECT_EQ(centreOf(input), ui::Lamp::unlitColor());
}

TEST_F(WindowTest, StatusBarHasThreePanels) {
    const char16_t* const initial[] = {u"00", u"xx", u"00"};
    const int widths[] = {100, 100, 600};
    for (int i = 0; i < 3; ++i) {
        auto* panel = child<QLabel>(QStringLiteral("sb%1").arg(i));
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->text(), QString::fromUtf16(initial[i]));
        EXPECT_EQ(panel->width(), widths[i]);
    }
    onCore([this] {
        core().panel().setStatus(1, QStringLiteral("L:57"));
        core().panel().setStatus(2, QStringLiteral("\u0002"
                                                   "10.0.0.7\t000123!X\n"));
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return child<QLabel>(u"sb1")->text() == u"L:57"; }, kWaitMs));
    EXPECT_EQ(child<QLabel>(u"sb2")->text(), QStringLiteral("10.0.0.7 000123!X"));
}

TEST_F(WindowTest, CommandButtonsAnnounceTheirCommands) {
    const std::pair<const char16_t*, void (ui::TVuruvov::*)()> commands[] = {
        {u"Button1", &ui::TVuruvov::iniciarClicked},
        {u"Button2", &ui::TVuruvov::pararClicked},
        {u"Button3", &ui::TVuruvov::guardarLogClicked},
        {u"Button7", &ui::TVuruvov::resetClicked}};
    for (const auto& [name, signal] : commands) {
        QSignalSpy spy(&window(), signal);
        QTest::mouseClick(child<QPushButton>(name), Qt::LeftButton);
        EXPECT_EQ(spy.count(), 1) << qPrintable(QString::fromUtf16(name));
    }
}

TEST_F(WindowTest, ResetReachesTheCoreAndComesBackToTheLabels) {
    onCore([this] {
        core().panel().setText(Field::fem, QStringLiteral("7"));
        core().panel().setText(Field::Lcalidad, QStringLiteral("81.25"));
    });
    auto* fem = child<QLabel>(u"fem");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fem->text() == u"7"; }, kWaitMs));
    QTest::mouseClick(child<QPushButton>(u"Button7"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return fem->text() == u"0"; }, kWaitMs));
    EXPECT_EQ(child<QLabel>(u"Lcalidad")->text(), QStringLiteral("100"));
    EXPECT_EQ(onCore([this] { return core().panel().text(Field::Lcalidad); }), QStringLiteral("100"));
}

TEST_F(WindowTest, SettingsTabOffersEverySettingInItsKind) {
    for (const config::SettingDefinition& d : Settings::definitions()) {
        const QString name = QString::fromUtf16(d.name);
        SCOPED_TRACE(qPrintable(name));
        QWidget* editor = child(name);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->isHidden(), !d.shown);
        switch (d.kind) {
        case SettingKind::Text:
            ASSERT_NE(qobject_cast<QLineEdit*>(editor), nullptr);
            EXPECT_EQ(qobject_cast<QLineEdit*>(editor)->text(), QString::fromUtf16(d.defaultText));
            break;
        case SettingKind::Real: {
            auto* spin = qobject_cast<QSpinBox*>(editor);
            ASSERT_NE(spin, nullptr);
            EXPECT_EQ(spin->value(), int(d.defaultReal));
            EXPECT_EQ(spin->minimum(), int(d.minimum));
            EXPECT_EQ(spin->maximum(), int(d.maximum));
            break;
        }
        case SettingKind::Lines:
            ASSERT_NE(qobject_cast<QPlainTextEdit*>(editor), nullptr);
            break;
        case SettingKind::Check:
            ASSERT_NE(qobject_cast<QCheckBox*>(editor), nullptr);
            EXPECT_EQ(qobject_cast<QCheckBox*>(editor)->text(), QString::fromUtf16(d.caption));
            break;
        }
        // A threshold shares the caption of its alert row, named after the failure pattern.
        if ((d.kind == SettingKind::Text || d.kind == SettingKind::Lines) && d.caption[0] != u'\0' &&
            d.shown) {
            auto* caption = child<QLabel>(name + QStringLiteral("Caption"));
            ASSERT_NE(caption, nullptr);
            EXPECT_EQ(caption->text(), QString::fromUtf16(d.caption));
        }
    }
    EXPECT_EQ(child<QSpinBox>(u"Gcm")->minimum(), 1);
    EXPECT_EQ(child<QSpinBox>(u"Gcm")->maximum(), 150);
    EXPECT_EQ(child<QLineEdit>(u"EdMailPass")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(child<QPlainTextEdit>(u"LogiPs")->toPlainText(),
              QStringLiteral("192.168.1.4\n192.168.1.255\n*\n"));
    EXPECT_TRUE(child<QPushButton>(u"Br")->isHidden());
    EXPECT_EQ(child<QPushButton>(u"Br")->text(), QStringLiteral("Config Puerto serial"));
    EXPECT_EQ(child<QLabel>(u"HeadParametro")->text(), QStringLiteral("Parametro"));
    EXPECT_EQ(child<QLabel>(u"HeadFalla")->text(), QStringLiteral("Falla"));
    EXPECT_EQ(child<QLabel>(u"HeadEventos")->text(), QStringLiteral("Eventos"));
}

TEST_F(WindowTest, EditsReachTheCoreAtOnceAndKeepWhatWasTyped) {
    auto* separator = child<QLineEdit>(u"EdSeparador");
    separator->selectAll();
    QTest::keyClicks(separator, QStringLiteral("|;#"));
    auto coreText = [this](SettingId id) {
        return onCore([this, id] { return core().settings().value(id); });
    };
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return coreText(SettingId::EdSeparador).toString() == u"|;#"; }, kWaitMs));
    QApplication::processEvents(); // the echoes of every keystroke come back
    EXPECT_EQ(separator->text(), QStringLiteral("|;#"));

    child<QSpinBox>(u"Gcm")->setValue(42);
    EXPECT_TRUE(QTest::qWaitFor([&] { return coreText(SettingId::Gcm).toDouble() == 42.0; }, kWaitMs));

    auto* cameras = child<QPlainTextEdit>(u"LogiPs");
    cameras->setPlainText(QStringLiteral("10.0.0.1\n*\n"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return coreText(SettingId::LogiPs).toString() == QStringLiteral("10.0.0.1\r\n*\r\n"); },
        kWaitMs));

    QTest::mouseClick(child<QCheckBox>(u"ChkVdos"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !coreText(SettingId::ChkVdos).toBool(); }, kWaitMs));

    // A change made by the core itself (a restore) shows up in the editor.
    onCore([this] { core().settings().setText(SettingId::Edpuerto, QStringLiteral("6001")); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return child<QLineEdit>(u"Edpuerto")->text() == u"6001"; }, kWaitMs));
}

TEST_F(WindowTest, QueueListFollowsTheIntakeQueue) {
    auto* list = child<QListView>(u"L1");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(child<QLabel>(u"Label24")->text(), QStringLiteral("Data recibida ethernet:"));
    // Lines come from a connection thread; the tick takes them on the core's.
    std::thread connection([this] {
        for (int i = 1; i <= 3; ++i)
            core().queue().append(QStringLiteral("\u0002"
                                                 "10.0.0.%1\tlinea %1\n")
                                      .arg(i));
    });
    connection.join();
    QAbstractItemModel* model = list->model();
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 3; }, kWaitMs));
    onCore([this] { return core().queue().takeFront().has_value(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 2; }, kWaitMs));
    EXPECT_EQ(model->index(0, 0).data().toString(), QStringLiteral("10.0.0.2 linea 2"));
    onCore(
        [this] { return core().queue().takeFront().has_value() && core().queue().takeFront().has_value(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 0; }, kWaitMs));
}

TEST_F(WindowTest, RawLogsFollowTheirLists) {
    auto* rs232 = child<QListView>(u"logRS232");
    auto* ethernet = child<QListView>(u"logEthernet");
    ASSERT_TRUE(rs232 && ethernet);
    EXPECT_TRUE(ethernet->isHidden());
    onCore([this] {
        core().logRS232().append(QStringLiteral("uno"));
        core().logRS232().append(QStringLiteral("dos"));
        core().logEthernet().assign({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return rs232->model()->rowCount() == 2; }, kWaitMs));
    EXPECT_EQ(ethernet->model()->rowCount(), 3);
    onCore([this] {
        core().logRS232().clear();
        core().logRS232().append(QStringLiteral("tres"));
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return rs232->model()->rowCount() == 1; }, kWaitMs));
    EXPECT_EQ(rs232->model()->index(0, 0).data().toString(), QStringLiteral("tres"));
}

int visibleMessageBoxes() {
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        count += qobject_cast<QMessageBox*>(w) && w->isVisible();
    return count;
}

TEST_F(WindowTest, ABurstOfErrorsGivesOneBoxWithTheLatestAndACount) {
    onCore([this] {
        for (int i = 1; i <= 50; ++i)
            core().errors().report(QStringLiteral("Error %1").arg(i));
    });
    auto* box = window().findChild<QMessageBox*>(QStringLiteral("ErrorBox"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->isVisible() && box->text() == u"Error 50"; }, kWaitMs));
    EXPECT_FALSE(box->isModal());
    EXPECT_TRUE(box->informativeText().contains(u"49"));
    EXPECT_EQ(visibleMessageBoxes(), 1);

    // Once the operator has read it, the count starts again.
    box->accept();
    onCore([this] { core().errors().report(QStringLiteral("Otro")); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->isVisible() && box->text() == u"Otro"; }, kWaitMs));
    EXPECT_TRUE(box->informativeText().isEmpty());
}

TEST_F(WindowTest, ClosingWaitsForTheCore) {
    QSignalSpy closed(&core(), &app::CoreStation::closed);
    window().close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window().isVisible(); }, kWaitMs));
    EXPECT_EQ(closed.count(), 1);
}

// The window alone, over models on this thread, to play the core's part in a failed close.
TEST(WindowClose, StaysOpenWhenTheCloseHandlerFails) {
    station::LivePanel panel;
    config::Settings settings;
    station::IntakeQueue queue;
    station::RawLog logEthernet;
    station::RawLog logRS232;
    base::ErrorReport errors;
    ui::TVuruvov window({panel, settings, queue, logEthernet, logRS232, errors});
    int requests = 0;
    QObject::connect(&window, &ui::TVuruvov::closeRequested, &window, [&] {
        ++requests;
        window.stationCloseFailed(QStringLiteral("No se pudo escribir camaras.txc"));
    });
    window.show();
    window.close();
    EXPECT_TRUE(window.isVisible());
    auto* box = window.findChild<QMessageBox*>(QStringLiteral("ErrorBox"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->isVisible(); }, kWaitMs));
    EXPECT_EQ(box->text(), QStringLiteral("No se pudo escribir camaras.txc"));

    // The operator may try again; this time the core gets through.
    QObject::disconnect(&window, &ui::TVuruvov::closeRequested, nullptr, nullptr);
    QObject::connect(&window, &ui::TVuruvov::closeRequested, &window, [&] {
        ++requests;
        window.stationClosed();
    });
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(requests, 2);
}

} // namespace
