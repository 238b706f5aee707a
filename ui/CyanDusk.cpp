#include "ui/CyanDusk.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

using namespace Qt::StringLiterals;

namespace ui {

namespace {

QPalette cyanDuskPalette() {
    const QColor window(0x16, 0x3a, 0x40);
    const QColor base(0x0f, 0x2b, 0x30);
    const QColor text(0xdc, 0xf2, 0xf2);
    const QColor button(0x1f, 0x4f, 0x57);
    const QColor highlight(0x3a, 0xa8, 0xae);
    const QColor muted(0x7f, 0x9c, 0xa0);

    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window.lighter(115));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(0xff, 0xd0, 0x70));
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, QColor(0x06, 0x18, 0x1b));
    p.setColor(QPalette::ToolTipBase, QColor(0xe6, 0xf7, 0xf7));
    p.setColor(QPalette::ToolTipText, base);
    p.setColor(QPalette::PlaceholderText, muted);
    p.setColor(QPalette::Light, button.lighter(140));
    p.setColor(QPalette::Midlight, button.lighter(120));
    p.setColor(QPalette::Mid, button.darker(130));
    p.setColor(QPalette::Dark, window.darker(160));
    p.setColor(QPalette::Shadow, QColor(0x05, 0x10, 0x12));
    p.setColor(QPalette::Link, QColor(0x7f, 0xe0, 0xe6));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, muted);
    return p;
}

// Only what the palette cannot say: the values stand out from their captions, the bottom tabs read
// as tabs.
constexpr char16_t kSheet[] = uR"(
QLabel[role="value"] { color: #9ff3f5; font-weight: bold; }
QLabel[role="version"] { color: #7fc9cc; font-style: italic; }
QFrame#Label54Frame { background: #0b2226; border: 1px solid #2d6a72; }
QTabBar::tab { background: #1f4f57; color: #dcf2f2; padding: 4px 14px; border: 1px solid #2d6a72; }
QTabBar::tab:selected { background: #3aa8ae; color: #06181b; }
QStatusBar QLabel { border: 1px solid #2d6a72; padding: 0 4px; }
)";

} // namespace

QString applyCyanDusk(QApplication& application) {
    QStyle* const fusion = QStyleFactory::create(u"Fusion"_s);
    if (!fusion)
        return u"No se encontr\u00f3 el estilo visual \"%1\"; se usa el estilo del sistema."_s.arg(
            QString::fromUtf16(kCyanDuskName));
    QApplication::setStyle(fusion); // the application owns it from here
    QApplication::setPalette(cyanDuskPalette());
    application.setStyleSheet(QString::fromUtf16(kSheet));
    return {};
}

} // namespace ui
