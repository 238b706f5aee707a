#include "ui/TFportselector.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

#include <array>

using namespace Qt::StringLiterals;

namespace ui {

namespace {

// The parity group's items, in the order the dialog lists them.
constexpr std::array kParities{config::Parity::Mark, config::Parity::Even, config::Parity::None,
                               config::Parity::Odd, config::Parity::Space};

QStringList portItems() {
    QStringList items{u"Ninguno"_s};
    for (int n = 1; n <= 17; ++n)
        items << u"Com %1"_s.arg(n);
    items[15] = u"Com15"_s; // as the dialog has always shown it; it still stands for port 15
    return items;
}

const QStringList kBaudItems{u"600"_s,   u"1200"_s,  u"2400"_s,  u"4800"_s,  u"9600"_s,
                             u"19200"_s, u"38400"_s, u"57600"_s, u"115200"_s};

void check(QButtonGroup* group, int index) {
    if (QAbstractButton* button = group->button(index))
        button->setChecked(true);
}

int indexOfText(const QButtonGroup* group, const QString& text) {
    for (QAbstractButton* button : group->buttons()) {
        if (button->text() == text)
            return group->id(button);
    }
    return -1;
}

int checkedNumber(const QButtonGroup* group) {
    return group->checkedButton()->text().toInt();
}

} // namespace

TFportselector::TFportselector(const config::SerialPortSettings& current, QWidget* parent)
    : QDialog(parent)
    , m_current(current) {
    setObjectName(u"Fportselector"_s);
    setWindowTitle(u"Selector de puertos"_s);
    setModal(true);

    QStringList parityItems;
    for (const config::Parity parity : kParities)
        parityItems << config::parityLabel(parity).toString();

    auto* layout = new QGridLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize); // a fixed border
    layout->addWidget(makeGroup(u"RGPuerto"_s, u"&Puerto"_s, portItems(), 2, m_puerto), 0, 0, 3, 1);
    layout->addWidget(makeGroup(u"RGBaudrate"_s, u"&Rata de baudios"_s, kBaudItems, 1, m_baudrate), 0, 1, 3,
                      1);
    layout->addWidget(makeGroup(u"RGDAtaBits"_s, u"&Data Bits"_s, {u"7"_s, u"8"_s}, 1, m_dataBits), 0, 2);
    layout->addWidget(makeGroup(u"RGParada"_s, u"&Bits de parada"_s, {u"0"_s, u"1"_s}, 1, m_parada), 1, 2);
    layout->addWidget(makeGroup(u"RGParidad"_s, u"P&aridad"_s, parityItems, 1, m_paridad), 2, 2);

    auto* ok = new QPushButton(u"ok  "_s, this);
    ok->setObjectName(u"JvHTButton1"_s);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 3, 0, 1, 3, Qt::AlignRight);

    check(m_puerto, std::min(current.ComNumber, 17));
    check(m_baudrate, indexOfText(m_baudrate, QString::number(current.Baud)));
    check(m_dataBits, current.DataBits - 7);
    check(m_parada, indexOfText(m_parada, QString::number(current.StopBits)));
    for (std::size_t i = 0; i < kParities.size(); ++i) {
        if (kParities[i] == current.parity)
            check(m_paridad, static_cast<int>(i));
    }
}

TFportselector::~TFportselector() = default;

QGroupBox* TFportselector::makeGroup(const QString& name, const QString& caption, const QStringList& items,
                                     int columns, QButtonGroup*& buttons) {
    auto* box = new QGroupBox(caption, this);
    box->setObjectName(name);
    buttons = new QButtonGroup(box);
    auto* grid = new QGridLayout(box);
    const int rows = static_cast<int>((items.size() + columns - 1) / columns);
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items[i], box);
        radio->setObjectName(name + QString::number(i));
        buttons->addButton(radio, i);
        // Items fill a column before the next one, as the groups always laid them out.
        grid->addWidget(radio, i % rows, i / rows);
    }
    return box;
}

config::SerialPortSettings TFportselector::selection() const {
    config::SerialPortSettings chosen = m_current;
    if (m_puerto->checkedId() >= 0)
        chosen.ComNumber = m_puerto->checkedId();
    if (m_baudrate->checkedId() >= 0)
        chosen.Baud = checkedNumber(m_baudrate);
    if (m_dataBits->checkedId() >= 0)
        chosen.DataBits = m_dataBits->checkedId() + 7;
    if (m_parada->checkedId() >= 0)
        chosen.StopBits = checkedNumber(m_parada);
    if (m_paridad->checkedId() >= 0)
        chosen.parity = kParities[static_cast<std::size_t>(m_paridad->checkedId())];
    return chosen;
}

void TFportselector::reject() {
    accept();
}

} // namespace ui
