#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using ui::WindowPlacement;

int currentDpi() {
    return qRound(QGuiApplication::primaryScreen()->logicalDotsPerInch());
}

// A window with a designed place and a control that can take the focus.
struct Window {
    Window() {
        auto* layout = new QVBoxLayout(&widget);
        edit = new QLineEdit(&widget);
        edit->setObjectName(QStringLiteral("Edpuerto"));
        layout->addWidget(edit);
        widget.setGeometry(10, 20, 300, 200);
    }
    QWidget widget;
    QLineEdit* edit;
};

TEST(WindowPlacement, RoundTripsTheNormalRectangleAndFocus) {
    Window first;
    first.widget.setGeometry(40, 30, 500, 400);
    first.widget.show();
    first.edit->setFocus();
    const WindowPlacement stored = ui::placementOf(first.widget);
    EXPECT_EQ(stored.showCmd, 1);
    EXPECT_EQ(stored.flags, 0);
    EXPECT_EQ(stored.pixelsPerInch, currentDpi());
    EXPECT_EQ(stored.normPosText(), QStringLiteral("40,30,540,430"));
    EXPECT_EQ(stored.activeControl, QStringLiteral("Edpuerto"));

    WindowPlacement read;
    ASSERT_TRUE(read.setNormPos(stored.normPosText()));
    ASSERT_TRUE(read.setMinMaxPos(stored.minMaxPosText()));
    read.pixelsPerInch = stored.pixelsPerInch;
    read.activeControl = stored.activeControl;
    Window second;
    ui::applyPlacement(second.widget, read);
    EXPECT_EQ(second.widget.geometry(), QRect(40, 30, 500, 400));
    second.widget.show();
    EXPECT_EQ(second.widget.focusWidget(), second.edit);
}

struct RectangleCase {
    const char* name;
    int dpiOffset;
    int left, top, right, bottom;
    bool applied;
};

class PlacementRectangle : public ::testing::TestWithParam<RectangleCase> {};

TEST_P(PlacementRectangle, AppliedOnlyAtTheSameResolutionAndOnAScreen) {
    const RectangleCase& c = GetParam();
    WindowPlacement p;
    p.pixelsPerInch = currentDpi() + c.dpiOffset;
    p.normLeft = c.left, p.normTop = c.top, p.normRight = c.right, p.normBottom = c.bottom;
    Window window;
    ui::applyPlacement(window.widget, p);
    const QRect expected =
        c.applied ? QRect(QPoint(c.left, c.top), QPoint(c.right - 1, c.bottom - 1)) : QRect(10, 20, 300, 200);
    EXPECT_EQ(window.widget.geometry(), expected);
}

// The offscreen platform has one 800 x 600 screen.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, PlacementRectangle, ::testing::Values(
    RectangleCase{"OnScreen", 0, 50, 60, 450, 360, true},
    RectangleCase{"OtherResolution", 24, 50, 60, 450, 360, false},
    RectangleCase{"LeftNotBeforeRight", 0, 450, 60, 450, 360, false},
    RectangleCase{"CornerOffTheScreen", 0, 500, 60, 900, 360, false},
    RectangleCase{"TopLeftOffTheScreen", 0, -300, 60, 100, 360, false},
    RectangleCase{"LastPixelOnTheScreen", 0, 0, 0, 800, 600, true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

struct StateCase {
    int showCmd;
    int flags;
    Qt::WindowStates state;
};

class PlacementState : public ::testing::TestWithParam<StateCase> {};

TEST_P(PlacementState, ShowCommandGivesTheWindowState) {
    WindowPlacement p;
    p.showCmd = GetParam().showCmd;
    p.flags = GetParam().flags;
    Window window;
    ui::applyPlacement(window.widget, p);
    EXPECT_EQ(window.widget.windowState(), GetParam().state);
}

INSTANTIATE_TEST_SUITE_P(
    ShowCmd, PlacementState,
    ::testing::Values(StateCase{1, 0, Qt::WindowNoState}, StateCase{5, 0, Qt::WindowNoState},
                      StateCase{9, 0, Qt::WindowNoState}, StateCase{2, 0, Qt::WindowMinimized},
                      StateCase{6, 0, Qt::WindowMinimized}, StateCase{7, 0, Qt::WindowMinimized},
                      StateCase{2, 2, Qt::WindowMinimized | Qt::WindowMaximized},
                      StateCase{3, 0, Qt::WindowMaximized}, StateCase{0, 0, Qt::WindowNoState}));

TEST(WindowPlacement, StoresTheStateItWasIn) {
    Window window;
    window.widget.setWindowState(Qt::WindowMaximized);
    EXPECT_EQ(ui::placementOf(window.widget).showCmd, 3);
    window.widget.setWindowState(Qt::WindowMinimized | Qt::WindowMaximized);
    const WindowPlacement p = ui::placementOf(window.widget);
    EXPECT_EQ(p.showCmd, 2);
    EXPECT_EQ(p.flags, WindowPlacement::kRestoreToMaximized);
    // The normal rectangle is kept whatever the state.
    EXPECT_EQ(p.normPosText(), QStringLiteral("10,20,310,220"));
}

TEST(WindowPlacement, PositionTextsMustHoldFourNumbers) {
    WindowPlacement p;
    EXPECT_TRUE(p.setNormPos(u"1,-2,3,4"));
    EXPECT_EQ(p.normTop, -2);
    const WindowPlacement before = p;
    for (const char16_t* bad : {u"1,2,3", u"1,2,3,4,5", u"a,2,3,4", u""})
        EXPECT_FALSE(p.setNormPos(bad)) << qPrintable(QString::fromUtf16(bad));
    EXPECT_EQ(p, before);
}

} // namespace
