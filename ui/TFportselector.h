#pragma once

#include "config/SerialPortSettings.h"

#include <QDialog>

class QButtonGroup;
class QGroupBox;

namespace ui {

// `TFportselector`, the serial port dialog: the port, speed, data bits, stop bits and parity as
// five groups of choices and one button. There is no cancel: closing it in any way applies the
// selection. Flow control is neither shown nor changed.
class TFportselector final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFportselector)

public:
    // Opens with every group showing `current`.
    explicit TFportselector(const config::SerialPortSettings& current, QWidget* parent = nullptr);
    ~TFportselector() override;

    // `current` with the selection applied: each setting is the selected item's. A group that shows
    // no choice, because the setting has a value none of its items stands for, leaves that setting
    // as it was. A port number above the last item opens on that item and becomes its number.
    config::SerialPortSettings selection() const;

    // The close box and Escape close the dialog as its button does.
    void reject() override;

private:
    QGroupBox* makeGroup(const QString& name, const QString& caption, const QStringList& items, int columns,
                         QButtonGroup*& buttons);

    config::SerialPortSettings m_current;
    QButtonGroup* m_puerto = nullptr;
    QButtonGroup* m_baudrate = nullptr;
    QButtonGroup* m_dataBits = nullptr;
    QButtonGroup* m_parada = nullptr;
    QButtonGroup* m_paridad = nullptr;
};

} // namespace ui
