#include "ui/TVuruvov.h"

#include "app/CoreStation.h"
#include "tests/support/FreePort.h"
#include "tests/support/QtPrinters.h"
#include "ui/Lamp.h"
#include "ui/QualityTab.h"
#include "ui/WindowFrontEnd.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace Qt::StringLiterals;

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
        m_core = std::make_unique<app::CoreStation>(m_settingsDir.filePath(u"OrvaneDB.reg"_s));
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
    ui::TfrmMessageEditor& messageEditor() { return m_front->messageEditor(); }

private:
    QTemporaryDir m_settingsDir;
    QThread m_thread;
    std::unique_ptr<app::CoreStation> m_core;
    std::unique_ptr<ui::WindowFrontEnd> m_front;
};

TEST_F(WindowTest, TabsInOrderWithTheSerialLogHiddenAndTheQualityTrendLast) {
    EXPECT_EQ(window().windowTitle(), u"Orvane-i DB"_s);
    EXPECT_EQ(window().size(), QSize(773, 491));
    auto* tabs = child<QTabWidget>(u"PageControl1");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->tabPosition(), QTabWidget::South);
    const std::pair<const char16_t*, const char16_t*> expected[] = {
        {u"TabSheet1", u"Operaci\u00f3n"}, {u"TabSheet2", u"Configuraci\u00f3n"},
        {u"TabSheet3", u"Acerca de"},      {u"TSLogEthernet", u"Log ethernet"},
        {u"TabSheet5", u"Log rs232"},      {u"TabCalidad", u"Calidad"}};
    ASSERT_EQ(tabs->count(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(tabs->widget(i)->objectName(), QString::fromUtf16(expected[i].first));
        EXPECT_EQ(tabs->tabText(i), QString::fromUtf16(expected[i].second));
        EXPECT_EQ(tabs->isTabVisible(i), i != 4) << i;
    }
    EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST_F(WindowTest, StoredRecordsTheQualityAndAlertsReachTheCalidadTab) {
    onCore([this] {
        for (int i = 1; i <= 3; ++i)
            core().panel().setText(Field::lProcesados, QString::number(i));
        core().panel().setText(Field::Lcalidad, u"75.00"_s);
        core().alerts().note(QDateTime(QDate(2024, 3, 14), QTime(10, 42)), false, u"sin servidor"_s);
    });
    auto* view = child<QChartView>(u"GraficaCalidad");
    ASSERT_NE(view, nullptr);
    const auto last = [view](int series) {
        auto* line = qobject_cast<QLineSeries*>(view->chart()->series().value(series));
        return line && line->count() > 0 ? line->at(line->count() - 1).y() : -1.0;
    };
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            window().qualityTab().redraw();
            return last(1) == 3 && last(0) == 75.0;
        },
        kWaitMs))
        << last(1) << ' ' << last(0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return child<QLabel>(u"UltimaAlerta")->text().contains(u"202403141042, no enviada"_s); },
        kWaitMs));
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
        auto* caption = window().findChild<QLabel*>(name + u"Caption"_s);
        if (d.caption[0] == u'\0') {
            EXPECT_EQ(caption, nullptr);
        } else if (caption || d.shown) {
            ASSERT_NE(caption, nullptr);
            EXPECT_EQ(caption->text(), QString::fromUtf16(d.caption));
            EXPECT_EQ(caption->isHidden(), !d.shown);
        }
    }
    EXPECT_EQ(child<QLabel>(u"LVersion")->text(), u"OrvaneDB Ver.:201703001001-i"_s);

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
            core().panel().setText(Field::LC128, u"GUIA%1"_s.arg(i));
        }
        core().panel().setText(Field::Label54, u"<b>no es html</b>"_s);
    });
    auto* procesados = child<QLabel>(u"lProcesados");
    EXPECT_TRUE(QTest::qWaitFor([&] { return procesados->text() == u"200"; }, kWaitMs));
    EXPECT_EQ(child<QLabel>(u"LC128")->text(), u"GUIA199"_s);
    EXPECT_EQ(child<QLabel>(u"Label54")->text(), u"<b>no es html</b>"_s);
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
    EXPECT_EQ(input->toolTip(), u"Dato conforme a especifici\u00f3n."_s);
    EXPECT_EQ(deco->toolTip(), u"Decodificando"_s);
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
        auto* panel = child<QLabel>(u"sb%1"_s.arg(i));
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->text(), QString::fromUtf16(initial[i]));
        EXPECT_EQ(panel->width(), widths[i]);
    }
    onCore([this] {
        core().panel().setStatus(1, u"L:57"_s);
        core().panel().setStatus(2, u"\u0002"
                                    "10.0.0.7\t000123!X\n"_s);
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return child<QLabel>(u"sb1")->text() == u"L:57"; }, kWaitMs));
    EXPECT_EQ(child<QLabel>(u"sb2")->text(), u"10.0.0.7 000123!X"_s);
}

