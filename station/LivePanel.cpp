#include "station/LivePanel.h"

#include "base/IntegerText.h"

using namespace Qt::StringLiterals;

namespace station {

namespace {

using F = Field;

// clang-format off
constexpr FieldDefinition kFields[] = {
    {F::Lfecha,      u"Lfecha",      u"Fecha hora:",       u"Fecha hora:",        true},
    {F::Lorigen,     u"Lorigen",     u"Origen:",           u"Origen",             true},
    {F::Lseq,        u"Lseq",        u"Seq:",              u"Seq#:",              true},
    {F::LC128,       u"LC128",       u"C128(22):",         u"MAQUINA",            true},
    {F::lcc128,      u"lcc128",      u"",                  u"0",                  true},
    {F::LC128_32,    u"LC128_32",    u"C128(32):",         u"C128(32):",          true},
    {F::Lcc128_32,   u"Lcc128_32",   u"",                  u"0",                  true},
    {F::llll,        u"llll",        u"L:",                u"000",                true},
    {F::Lhhh,        u"Lhhh",        u"H:",                u"000",                true},
    {F::lwww,        u"lwww",        u"W:",                u"000",                true},
    {F::LCwww,       u"LCwww",       u"",                  u"0",                  true},
    {F::lpeso,       u"lpeso",       u"Peso:",             u"0",                  true},
    {F::lpesov,      u"lpesov",      u"Peso/V:",           u"0",                  true},
    {F::lplaza,      u"lplaza",      u"Plaza",             u"PDF 417:",           true},
    {F::LCPDF417,    u"LCPDF417",    u"",                  u"0",                  true},
    {F::lProcesados, u"lProcesados", u"Procesados:",       u"0",                  true},
    {F::lStatus,     u"lStatus",     u"       Estatus :",  u"OK",                 true},
    {F::Label54,     u"Label54",     u"",                  u"Dato analizado",     true},
    {F::fem,         u"fem",         u"EF:",               u"0",                  true},
    {F::fsm,         u"fsm",         u"",                  u"0",                  true},
    {F::Label1,      u"Label1",      u"",                  u"Puerto de escucha",  true},
    {F::Label51,     u"Label51",     u"",                  u"Puerto serial",      true},
    {F::Lbuenos,     u"Lbuenos",     u"Buenos:",           u"0",                  false},
    {F::Lmalos,      u"Lmalos",      u"Malos:",            u"0",                  false},
    {F::Lcalidad,    u"Lcalidad",    u"Calidad:",          u"100.00",             false},
    {F::lCHHH,       u"lCHHH",       u"",                  u"0",                  false},
    {F::lclll,       u"lclll",       u"",                  u"0",                  false},
    {F::Logflash,    u"Logflash",    u"",                  u"Log flash",          false},
    {F::LULE,        u"LULE",        u"Ultimo log E:",     u"UL Ethernet",        false},
    {F::LULR,        u"LULR",        u"Ultimo log R:",     u"UL Rs232",           false},
    {F::Fallas,      u"Fallas",      u"",                  u"",                   false},
};

constexpr LightDefinition kLights[] = {
    {Light::ASLStream, u"ASLStream", u""},
    {Light::LedOutput, u"LedOutput", u""},
    {Light::LedInput,  u"LedInput",  u"Dato conforme a especifici\u00f3n."},
    {Light::Leddeco,   u"Leddeco",   u"Decodificando"},
};
// clang-format on

static_assert(std::size(kFields) == kFieldCount);
static_assert(std::size(kLights) == kLightCount);

constexpr bool tablesInOrder() {
    for (int i = 0; i < kFieldCount; ++i) {
        if (static_cast<int>(kFields[i].field) != i)
            return false;
    }
    for (int i = 0; i < kLightCount; ++i) {
        if (static_cast<int>(kLights[i].light) != i)
            return false;
    }
    return true;
}
static_assert(tablesInOrder());

} // namespace

LivePanel::LivePanel(QObject* parent)
    : QObject(parent) {
    for (const FieldDefinition& d : kFields)
        m_texts[index(d.field)] = QString::fromUtf16(d.initial);
    for (int i = 0; i < kStatusPanelCount; ++i)
        m_status[i] = initialStatus(i);
}

const FieldDefinition& LivePanel::definition(Field field) {
    return kFields[index(field)];
}

const LightDefinition& LivePanel::definition(Light light) {
    return kLights[index(light)];
}

QString LivePanel::initialStatus(int panel) {
    return panel == 1 ? u"xx"_s : u"00"_s;
}

void LivePanel::setText(Field field, QString text) {
    QString& slot = m_texts[index(field)];
    slot = std::move(text);
    Q_EMIT fieldChanged(field, slot);
}

void LivePanel::increment(Field field) {
    // A 32-bit counter goes round after its largest value.
    setText(field,
            QString::number(static_cast<qint32>(static_cast<quint32>(base::toInteger(text(field))) + 1u)));
}

void LivePanel::setLit(Light light, bool lit) {
    m_lit[index(light)] = lit;
    Q_EMIT lightChanged(light, lit);
}

void LivePanel::setStatus(int panel, QString text) {
    QString& slot = m_status.at(panel);
    slot = std::move(text);
    Q_EMIT statusChanged(panel, slot);
}

} // namespace station
