#include "config/Settings.h"

#include <stdexcept>

namespace config {

namespace {

constexpr double kNoLimit = 2147483647.0;

using K = SettingKind;
using S = SettingId;

// clang-format off
constexpr SettingDefinition kDefinitions[] = {
    // id                 name                    caption                   kind     text                   real  chk    min  max      shown  stored
    {S::EDFHHH,        u"EDFHHH",        u"HHH:",             K::Text,  u"?",                  0,    false, 0,   0,        true,  true},
    {S::EVhhh,         u"EVhhh",         u"HHH:",             K::Real,  u"",                   5,    false, 0,   kNoLimit, true,  true},
    {S::EDFLLL,        u"EDFLLL",        u"LLL:",             K::Text,  u"?",                  0,    false, 0,   0,        false, true},
    {S::evlll,         u"evlll",         u"LLL:",             K::Real,  u"",                   5,    false, 0,   kNoLimit, false, true},
    {S::EDFWWW,        u"EDFWWW",        u"WWW:",             K::Text,  u"?",                  0,    false, 0,   0,        false, true},
    {S::evwww,         u"evwww",         u"WWW:",             K::Real,  u"",                   5,    false, 0,   kNoLimit, false, true},
    {S::EDfPDF417,     u"EDfPDF417",     u"PDF 417:",         K::Text,  u"?",                  0,    false, 0,   0,        true,  true},
    {S::evpdf417,      u"evpdf417",      u"PDF 417:",         K::Real,  u"",                   5,    false, 0,   kNoLimit, true,  true},
    {S::EDFC128,       u"EDFC128",       u"C128:",            K::Text,  u"?",                  0,    false, 0,   0,        true,  true},
    {S::evc128,        u"evc128",        u"C128:",            K::Real,  u"",                   5,    false, 0,   kNoLimit, true,  true},
    {S::EDFBCC,        u"EDFBCC",        u"",                 K::Text,  u"?",                  0,    false, 0,   0,        false, true},
    {S::EvBCC,         u"EvBCC",         u"",                 K::Real,  u"",                   5,    false, 0,   kNoLimit, false, true},
    {S::EdSeparador,   u"EdSeparador",   u"Separador campo:", K::Text,  u"!",                  0,    false, 0,   0,        true,  true},
    {S::edsepdim,      u"edsepdim",      u"Sep dim:",         K::Text,  u"x",                  0,    false, 0,   0,        true,  true},
    {S::Gcm,           u"Gcm",           u"Grabar cada (min):", K::Real, u"",                  10,   false, 1,   150,      true,  true},
    {S::EdIDServidor,  u"EdIDServidor",  u"ID Servidor:",     K::Text,  u"Ruva1",              0,    false, 0,   0,        true,  true},
    {S::EdIpserver,    u"EdIpserver",    u"IP Servidor:",     K::Text,  u"127.0.0.1",          0,    false, 0,   0,        true,  true},
    {S::Edpuerto,      u"Edpuerto",      u"Puerto TCP:",      K::Text,  u"5010",               0,    false, 0,   0,        true,  true},
    {S::LogiPs,        u"LogiPs",        u"IP Camaras:",      K::Lines, u"192.168.1.4\r\n192.168.1.255\r\n*\r\n", 0, false, 0, 0, true, false},
    {S::LogCamNombre,  u"LogCamNombre",  u"Nombre Camaras:",  K::Lines, u"192.168.1.4\r\n192.168.1.255\r\n*\r\n", 0, false, 0, 0, true, true},
    {S::EdCarpetaBase, u"EdCarpetaBase", u"Carpeta Base:",    K::Text,  u"Datos Orvane",       0,    false, 0,   0,        true,  false},
    {S::Eddb,          u"Eddb",          u"Base de datos:",   K::Text,  u"ROVEZOD30.FDB",      0,    false, 0,   0,        true,  true},
    {S::ChkVdos,       u"ChkVdos",       u"Ver datos en pantalla", K::Check, u"",              0,    true,  0,   0,        true,  false},
    {S::EdMailserver,  u"EdMailserver",  u"Servidor de email:", K::Text, u"localhost",         0,    false, 0,   0,        false, true},
    {S::EdMailport,    u"EdMailport",    u"Puerto email:",    K::Text,  u"25",                 0,    false, 0,   0,        false, true},
    {S::EdMailuser,    u"EdMailuser",    u"Usuario:",         K::Text,  u"estacion",           0,    false, 0,   0,        false, true},
    {S::EdMailPass,    u"EdMailPass",    u"Clave:",           K::Text,  u"q815027394",         0,    false, 0,   0,        false, true},
    {S::EdRemitente,   u"EdRemitente",   u"Remitente:",       K::Text,  u"estacion@localhost", 0,    false, 0,   0,        false, true},
    {S::EdREsponder_A, u"EdREsponder_A", u"Responder a:",     K::Text,  u"estacion@localhost", 0,    false, 0,   0,        false, true},
    {S::EdAsunto,      u"EdAsunto",      u"Asunto:",          K::Text,  u"Fallas de lectura",  0,    false, 0,   0,        false, true},
    {S::Maillist,      u"Maillist",      u"E-mail",           K::Lines, u"supervisor@localhost\r\nmantenimiento@localhost\r\n", 0, false, 0, 0, false, true},
    {S::EdCarpeta_Destino_ethernet, u"EdCarpeta_Destino_ethernet", u"Carpeta destino Ethernet:", K::Text, u"Ethernet", 0, false, 0, 0, false, true},
    {S::edCarpeta_destino_rs232,    u"edCarpeta_destino_rs232",    u"Carpeta destino Rs232:",    K::Text, u"RS232",    0, false, 0, 0, false, false},
    {S::Mturno,        u"Mturno",        u"",                 K::Lines, u"0\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n11\r\n", 0, false, 0, 0, false, false},
};
// clang-format on

static_assert(std::size(kDefinitions) == kSettingCount);

constexpr bool definitionsInOrder() {
    for (int i = 0; i < kSettingCount; ++i) {
        if (static_cast<int>(kDefinitions[i].id) != i)
            return false;
    }
    return true;
}
static_assert(definitionsInOrder());

} // namespace

Settings::Settings(QObject* parent)
    : QObject(parent) {
    restoreDefaults();
}

std::span<const SettingDefinition> Settings::definitions() {
    return kDefinitions;
}

const SettingDefinition& Settings::definition(SettingId id) {
    return kDefinitions[static_cast<int>(id)];
}

void Settings::restoreDefaults() {
    for (const SettingDefinition& d : kDefinitions) {
        switch (d.kind) {
        case SettingKind::Text:
            assign(d.id, QString::fromUtf16(d.defaultText));
            break;
        case SettingKind::Real:
            assign(d.id, d.defaultReal);
            break;
        case SettingKind::Lines:
            assign(d.id, LineList(QString::fromUtf16(d.defaultText)));
            break;
        case SettingKind::Check:
            assign(d.id, d.defaultChecked);
            break;
        }
    }
}

const Settings::Value& Settings::slot(SettingId id, SettingKind kind) const {
    if (definition(id).kind != kind)
        throw std::logic_error("setting read as the wrong kind");
    return m_values[static_cast<int>(id)];
}

const QString& Settings::text(SettingId id) const {
    return std::get<QString>(slot(id, SettingKind::Text));
}
double Settings::real(SettingId id) const {
    return std::get<double>(slot(id, SettingKind::Real));
}
const LineList& Settings::lines(SettingId id) const {
    return std::get<LineList>(slot(id, SettingKind::Lines));
}
bool Settings::checked(SettingId id) const {
    return std::get<bool>(slot(id, SettingKind::Check));
}

void Settings::setText(SettingId id, QString text) {
    slot(id, SettingKind::Text);
    assign(id, std::move(text));
}

void Settings::setReal(SettingId id, double value) {
    slot(id, SettingKind::Real);
    assign(id, value);
}

void Settings::setLines(SettingId id, LineList lines) {
    slot(id, SettingKind::Lines);
    assign(id, std::move(lines));
}

void Settings::setChecked(SettingId id, bool checked) {
    slot(id, SettingKind::Check);
    assign(id, checked);
}

QVariant Settings::value(SettingId id) const {
    switch (definition(id).kind) {
    case SettingKind::Text:
        return text(id);
    case SettingKind::Real:
        return real(id);
    case SettingKind::Lines:
        return lines(id).text();
    case SettingKind::Check:
        return checked(id);
    }
    return {};
}

void Settings::setValue(SettingId id, const QVariant& value) {
    switch (definition(id).kind) {
    case SettingKind::Text:
        setText(id, value.toString());
        break;
    case SettingKind::Real:
        setReal(id, value.toDouble());
        break;
    case SettingKind::Lines:
        setLines(id, LineList(value.toString()));
        break;
    case SettingKind::Check:
        setChecked(id, value.toBool());
        break;
    }
}

void Settings::assign(SettingId id, Value value) {
    m_values[static_cast<int>(id)] = std::move(value);
    Q_EMIT changed(id, this->value(id));
}

} // namespace config
