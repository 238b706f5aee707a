#include "ui/PlacementOnScreen.h"
#include "tests/support/QtPrinters.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using station::PlacementRect;
using station::WindowPlacement;

int currentDpi() {
    return qRound(QGuiApplication::primaryScreen()->logicalDotsPerInch());
}

// A window with a place of its own and a control that can take the focus.
struct Window {
    Window() {
        auto* layout = new QVBoxLayout(&widget);
        edit = new QLineEdit(&widget);
        edit->setObjectName(u"Edpuerto"_s);
        layout->addWidget(edit);
        widget.setGeometry(10, 20, 300, 200);
    }
    QWidget widget;
    QLineEdit* edit;
};

// The offscreen platform has one screen.
TEST(WindowPlacement, ScreenLayoutHoldsTheResolutionAndEveryScreen) {
    Window window;
    const station::ScreenLayout layout = ui::screenLayoutOf(window.widget);
    EXPECT_EQ(layout.pixelsPerInch, currentDpi());
    ASSERT_EQ(layout.monitors.size(), 1u);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_GT(screen.width(), 0);
    // Right and bottom lie just outside the screen.
    EXPECT_EQ(layout.monitors[0], (PlacementRect{screen.x(), screen.y(), screen.x() + screen.width(),
                                                 screen.y() + screen.height()}));
}

TEST(WindowPlacement, RoundTripsTheNormalRectangleAndFocus) {
    Window first;
    first.widget.setGeometry(40, 30, 500, 400);
    first.widget.show();
    first.edit->setFocus();
    const WindowPlacement stored = ui::placementOf(first.widget);
    EXPECT_EQ(stored.showCmd, 1);
    EXPECT_EQ(stored.flags, 0);
    EXPECT_EQ(stored.pixelsPerInch, currentDpi());
    EXPECT_EQ(stored.normPos, (PlacementRect{40, 30, 540, 430}));
    EXPECT_EQ(stored.activeControl, u"Edpuerto"_s);
    EXPECT_EQ(stored.maxX, -1);

    Window second;
    ui::applyPlacement(second.widget, stored);
    EXPECT_TRUE(second.widget.isVisible());
    EXPECT_EQ(second.widget.geometry(), QRect(40, 30, 500, 400));
    EXPECT_EQ(second.widget.focusWidget(), second.edit);
    EXPECT_EQ(ui::placementOf(second.widget), stored);
}

// The designed placement is a window of the designed size that was never moved: it keeps the place
// the window system gave it.
TEST(WindowPlacement, DesignedPlacementGivesTheDesignedSizeWherever) {
    Window window;
    ui::applyPlacement(window.widget, WindowPlacement::designed(currentDpi()));
    EXPECT_EQ(window.widget.geometry(), QRect(10, 20, 773, 491));
    EXPECT_EQ(window.widget.windowState(), Qt::WindowNoState);
}

// The core has already judged the rectangle: the window takes it as it comes, off the screen too.
TEST(WindowPlacement, DoesNotJudgeTheRectangleAgain) {
    WindowPlacement p;
    p.pixelsPerInch = currentDpi() + 24;
    p.normPos = {500, 60, 900, 360};
    Window window;
    ui::applyPlacement(window.widget, p);
    EXPECT_EQ(window.widget.geometry(), QRect(500, 60, 400, 300));
}

struct StateCase {
    const char* name;
    int showCmd;
    int flags;
    Qt::WindowStates state;
};

class PlacementState : public ::testing::TestWithParam<StateCase> {};

// Whatever the state, the normal rectangle survives it and comes back at the next store.
TEST_P(PlacementState, StateIsAppliedAndStoredBackWithTheNormalRectangle) {
    const StateCase& c = GetParam();
    WindowPlacement p;
    p.showCmd = c.showCmd;
    p.flags = c.flags;
    p.normPos = {50, 60, 450, 360};
    Window window;
    ui::applyPlacement(window.widget, p);
    EXPECT_EQ(window.widget.windowState(), c.state);

    const WindowPlacement back = ui::placementOf(window.widget);
    EXPECT_EQ(back.showCmd, c.showCmd);
    EXPECT_EQ(back.flags, c.flags);
    EXPECT_EQ(back.normPos, p.normPos);
    EXPECT_EQ(back.minX, -1);
    // Only a window that stands maximized knows where it stands.
    EXPECT_EQ(back.maxX != -1, c.state == Qt::WindowMaximized);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(ShowCmd, PlacementState, ::testing::Values(
    StateCase{"Normal", 1, 0, Qt::WindowNoState},
    StateCase{"Minimized", 2, 0, Qt::WindowMinimized},
    StateCase{"MinimizedFromMaximized", 2, 2, Qt::WindowMinimized | Qt::WindowMaximized},
    StateCase{"Maximized", 3, 0, Qt::WindowMaximized}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(WindowPlacement, FocusGoesOnlyToAControlThatCanTakeIt) {
    WindowPlacement p = WindowPlacement::designed(currentDpi());
    Window window;
    auto* other = new QLineEdit(&window.widget);
    other->setObjectName(u"Edmail"_s);
    window.widget.layout()->addWidget(other);
    window.widget.show();
    other->setFocus();

    window.edit->setEnabled(false);
    p.activeControl = u"Edpuerto"_s;
    ui::applyPlacement(window.widget, p);
    EXPECT_EQ(window.widget.focusWidget(), other);

    window.edit->setEnabled(true);
    window.edit->hide();
    ui::applyPlacement(window.widget, p);
    EXPECT_EQ(window.widget.focusWidget(), other);

    p.activeControl = u"NoSuchControl"_s;
    ui::applyPlacement(window.widget, p);
    EXPECT_EQ(window.widget.focusWidget(), other);

    window.edit->show();
    p.activeControl = u"Edpuerto"_s;
    ui::applyPlacement(window.widget, p);
    EXPECT_EQ(window.widget.focusWidget(), window.edit);
}

} // namespace