TEST_F(WindowTest, RowsWaitingForTheDatabaseShowOnTheStatusBarWhileThereAreAny) {
    auto* backlog = child<QLabel>(u"sbBD"_s);
    ASSERT_NE(backlog, nullptr);
    EXPECT_TRUE(backlog->isHidden());
    onCore([this] { core().databaseBacklog().connectionLost(u"Unable to complete network request"_s); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !backlog->isHidden(); }, kWaitMs));
    EXPECT_TRUE(backlog->text().startsWith(u"BD sin conexi\u00f3n: 0 filas en espera desde "_s))
        << qPrintable(backlog->text());
    onCore([this] { core().databaseBacklog().connectionBack(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return backlog->isHidden(); }, kWaitMs));
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
        core().panel().setText(Field::fem, u"7"_s);
        core().panel().setText(Field::Lcalidad, u"81.25"_s);
    });
    auto* fem = child<QLabel>(u"fem");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fem->text() == u"7"; }, kWaitMs));
    QTest::mouseClick(child<QPushButton>(u"Button7"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return fem->text() == u"0"; }, kWaitMs));
    EXPECT_EQ(child<QLabel>(u"Lcalidad")->text(), u"100"_s);
    EXPECT_EQ(onCore([this] { return core().panel().text(Field::Lcalidad); }), u"100"_s);
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
            auto* caption = child<QLabel>(name + u"Caption"_s);
            ASSERT_NE(caption, nullptr);
            EXPECT_EQ(caption->text(), QString::fromUtf16(d.caption));
        }
    }
    EXPECT_EQ(child<QSpinBox>(u"Gcm")->minimum(), 1);
    EXPECT_EQ(child<QSpinBox>(u"Gcm")->maximum(), 150);
    EXPECT_EQ(child<QLineEdit>(u"EdMailPass")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(child<QPlainTextEdit>(u"LogiPs")->toPlainText(), u"192.168.1.4\n192.168.1.255\n*\n"_s);
    EXPECT_TRUE(child<QPushButton>(u"Br")->isHidden());
    EXPECT_EQ(child<QPushButton>(u"Br")->text(), u"Config Puerto serial"_s);
    EXPECT_EQ(child<QLabel>(u"HeadParametro")->text(), u"Parametro"_s);
    EXPECT_EQ(child<QLabel>(u"HeadFalla")->text(), u"Falla"_s);
    EXPECT_EQ(child<QLabel>(u"HeadEventos")->text(), u"Eventos"_s);
}

TEST_F(WindowTest, EditsReachTheCoreAtOnceAndKeepWhatWasTyped) {
    auto* separator = child<QLineEdit>(u"EdSeparador");
    separator->selectAll();
    QTest::keyClicks(separator, u"|;#"_s);
    auto coreText = [this](SettingId id) {
        return onCore([this, id] { return core().settings().value(id); });
    };
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return coreText(SettingId::EdSeparador).toString() == u"|;#"; }, kWaitMs));
    QApplication::processEvents(); // the echoes of every keystroke come back
    EXPECT_EQ(separator->text(), u"|;#"_s);

    child<QSpinBox>(u"Gcm")->setValue(42);
    EXPECT_TRUE(QTest::qWaitFor([&] { return coreText(SettingId::Gcm).toDouble() == 42.0; }, kWaitMs));

    auto* cameras = child<QPlainTextEdit>(u"LogiPs");
    cameras->setPlainText(u"10.0.0.1\n*\n"_s);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return coreText(SettingId::LogiPs).toString() == u"10.0.0.1\r\n*\r\n"_s; }, kWaitMs));

    QTest::mouseClick(child<QCheckBox>(u"ChkVdos"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !coreText(SettingId::ChkVdos).toBool(); }, kWaitMs));

    // A change made by the core itself (a restore) shows up in the editor.
    onCore([this] { core().settings().setText(SettingId::Edpuerto, u"6001"_s); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return child<QLineEdit>(u"Edpuerto")->text() == u"6001"; }, kWaitMs));
}

