#include "ui/WindowFrontEnd.h"

#include "app/CoreStation.h"
#include "config/SettingsStore.h"
#include "station/FormStorage.h"
#include "tests/support/QtPrinters.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

using station::FormStorage;

constexpr int kWaitMs = 5000;

int currentDpi() {
    return qRound(QGuiApplication::primaryScreen()->logicalDotsPerInch());
}

// The window over a real core on its own thread, with the settings store in a temporary folder.
class WindowPlacementStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    void TearDown() override {
        // The station ends as it does for the operator: the core's close stops its timer on its
        // own thread.
        if (m_front && window().isVisible()) {
            window().close();
            EXPECT_TRUE(QTest::qWaitFor([&] { return !window().isVisible(); }, kWaitMs));
        }
        m_thread.quit();
        m_thread.wait();
        m_front.reset();
        m_core.reset();
    }

    QString storePath() const { return m_dir.filePath(u"OrvaneDB.reg"_s); }

    // Shows the window, starts the core and waits until the restored placement is on the window.
    void startStation() {
        m_core = std::make_unique<app::CoreStation>(storePath());
        m_front = std::make_unique<ui::WindowFrontEnd>(*m_core);
        m_core->moveToThread(&m_thread);
        m_thread.start();
        int restored = 0;
        // Connected after the front end's own connection, so it runs after the placement is applied.
        QObject::connect(m_core.get(), &app::CoreStation::placementRestored, &window(), [&] { ++restored; });
        window().show();
        m_front->startUp();
        ASSERT_TRUE(QTest::qWaitFor([&] { return restored == 1; }, kWaitMs));
    }

    ui::TVuruvov& window() { return m_front->window(); }

private:
    QTemporaryDir m_dir;
    QThread m_thread;
    std::unique_ptr<app::CoreStation> m_core;
    std::unique_ptr<ui::WindowFrontEnd> m_front;
};

TEST_F(WindowPlacementStore, StoredPlacementComesBackToTheWindow) {
    config::SettingsStore store(storePath());
    const QString key = FormStorage::kKey.toString();
    store.writeInteger(key, u"FormVersion"_s, 0);
    store.writeInteger(key, u"ShowCmd"_s, 3);
    store.writeInteger(key, u"Flags"_s, 0);
    store.writeInteger(key, u"PixelsPerInch"_s, currentDpi());
    store.writeString(key, u"MinMaxPos"_s, u"-1,-1,-1,-1");
    store.writeString(key, u"NormPos"_s, u"20,30,793,521");
    store.writeString(key, u"ActiveControl"_s, u"Button2");
    store.save();

    startStation();
    EXPECT_TRUE(window().isMaximized());
    EXPECT_EQ(window().normalGeometry(), QRect(20, 30, 773, 491));
    ASSERT_NE(window().focusWidget(), nullptr);
    EXPECT_EQ(window().focusWidget()->objectName(), u"Button2"_s);
}

TEST_F(WindowPlacementStore, CloseStoresWhereTheWindowIsNow) {
    startStation();
    window().setGeometry(70, 80, 600, 450);
    window().close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window().isVisible(); }, kWaitMs));

    config::SettingsStore store(storePath());
    ASSERT_FALSE(store.load().has_value());
    const QString key = FormStorage::kKey.toString();
    EXPECT_EQ(store.readInteger(key, u"ShowCmd"), 1);
    EXPECT_EQ(store.readInteger(key, u"PixelsPerInch"), currentDpi());
    EXPECT_EQ(store.readString(key, u"NormPos"), u"70,80,670,530"_s);
}

} // namespace
