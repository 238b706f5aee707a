#pragma once

#include <QColor>
#include <QWidget>

namespace ui {

// One of the panel's lights: a 13 x 13 square, red when lit, green when unlit.
class Lamp final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Lamp)

public:
    static constexpr int kSize = 13;
    static QColor litColor() { return {0xe0, 0x20, 0x20}; }
    static QColor unlitColor() { return {0x20, 0xc0, 0x40}; }

    explicit Lamp(QWidget* parent = nullptr);

    bool isLit() const { return m_lit; }
    void setLit(bool lit);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_lit = false;
};

} // namespace ui