TEST_F(WindowTest, QueueListFollowsTheIntakeQueue) {
    auto* list = child<QListView>(u"L1");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(child<QLabel>(u"Label24")->text(), u"Data recibida ethernet:"_s);
    // Lines come from a connection thread; the tick takes them on the core's.
    std::thread connection([this] {
        for (int i = 1; i <= 3; ++i)
            core().queue().append(u"\u0002"
                                  "10.0.0.%1\tlinea %1\n"_s.arg(i));
    });
    connection.join();
    QAbstractItemModel* model = list->model();
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 3; }, kWaitMs));
    onCore([this] { return core().queue().takeFront().has_value(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 2; }, kWaitMs));
    EXPECT_EQ(model->index(0, 0).data().toString(), u"10.0.0.2 linea 2"_s);
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
        core().logRS232().append(u"uno"_s);
        core().logRS232().append(u"dos"_s);
        core().logEthernet().assign({u"a"_s, u"b"_s, u"c"_s});
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return rs232->model()->rowCount() == 2; }, kWaitMs));
    EXPECT_EQ(ethernet->model()->rowCount(), 3);
    onCore([this] {
        core().logRS232().clear();
        core().logRS232().append(u"tres"_s);
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return rs232->model()->rowCount() == 1; }, kWaitMs));
    EXPECT_EQ(rs232->model()->index(0, 0).data().toString(), u"tres"_s);
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
            core().errors().report(u"Error %1"_s.arg(i));
    });
    auto* box = window().findChild<QMessageBox*>(u"ErrorBox"_s);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->isVisible() && box->text() == u"Error 50"; }, kWaitMs));
    EXPECT_FALSE(box->isModal());
    EXPECT_TRUE(box->informativeText().contains(u"49"));
    EXPECT_EQ(visibleMessageBoxes(), 1);

    // Once the operator has read it, the count starts again.
    box->accept();
    onCore([this] { core().errors().report(u"Otro"_s); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->isVisible() && box->text() == u"Otro"; }, kWaitMs));
    EXPECT_TRUE(box->informativeText().isEmpty());
}

TEST_F(WindowTest, EmailShortcutOpensTheMessageEditorAndATestSendThatFailsShowsWhy) {
    const quint16 nobody = testsupport::freePort(QHostAddress(QHostAddress::LocalHost));
    onCore([this, nobody] {
        alerts::MailRequest test = alerts::MessageEditor::builtInTestRequest();
        test.smpt_server_name = u"127.0.0.1"_s;
        test.smpt_server_port = QString::number(nobody);
        core().alertMail().setTestRequest(test);
    });
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    QTest::keyClick(&window(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return messageEditor().isVisible(); }, kWaitMs));

    messageEditor().findChild<QComboBox*>(u"cboPriority"_s)->setCurrentText(u"Low"_s);
    QTest::mouseClick(messageEditor().findChild<QPushButton*>(u"btnSend"_s), Qt::LeftButton);
    EXPECT_FALSE(messageEditor().isVisible());

    auto* box = window().findChild<QMessageBox*>(u"ErrorBox"_s);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return box->isVisible() && box->text().contains(QString::number(nobody)); }, kWaitMs));
    EXPECT_EQ(onCore([this] { return core().alertMail().state().cboPriority; }), alerts::MailPriority::Low);
}

TEST_F(WindowTest, TheMessageEditorFollowsATemplateTheCoreLoaded) {
    const alerts::EditorState loaded{u"<p>@GUIA</p>"_s, alerts::MailPriority::High, false, {}};
    onCore([this, loaded] { core().alertMail().setState(loaded); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return messageEditor().state() == loaded; }, kWaitMs));
}

TEST_F(WindowTest, TheLastAlertOutcomeIsTheStatusBarsHint) {
    onCore([this] { core().alertReport().failed(u"sin servidor"_s); });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window().statusBar()->toolTip() == u"Alerta de calidad no enviada: sin servidor"; },
        kWaitMs));
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
    station::PanelRelay panelChanges(panel);
    config::Settings settings;
    station::IntakeQueue queue;
    station::RawLog logEthernet;
    station::RawLog logRS232;
    base::ErrorReport errors;
    const config::SerialPortSettings serialPort;
    app::AlertTally alerts;
    ui::TVuruvov window(
        {panel, panelChanges, settings, queue, logEthernet, logRS232, errors, serialPort, alerts});
    int requests = 0;
    QObject::connect(&window, &ui::TVuruvov::closeRequested, &window, [&] {
        ++requests;
        window.stationCloseFailed(u"No se pudo escribir camaras.txc"_s);
    });
    window.show();
    window.close();
    EXPECT_TRUE(window.isVisible());
    auto* box = window.findChild<QMessageBox*>(u"ErrorBox"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->isVisible(); }, kWaitMs));
    EXPECT_EQ(box->text(), u"No se pudo escribir camaras.txc"_s);

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
