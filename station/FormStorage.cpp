#include "station/FormStorage.h"

#include "base/Error.h"
#include "base/IntegerText.h"
#include "config/ConfigError.h"

#include <array>
#include <cmath>
#include <variant>

using namespace Qt::StringLiterals;

namespace station {

namespace {

using config::SettingId;

enum class Kind {
    Text,     // a setting's Text
    Real,     // a spin field's Value
    Lines,    // a memo's Lines
    Caption,  // a live panel field's Caption
    Lbcc,     // lbcc.Caption
    Items,    // logEthernet.Items
    PortInt,  // Baud, ComNumber, DataBits, StopBits
    Parity,   // an enumeration by name
    SoftFlow, // an enumeration by name
    HardFlow, // a set, as a sub-key
};

using PortInt = int config::SerialPortSettings::*;

// What a stored value is read into and written from: a setting (Text, Real, Lines), a panel field
// (Caption), one of the port's whole numbers (PortInt), or nothing more than its kind says.
using Target = std::variant<std::monostate, SettingId, Field, PortInt>;

struct Property {
    const char16_t* name;
    Kind kind;
    Target target;
};

constexpr std::size_t targetIndexFor(Kind kind) {
    switch (kind) {
    case Kind::Text:
    case Kind::Real:
    case Kind::Lines:
        return 1;
    case Kind::Caption:
        return 2;
    case Kind::PortInt:
        return 3;
    default:
        return 0;
    }
}

// clang-format off
constexpr std::array<Property, 41> kProperties{{
    {u"EdAsunto_Text",                   Kind::Text,     SettingId::EdAsunto},
    {u"EDFC128_Text",                    Kind::Text,     SettingId::EDFC128},
    {u"EDFHHH_Text",                     Kind::Text,     SettingId::EDFHHH},
    {u"EDFLLL_Text",                     Kind::Text,     SettingId::EDFLLL},
    {u"EDfPDF417_Text",                  Kind::Text,     SettingId::EDfPDF417},
    {u"EDFWWW_Text",                     Kind::Text,     SettingId::EDFWWW},
    {u"EdMailPass_Text",                 Kind::Text,     SettingId::EdMailPass},
    {u"EdMailport_Text",                 Kind::Text,     SettingId::EdMailport},
    {u"EdMailserver_Text",               Kind::Text,     SettingId::EdMailserver},
    {u"EdMailuser_Text",                 Kind::Text,     SettingId::EdMailuser},
    {u"Edpuerto_Text",                   Kind::Text,     SettingId::Edpuerto},
    {u"EdRemitente_Text",                Kind::Text,     SettingId::EdRemitente},
    {u"EdREsponder_A_Text",              Kind::Text,     SettingId::EdREsponder_A},
    {u"evc128_Value",                    Kind::Real,     SettingId::evc128},
    {u"EVhhh_Value",                     Kind::Real,     SettingId::EVhhh},
    {u"evlll_Value",                     Kind::Real,     SettingId::evlll},
    {u"evpdf417_Value",                  Kind::Real,     SettingId::evpdf417},
    {u"evwww_Value",                     Kind::Real,     SettingId::evwww},
    {u"lbcc_Caption",                    Kind::Lbcc,     {}},
    {u"Lbuenos_Caption",                 Kind::Caption,  Field::Lbuenos},
    {u"Lcalidad_Caption",                Kind::Caption,  Field::Lcalidad},
    {u"Lmalos_Caption",                  Kind::Caption,  Field::Lmalos},
    {u"Maillist_Lines",                  Kind::Lines,    SettingId::Maillist},
    {u"EvBCC_Value",                     Kind::Real,     SettingId::EvBCC},
    {u"EdSeparador_Text",                Kind::Text,     SettingId::EdSeparador},
    {u"EDFBCC_Text",                     Kind::Text,     SettingId::EDFBCC},
    {u"Gcm_Value",                       Kind::Real,     SettingId::Gcm},
    {u"EdIpserver_Text",                 Kind::Text,     SettingId::EdIpserver},
    {u"EdIDServidor_Text",               Kind::Text,     SettingId::EdIDServidor},
    {u"LogCamNombre_Lines",              Kind::Lines,    SettingId::LogCamNombre},
    {u"EdCarpeta_Destino_ethernet_Text", Kind::Text,     SettingId::EdCarpeta_Destino_ethernet},
    {u"ApdComPort1_Baud",                Kind::PortInt,  &config::SerialPortSettings::Baud},
    {u"ApdComPort1_ComNumber",           Kind::PortInt,  &config::SerialPortSettings::ComNumber},
    {u"ApdComPort1_DataBits",            Kind::PortInt,  &config::SerialPortSettings::DataBits},
    {u"ApdComPort1_HWFlowOptions",       Kind::HardFlow, {}},
    {u"ApdComPort1_Parity",              Kind::Parity,   {}},
    {u"ApdComPort1_StopBits",            Kind::PortInt,  &config::SerialPortSettings::StopBits},
    {u"ApdComPort1_SWFlowOptions",       Kind::SoftFlow, {}},
    {u"Eddb_Text",                       Kind::Text,     SettingId::Eddb},
    {u"logEthernet_Items",               Kind::Items,    {}},
    {u"edsepdim_Text",                   Kind::Text,     SettingId::edsepdim},
}};
// clang-format on

constexpr bool targetsMatchKinds() {
    for (const Property& p : kProperties) {
        if (p.target.index() != targetIndexFor(p.kind))
            return false;
    }
    return true;
}
static_assert(targetsMatchKinds(), "every stored property names the kind of target its kind reads");

constexpr std::array<const char16_t*, 5> kParityNames{u"pNone", u"pOdd", u"pEven", u"pMark", u"pSpace"};
constexpr std::array<const char16_t*, 4> kSoftFlowNames{u"swfNone", u"swfReceive", u"swfTransmit",
                                                        u"swfBoth"};
constexpr std::array<const char16_t*, 4> kHardFlowNames{u"hwfUseDTR", u"hwfUseRTS", u"hwfRequireDSR",
                                                        u"hwfRequireCTS"};

const QString kFormVersion = u"FormVersion"_s;
const QString kShowCmd = u"ShowCmd"_s;
const QString kFlags = u"Flags"_s;
const QString kPixelsPerInch = u"PixelsPerInch"_s;
const QString kMinMaxPos = u"MinMaxPos"_s;
const QString kNormPos = u"NormPos"_s;
const QString kActiveControl = u"ActiveControl"_s;
const QString kCount = u"Count"_s;

QString name(const Property& p) {
    return QString::fromUtf16(p.name);
}

QString subKey(const Property& p) {
    return FormStorage::kKey.toString() + u'\\' + name(p);
}

QString itemName(qsizetype index) {
    return u"Item"_s + QString::number(index);
}

[[noreturn]] void wrongKind(QStringView valueName) {
    throw config::ConfigError(u"Tipo de dato no válido para '%1'"_s.arg(valueName));
}

bool& hardFlowElement(config::HardwareFlow& flow, std::size_t index) {
    switch (index) {
    case 0:
        return flow.useDTR;
    case 1:
        return flow.useRTS;
    case 2:
        return flow.requireDSR;
    default:
        return flow.requireCTS;
    }
}

template <std::size_t N>
int enumIndex(const std::array<const char16_t*, N>& names, QStringView text, QStringView valueName) {
    for (std::size_t i = 0; i < N; ++i) {
        if (text.compare(QStringView(names[i]), Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    wrongKind(valueName);
}

bool setElement(QStringView text, QStringView valueName) {
    const QStringView t = text.trimmed();
    for (QStringView yes : {u"TRUE", u"YES", u"Y"}) {
        if (t.compare(yes, Qt::CaseInsensitive) == 0)
            return true;
    }
    for (QStringView no : {u"FALSE", u"NO", u"N"}) {
        if (t.compare(no, Qt::CaseInsensitive) == 0)
            return false;
    }
    bool ok = false;
    const int number = t.toInt(&ok);
    if (!ok)
        wrongKind(valueName);
    return number != 0;
}

// "%d,%d,%d,%d"; a part that is missing or not a number reads as 0.
std::array<int, 4> fourNumbers(QStringView text) {
    std::array<int, 4> n{};
    const QList<QStringView> parts = text.split(u',');
    for (qsizetype i = 0; i < std::min<qsizetype>(parts.size(), 4); ++i)
        n[static_cast<std::size_t>(i)] = parts[i].trimmed().toInt();
    return n;
}

QString fourNumbersText(int a, int b, int c, int d) {
    return u"%1,%2,%3,%4"_s.arg(a).arg(b).arg(c).arg(d);
}

bool onMonitor(const ScreenLayout& screen, int x, int y) {
    return std::any_of(screen.monitors.begin(), screen.monitors.end(),
                       [&](const PlacementRect& m) { return m.contains(x, y); });
}

// The index of an "ItemN" value name, or -1 for any other name.
qsizetype itemIndex(QStringView valueName) {
    if (!valueName.startsWith(u"Item", Qt::CaseInsensitive) || valueName.size() == 4 || valueName.size() > 13)
        return -1;
    qsizetype index = 0;
    for (const QChar c : valueName.sliced(4)) {
        if (c < u'0' || c > u'9')
            return -1;
        index = index * 10 + (c.unicode() - u'0');
    }
    return index;
}

// A text setting stored as a number (a port typed in as a DWORD) means that number.
QString readText(const config::SettingsStore& store, QStringView key, QStringView name) {
    try {
        return store.readString(key, name);
    } catch (const config::ConfigError&) {
        return QString::number(store.readInteger(key, name));
    }
}

// An integer stored as the text of one means that integer.
qint32 readNumber(const config::SettingsStore& store, QStringView key, QStringView name,
                  qint32 fallback = 0) {
    try {
        return store.readInteger(key, name, fallback);
    } catch (const config::ConfigError&) {
        try {
            const QString text = store.readString(key, name);
            return base::toInteger(text.trimmed());
        } catch (const base::Error&) {
            wrongKind(name);
        }
    }
}

QStringList readList(const config::SettingsStore& store, const QString& key) {
    // Items 0 to Count - 1, up to the last one the key holds: a Count beyond them names only
    // missing items, and those would come back as empty lines. A gap before the last keeps its
    // place, so that a camera name stays beside its address.
    const qint32 count = readNumber(store, key, kCount, 0);
    qsizetype end = 0;
    for (const QString& valueName : store.valueNames(key)) {
        const qsizetype index = itemIndex(valueName);
        if (index >= 0 && index < count)
            end = std::max(end, index + 1);
    }
    QStringList items;
    items.reserve(end);
    for (qsizetype i = 0; i < end; ++i)
        items.append(store.readString(key, itemName(i)));
    return items;
}

void writeList(config::SettingsStore& store, const QString& key, const QStringList& items) {
    for (qsizetype i = 0; i < items.size(); ++i)
        store.writeString(key, itemName(i), items[i]);
    store.deleteValues(key,
                       [size = items.size()](QStringView valueName) { return itemIndex(valueName) >= size; });
    store.writeInteger(key, kCount, static_cast<qint32>(items.size()));
}

} // namespace

FormStorage::FormStorage(config::SettingsStore& store, config::Settings& settings, LivePanel& panel,
                         RawLog& logEthernet, config::SerialPortSettings& port, base::ErrorReport& errors)
    : m_store(store)
    , m_settings(settings)
    , m_panel(panel)
    , m_logEthernet(logEthernet)
    , m_port(port)
    , m_errors(errors) {}

QStringList FormStorage::propertyNames() {
    QStringList names;
    for (const Property& p : kProperties)
        names.append(name(p));
    return names;
}

WindowPlacement FormStorage::restore(const ScreenLayout& screen) {
    m_restored = false;
    WindowPlacement placement = WindowPlacement::designed(screen.pixelsPerInch);
    load();
    try {
        if (m_store.readInteger(kKey, kFormVersion, 0) >= 0) {
            restorePlacement(screen, placement);
            restoreProperties();
            placement.activeControl = m_store.readString(kKey, kActiveControl);
        }
        m_restored = true;
    } catch (const std::exception& e) {
        m_errors.report(base::messageOf(e));
    }
    return placement;
}

void FormStorage::load() {
    m_loaded = true;
    if (const std::optional<QString> problem = m_store.load())
        m_errors.report(*problem);
}

void FormStorage::restorePlacement(const ScreenLayout& screen, WindowPlacement& placement) const {
    const qint32 flags = m_store.readInteger(kKey, kFlags, 0);
    const std::array<int, 4> minMax = fourNumbers(m_store.readString(
        kKey, kMinMaxPos, fourNumbersText(placement.minX, placement.minY, placement.maxX, placement.maxY)));
    const std::array<int, 4> norm = fourNumbers(m_store.readString(kKey, kNormPos));
    const qint32 ppi = m_store.readInteger(kKey, kPixelsPerInch, screen.pixelsPerInch);
    placement.flags = flags;
    placement.minX = minMax[0];
    placement.minY = minMax[1];
    placement.maxX = minMax[2];
    placement.maxY = minMax[3];
    const PlacementRect rect{norm[0], norm[1], norm[2], norm[3]};
    if (ppi == screen.pixelsPerInch && rect.left < rect.right && onMonitor(screen, rect.left, rect.top) &&
        onMonitor(screen, rect.right - 1, rect.bottom - 1))
        placement.normPos = rect;

    switch (m_store.readInteger(kKey, kShowCmd, WindowPlacement::kShowNormal)) {
    case 2:
    case 6:
    case 7:
        placement.showCmd = WindowPlacement::kShowMinimized;
        break;
    case 3:
        placement.showCmd = WindowPlacement::kShowMaximized;
        break;
    default:
        placement.showCmd = WindowPlacement::kShowNormal;
        break;
    }
}

void FormStorage::restoreProperties() {
    QStringList skipped;
    for (const Property& p : kProperties) {
        const QString valueName = name(p);
        const bool isSubKey = p.kind == Kind::Lines || p.kind == Kind::Items || p.kind == Kind::HardFlow;
        if (isSubKey ? !m_store.keyExists(subKey(p)) : !m_store.valueExists(kKey, valueName))
            continue;
        // A value of the wrong kind whose meaning is not plain leaves its property as it is; the
        // rest goes on.
        try {
            switch (p.kind) {
            case Kind::Text:
                m_settings.setText(std::get<SettingId>(p.target), readText(m_store, kKey, valueName));
                break;
            case Kind::Real: {
                const double value = m_store.readReal(kKey, valueName);
                if (!std::isfinite(value))
                    wrongKind(valueName);
                m_settings.setReal(std::get<SettingId>(p.target), value);
                break;
            }
            case Kind::Lines:
                m_settings.setLines(std::get<SettingId>(p.target),
                                    config::LineList::fromLines(readList(m_store, subKey(p))));
                break;
            case Kind::Caption:
                m_panel.setText(std::get<Field>(p.target), readText(m_store, kKey, valueName));
                break;
            case Kind::Lbcc:
                m_lbccCaption = readText(m_store, kKey, valueName);
                break;
            case Kind::Items:
                m_logEthernet.assign(readList(m_store, subKey(p)));
                break;
            case Kind::PortInt:
                m_port.*std::get<PortInt>(p.target) = readNumber(m_store, kKey, valueName);
                break;
            case Kind::Parity:
                m_port.parity = static_cast<config::Parity>(
                    enumIndex(kParityNames, m_store.readString(kKey, valueName), valueName));
                break;
            case Kind::SoftFlow:
                m_port.SWFlowOptions = static_cast<config::SoftwareFlow>(
                    enumIndex(kSoftFlowNames, m_store.readString(kKey, valueName), valueName));
                break;
            case Kind::HardFlow: {
                config::HardwareFlow flow = m_port.HWFlowOptions;
                for (std::size_t i = 0; i < kHardFlowNames.size(); ++i) {
                    const QString element = QString::fromUtf16(kHardFlowNames[i]);
                    if (m_store.valueExists(subKey(p), element))
                        hardFlowElement(flow, i) =
                            setElement(m_store.readString(subKey(p), element), element);
                }
                m_port.HWFlowOptions = flow;
                break;
            }
            }
        } catch (const config::ConfigError&) {
            skipped.append(valueName);
        }
    }
    if (skipped.isEmpty())
        return;
    // Said once for all of them; the file as it was is kept before the close writes the defaults
    // over those values.
    QString message =
        u"El archivo de configuraci\u00f3n \"%1\" tiene valores de un tipo que no corresponde (%2); "
        u"se dejaron con su valor por omisi\u00f3n."_s.arg(m_store.filePath(), skipped.join(u", "_s));
    try {
        if (const std::optional<QString> copy = m_store.keepCopy())
            message += u" Una copia del archivo tal como estaba qued\u00f3 en \"%1\"."_s.arg(*copy);
    } catch (const config::ConfigError& e) {
        message += u' ' + e.message();
    }
    m_errors.report(message, base::Priority::Warning);
}

bool FormStorage::store(const WindowPlacement& current) {
    // The store read at the first show is written back with this run's values over it; a run that
    // never got there reads it now, so that its single value does not wipe the rest.
    if (!m_loaded)
        load();
    try {
        m_store.writeInteger(kKey, kFormVersion, 0);
        if (m_restored) {
            m_store.writeInteger(kKey, kShowCmd, current.showCmd);
            m_store.writeInteger(kKey, kFlags, current.flags);
            m_store.writeInteger(kKey, kPixelsPerInch, current.pixelsPerInch);
            m_store.writeString(kKey, kMinMaxPos,
                                fourNumbersText(current.minX, current.minY, current.maxX, current.maxY));
            const PlacementRect& r = current.normPos;
            m_store.writeString(kKey, kNormPos, fourNumbersText(r.left, r.top, r.right, r.bottom));
            if (!current.activeControl.isEmpty())
                m_store.writeString(kKey, kActiveControl, current.activeControl);
            writeProperties();
        }
        m_store.save();
        return true;
    } catch (const std::exception& e) {
        m_errors.report(base::messageOf(e));
    }
    return false;
}

void FormStorage::writeProperties() {
    for (const Property& p : kProperties) {
        const QString valueName = name(p);
        switch (p.kind) {
        case Kind::Text:
            m_store.writeString(kKey, valueName, m_settings.text(std::get<SettingId>(p.target)));
            break;
        case Kind::Real:
            m_store.writeReal(kKey, valueName, m_settings.real(std::get<SettingId>(p.target)));
            break;
        case Kind::Lines:
            writeList(m_store, subKey(p), m_settings.lines(std::get<SettingId>(p.target)).lines());
            break;
        case Kind::Caption:
            m_store.writeString(kKey, valueName, m_panel.text(std::get<Field>(p.target)));
            break;
        case Kind::Lbcc:
            m_store.writeString(kKey, valueName, m_lbccCaption);
            break;
        case Kind::Items:
            writeList(m_store, subKey(p), m_logEthernet.entries());
            break;
        case Kind::PortInt:
            m_store.writeInteger(kKey, valueName, m_port.*std::get<PortInt>(p.target));
            break;
        case Kind::Parity:
            m_store.writeString(kKey, valueName,
                                QString::fromUtf16(kParityNames[static_cast<std::size_t>(m_port.parity)]));
            break;
        case Kind::SoftFlow:
            m_store.writeString(
                kKey, valueName,
                QString::fromUtf16(kSoftFlowNames[static_cast<std::size_t>(m_port.SWFlowOptions)]));
            break;
        case Kind::HardFlow:
            for (std::size_t i = 0; i < kHardFlowNames.size(); ++i)
                m_store.writeString(subKey(p), QString::fromUtf16(kHardFlowNames[i]),
                                    hardFlowElement(m_port.HWFlowOptions, i) ? u"TRUE" : u"FALSE");
            break;
        }
    }
}

} // namespace station
