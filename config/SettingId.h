#pragma once

#include <QObject>

namespace config {
Q_NAMESPACE

// Every setting of the configuration tab, in screen order. The names are the controls' names.
enum class SettingId {
    EDFHHH,
    EVhhh,
    EDFLLL,
    evlll,
    EDFWWW,
    evwww,
    EDfPDF417,
    evpdf417,
    EDFC128,
    evc128,
    EDFBCC,
    EvBCC,
    EdSeparador,
    edsepdim,
    Gcm,
    EdIDServidor,
    EdIpserver,
    Edpuerto,
    LogiPs,
    LogCamNombre,
    EdCarpetaBase,
    Eddb,
    ChkVdos,
    EdMailserver,
    EdMailport,
    EdMailuser,
    EdMailPass,
    EdRemitente,
    EdREsponder_A,
    EdAsunto,
    Maillist,
    EdCarpeta_Destino_ethernet,
    edCarpeta_destino_rs232,
    Mturno, // hidden shift list, kept in "turno.txt" only
};
Q_ENUM_NS(SettingId)

inline constexpr int kSettingCount = static_cast<int>(SettingId::Mturno) + 1;

enum class SettingKind {
    Text,  // an edit field
    Real,  // a spin field: whole numbers held as a real
    Lines, // a memo: the text of its lines, each line end CR LF
    Check, // a check box
};

} // namespace config
