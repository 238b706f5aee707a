#pragma once

#include <QMetaType>
#include <QString>

#include <vector>

namespace station {

// A rectangle as the window system gives it: right and bottom lie just outside.
struct PlacementRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    friend bool operator==(const PlacementRect&, const PlacementRect&) = default;
};

enum class WindowState { Normal, Minimized, Maximized };

// The main window's placement as the settings store keeps it. A front end hands in the current one
// at the close and gets the one to apply back from the restore. The normal rectangle is the
// window's area without its frame.
struct WindowPlacement {
    static constexpr int kShowNormal = 1;
    static constexpr int kShowMinimized = 2;
    static constexpr int kShowMaximized = 3;
    static constexpr int kDefaultPixelsPerInch = 96;
    // The window as designed: its client area, at the place it was designed at.
    static constexpr PlacementRect kDesignedRect{0, 0, 773, 491};

    int showCmd = kShowNormal;
    int flags = 0;
    int pixelsPerInch = kDefaultPixelsPerInch;
    // Where the window goes when minimized and when maximized; -1 while the window system has
    // not chosen.
    int minX = -1;
    int minY = -1;
    int maxX = -1;
    int maxY = -1;
    PlacementRect normPos = kDesignedRect;
    QString activeControl; // the control that had the focus; empty when none had it

    // A window at its designed size that was never moved: what the console front end stores, and
    // what a window starts from.
    static WindowPlacement designed(int pixelsPerInch = kDefaultPixelsPerInch) {
        WindowPlacement p;
        p.pixelsPerInch = pixelsPerInch;
        return p;
    }

    // A window to be minimized is shown normal and the application is minimized after it.
    WindowState state() const {
        switch (showCmd) {
        case kShowMinimized:
            return WindowState::Minimized;
        case kShowMaximized:
            return WindowState::Maximized;
        default:
            return WindowState::Normal;
        }
    }

    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// What the front end knows of the screen at the first show.
struct ScreenLayout {
    int pixelsPerInch = WindowPlacement::kDefaultPixelsPerInch;
    std::vector<PlacementRect> monitors; // each monitor's area in desktop coordinates
};

} // namespace station

// The placement crosses from the core's thread to the window's in a queued signal.
Q_DECLARE_METATYPE(station::WindowPlacement)
