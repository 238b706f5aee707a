#include "ui/Lamp.h"

#include <QPainter>

namespace ui {

Lamp::Lamp(QWidget* parent)
    : QWidget(parent) {
    setFixedSize(kSize, kSize);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Lamp::setLit(bool lit) {
    if (lit == m_lit)
        return;
    m_lit = lit;
    update();
}

void Lamp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), m_lit ? litColor() : unlitColor());
    painter.setPen(QColor(0x10, 0x20, 0x24));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace ui
