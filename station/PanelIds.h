#pragma once

#include <QObject>

namespace station {
Q_NAMESPACE

// The text fields of the "Operación" tab, plus the hidden memo `Fallas` of the "Log ethernet" tab.
enum class Field {
    Lfecha,
    Lorigen,
    Lseq,
    LC128,
    lcc128,
    LC128_32,
    Lcc128_32,
    llll,
    Lhhh,
    lwww,
    LCwww,
    lpeso,
    lpesov,
    lplaza,
    LCPDF417,
    lProcesados,
    lStatus,
    Label54,
    fem,
    fsm,
    Label1,
    Label51,
    Lbuenos,
    Lmalos,
    Lcalidad,
    lCHHH,
    lclll,
    Logflash,
    LULE,
    LULR,
    Fallas,
};
Q_ENUM_NS(Field)

inline constexpr int kFieldCount = static_cast<int>(Field::Fallas) + 1;

// The four lights in the left margin, top to bottom.
enum class Light { ASLStream, LedOutput, LedInput, Leddeco };
Q_ENUM_NS(Light)

inline constexpr int kLightCount = 4;
inline constexpr int kStatusPanelCount = 3;

} // namespace station
