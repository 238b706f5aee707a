#pragma once

#include <QMetaType>
#include <QStringView>

#include <array>
#include <cstddef>

namespace config {

enum class Parity { None, Odd, Even, Mark, Space };

// The parities' names as the operator reads them, in the order of Parity.
inline constexpr std::array<QStringView, 5> kParityNames{u"Ninguno", u"Impar", u"Par", u"Marca", u"Espacio"};

constexpr QStringView parityLabel(Parity parity) {
    return kParityNames[static_cast<std::size_t>(parity)];
}
enum class SoftwareFlow { None, Receive, Transmit, Both };

// Hardware flow options, a set.
struct HardwareFlow {
    bool useDTR = false;
    bool useRTS = false;
    bool requireDSR = false;
    bool requireCTS = false;
    friend bool operator==(const HardwareFlow&, const HardwareFlow&) = default;
};

// The serial port's parameters (`ApdComPort1`), with the values that hold when nothing is stored.
struct SerialPortSettings {
    int ComNumber = 0; // n opens COMn; 0 means no port
    int Baud = 19200;
    int DataBits = 8;
    Parity parity = Parity::None;
    int StopBits = 1;
    HardwareFlow HWFlowOptions;
    SoftwareFlow SWFlowOptions = SoftwareFlow::None;
    friend bool operator==(const SerialPortSettings&, const SerialPortSettings&) = default;
};

} // namespace config

Q_DECLARE_METATYPE(config::SerialPortSettings)
