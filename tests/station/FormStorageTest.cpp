#include "station/FormStorage.h"
#include "config/ExtendedReal.h"
#include "config/RegistryFile.h"
#include "tests/support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

using config::SettingId;
using station::FormStorage;
using station::PlacementRect;
using station::ScreenLayout;
using station::WindowPlacement;
using station::WindowState;

namespace {

const QString kKey = FormStorage::kKey.toString();
const ScreenLayout kScreen{96, {PlacementRect{0, 0, 1920, 1080}}};

// One run of the station: the objects the core owns, over one store file.
struct StationRun {
    explicit StationRun(const QString& path)
        : store(path) {}

    config::SettingsStore store;
    config::Settings settings;
    station::LivePanel panel;
    station::RawLog logEthernet;
    config::SerialPortSettings port;
    base::ErrorReport errors;
    QSignalSpy reported{&errors, &base::ErrorReport::reported};
    FormStorage form{store, settings, panel, logEthernet, port, errors};

    QStringList messages() const {
        QStringList m;
        for (const QList<QVariant>& args : reported)
            m.append(args.at(0).toString());
        return m;
    }
};

class FormStorageTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path() const { return m_dir.filePath(u"Tarvenix/OrvaneDB.reg"_s); }
    std::unique_ptr<StationRun> run() const { return std::make_unique<StationRun>(path()); }

    // The file as a fresh store reads it.
    config::SettingsStore saved() const {
        config::SettingsStore s(path());
        EXPECT_FALSE(s.load().has_value());
        return s;
    }

    // Writes values straight into the file, as an operator editing it would.
    QByteArray fileBytes(const QString& file = {}) const {
        QFile f(file.isEmpty() ? path() : file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    template <typename Edit> void edit(Edit&& e) const {
        config::SettingsStore s(path());
        EXPECT_FALSE(s.load().has_value());
        e(s);
        s.save();
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(FormStorageTest, AnEmptyStoreKeepsTheDefaultsAndTheCloseWritesEveryProperty) {
    auto r = run();
    const WindowPlacement placement = r->form.restore(kScreen);
    EXPECT_TRUE(r->reported.isEmpty());
    EXPECT_TRUE(r->form.restored());
    EXPECT_EQ(placement, WindowPlacement::designed());
    const config::Settings defaults;
    for (const config::SettingDefinition& d : config::Settings::definitions())
        EXPECT_EQ(r->settings.value(d.id), defaults.value(d.id)) << QString::fromUtf16(d.name).toStdString();
    EXPECT_EQ(r->port, config::SerialPortSettings{});
    EXPECT_EQ(r->panel.text(station::Field::Lcalidad), u"100.00"_s);
    EXPECT_EQ(r->form.lbccCaption(), u"BCC:"_s);

    ASSERT_TRUE(r->form.store(WindowPlacement::designed()));
    EXPECT_TRUE(r->reported.isEmpty());

    const config::SettingsStore s = saved();
    QStringList expected{u"FormVersion"_s,   u"ShowCmd"_s,   u"Flags"_s,
                         u"PixelsPerInch"_s, u"MinMaxPos"_s, u"NormPos"_s};
    for (const QString& name : FormStorage::propertyNames()) {
        if (!name.endsWith(u"_Lines"_s) && !name.endsWith(u"_Items"_s) && !name.endsWith(u"_HWFlowOptions"_s))
            expected.append(name);
    }
    EXPECT_EQ(s.valueNames(kKey), expected); // in order, and no ActiveControl without a focused control
    EXPECT_EQ(FormStorage::propertyNames().size(), 41);
    EXPECT_EQ(s.readString(kKey, u"NormPos"), u"0,0,773,491"_s);
    EXPECT_EQ(s.readString(kKey, u"MinMaxPos"), u"-1,-1,-1,-1"_s);
    EXPECT_EQ(s.readBinary(kKey, u"evc128_Value", 10), QByteArray::fromHex("00000000000000a00140"));
    EXPECT_EQ(s.readInteger(kKey, u"ApdComPort1_Baud"), 19200);
    EXPECT_EQ(s.readString(kKey, u"ApdComPort1_Parity"), u"pNone"_s);
    EXPECT_EQ(s.readString(kKey, u"ApdComPort1_SWFlowOptions"), u"swfNone"_s);
    EXPECT_EQ(s.valueNames(kKey + u"\\ApdComPort1_HWFlowOptions"_s),
              (QStringList{u"hwfUseDTR"_s, u"hwfUseRTS"_s, u"hwfRequireDSR"_s, u"hwfRequireCTS"_s}));
    EXPECT_EQ(s.readString(kKey + u"\\ApdComPort1_HWFlowOptions"_s, u"hwfUseDTR"), u"FALSE"_s);
    EXPECT_EQ(s.valueNames(kKey + u"\\logEthernet_Items"_s), QStringList{u"Count"_s});
    EXPECT_EQ(s.readInteger(kKey + u"\\logEthernet_Items"_s, u"Count", -1), 0);
    EXPECT_EQ(s.readInteger(kKey + u"\\Maillist_Lines"_s, u"Count"), 2);
    EXPECT_EQ(s.readString(kKey + u"\\Maillist_Lines"_s, u"Item1"), u"mantenimiento@localhost"_s);
}

TEST_F(FormStorageTest, AShorterListDeletesTheItemsTheLongerOneLeft) {
    {
        auto r = run();
        r->form.restore(kScreen);
        r->logEthernet.assign({u"uno"_s, u"dos"_s, u"tres"_s});
        r->settings.setLines(SettingId::Maillist,
                             config::LineList::fromLines({u"a@x"_s, u"b@x"_s, u"c@x"_s}));
        ASSERT_TRUE(r->form.store(WindowPlacement::designed()));
    }
    {
        auto r = run();
        r->form.restore(kScreen);
        EXPECT_EQ(r->logEthernet.entries(), (QStringList{u"uno"_s, u"dos"_s, u"tres"_s}));
        r->logEthernet.assign({u"solo"_s});
        r->settings.setLines(SettingId::Maillist, {});
        ASSERT_TRUE(r->form.store(WindowPlacement::designed()));
    }
    const config::SettingsStore s = saved();
    EXPECT_EQ(s.valueNames(kKey + u"\\logEthernet_Items"_s), (QStringList{u"Item0"_s, u"Count"_s}));
    EXPECT_EQ(s.readInteger(kKey + u"\\logEthernet_Items"_s, u"Count"), 1);
    EXPECT_EQ(s.readString(kKey + u"\\logEthernet_Items"_s, u"Item0"), u"solo"_s);
    EXPECT_EQ(s.valueNames(kKey + u"\\Maillist_Lines"_s), QStringList{u"Count"_s});

    auto r = run();
    r->form.restore(kScreen);
    EXPECT_EQ(r->logEthernet.entries(), QStringList{u"solo"_s});
    EXPECT_TRUE(r->settings.lines(SettingId::Maillist).lines().isEmpty()); // Count 0 restores an empty list
}

TEST_F(FormStorageTest, AValueOfAnotherKindIsTakenWhenPlainElseReportedOnceAndTheFileKept) {
    edit([](config::SettingsStore& s) {
        s.writeInteger(kKey, u"Edpuerto_Text"_s, 6000); // a number for a text: that number
        s.writeString(kKey, u"EdMailport_Text"_s, u"587");
        s.writeString(kKey, u"Gcm_Value"_s, u"30"); // wrong: a text for a real
        s.writeReal(kKey, u"evc128_Value"_s, 12);
        s.writeString(kKey, u"ApdComPort1_Baud"_s, u"9600"); // the text of an integer: that integer
        s.writeInteger(kKey, u"ApdComPort1_ComNumber"_s, 4);
        s.writeString(kKey, u"ApdComPort1_Parity"_s, u"pOdd");
        s.writeString(kKey, u"ApdComPort1_SWFlowOptions"_s, u"swfMaybe"); // wrong: no such element
        s.writeString(kKey + u"\\Maillist_Lines"_s, u"Count"_s, u"1");
        s.writeString(kKey + u"\\Maillist_Lines"_s, u"Item0"_s, u"x@y");
        s.writeInteger(kKey + u"\\LogCamNombre_Lines"_s, u"Count"_s, 1000); // more than it holds
        s.writeString(kKey + u"\\LogCamNombre_Lines"_s, u"Item0"_s, u"10.0.0.1=Norte");
        s.writeString(kKey, u"Lbuenos_Caption"_s, u"12");
    });
    const QByteArray before = fileBytes();
    auto r = run();
    r->form.restore(kScreen);
    EXPECT_TRUE(r->form.restored());
    const config::Settings defaults;
    EXPECT_EQ(r->settings.text(SettingId::Edpuerto), u"6000"_s);
    EXPECT_EQ(r->settings.text(SettingId::EdMailport), u"587"_s);
    EXPECT_EQ(r->settings.real(SettingId::Gcm), 10.0);
    EXPECT_EQ(r->settings.real(SettingId::evc128), 12.0);
    EXPECT_EQ(r->settings.lines(SettingId::Maillist).lines(), QStringList{u"x@y"_s});
    EXPECT_EQ(r->settings.lines(SettingId::LogCamNombre).lines(), QStringList{u"10.0.0.1=Norte"_s});
    EXPECT_EQ(r->port.Baud, 9600);
    EXPECT_EQ(r->port.ComNumber, 4);
    EXPECT_EQ(r->port.parity, config::Parity::Odd);
    EXPECT_EQ(r->port.SWFlowOptions, config::SoftwareFlow::None);
    EXPECT_EQ(r->panel.text(station::Field::Lbuenos), u"12"_s);

    // One report naming what was left; the file as it was is kept before the close writes over it.
    ASSERT_EQ(r->messages().size(), 1);
    const QString message = r->messages().first();
    EXPECT_TRUE(message.contains(u"Gcm_Value, ApdComPort1_SWFlowOptions"_s)) << qPrintable(message);
    const QStringList copies = QDir(QFileInfo(path()).path()).entryList({u"*.bak"_s}, QDir::Files);
    ASSERT_EQ(copies.size(), 1);
    EXPECT_TRUE(message.contains(copies.first())) << qPrintable(message);
    ASSERT_TRUE(r->form.store(WindowPlacement::designed()));
    EXPECT_EQ(fileBytes(QFileInfo(path()).path() + u'/' + copies.first()), before);
}

namespace {

struct ListCase {
    const char* name;
    qint32 count;
    std::vector<int> stored; // the item indexes the key holds; item i reads "i"
    QStringList restored;
};

void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.name;
}

class StoredListCase : public FormStorageTest, public ::testing::WithParamInterface<ListCase> {};

} // namespace

// The list comes back with the items the key holds and no more; the next store writes what came back.
TEST_P(StoredListCase, ComesBackWithTheItemsItHoldsAndIsStoredSo) {
    const ListCase& c = GetParam();
    const QString list = kKey + u"\\LogCamNombre_Lines"_s;
    edit([&](config::SettingsStore& s) {
        s.writeInteger(list, u"Count"_s, c.count);
        for (const int i : c.stored)
            s.writeString(list, u"Item"_s + QString::number(i), QString::number(i));
    });
    {
        auto r = run();
        r->form.restore(kScreen);
        EXPECT_EQ(r->settings.lines(SettingId::LogCamNombre).lines(), c.restored);
        ASSERT_TRUE(r->form.store(WindowPlacement::designed()));
    }
    const config::SettingsStore s = saved();
    EXPECT_EQ(s.readInteger(list, u"Count"), c.restored.size());
    EXPECT_FALSE(s.valueExists(list, u"Item"_s + QString::number(c.restored.size())));
}

INSTANTIATE_TEST_SUITE_P(Count, StoredListCase,
                         ::testing::Values(ListCase{"BeyondTheItems", 5, {0, 1, 2}, {u"0"_s, u"1"_s, u"2"_s}},
                                           ListCase{"FarBeyond", 1000, {0}, {u"0"_s}},
                                           ListCase{"BelowTheItems", 2, {0, 1, 2}, {u"0"_s, u"1"_s}},
                                           ListCase{"GapKeepsItsPlace", 3, {0, 2}, {u"0"_s, u""_s, u"2"_s}},
                                           ListCase{"Negative", -1, {0}, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

struct SetCase {
    const char16_t* stored;
    std::optional<bool> read; // none: not a set element, the property is skipped
};

class SetElementCase : public FormStorageTest, public ::testing::WithParamInterface<SetCase> {};

} // namespace

TEST_P(SetElementCase, IsReadAsTrueFalseOrANumber) {
    const SetCase& c = GetParam();
    edit([&](config::SettingsStore& s) {
        s.writeString(kKey + u"\\ApdComPort1_HWFlowOptions"_s, u"hwfRequireCTS"_s, QStringView(c.stored));
        s.writeString(kKey + u"\\ApdComPort1_HWFlowOptions"_s, u"hwfUseDTR"_s, u"TRUE");
    });
    auto r = run();
    r->port.HWFlowOptions.requireCTS = !c.read.value_or(false); // shows whether it was set
    const bool before = r->port.HWFlowOptions.requireCTS;
    r->form.restore(kScreen);
    if (c.read) {
        EXPECT_EQ(r->port.HWFlowOptions.requireCTS, *c.read);
        EXPECT_TRUE(r->port.HWFlowOptions.useDTR);
    } else {
        EXPECT_EQ(r->port.HWFlowOptions.requireCTS, before);
        EXPECT_FALSE(r->port.HWFlowOptions.useDTR); // the whole set is skipped
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, SetElementCase,
                         ::testing::Values(SetCase{u"TRUE", true}, SetCase{u"yes", true}, SetCase{u"y", true},
                                           SetCase{u"Yes", true}, SetCase{u"false", false},
                                           SetCase{u"No", false}, SetCase{u"n", false}, SetCase{u"1", true},
                                           SetCase{u"0", false}, SetCase{u"-3", true},
                                           SetCase{u"quizás", std::nullopt}, SetCase{u"", std::nullopt}));

namespace {

class WrongPlacementCase : public FormStorageTest, public ::testing::WithParamInterface<const char16_t*> {};

} // namespace

TEST_P(WrongPlacementCase, EndsTheRestoreAndTheCloseWritesOnlyFormVersion) {
    const QString wrong = QString::fromUtf16(GetParam());
    edit([&](config::SettingsStore& s) {
        s.writeInteger(kKey, u"FormVersion"_s, 0);
        s.writeInteger(kKey, u"ShowCmd"_s, 3);
        s.writeString(kKey, u"NormPos"_s, u"10,10,500,400");
        s.writeString(kKey, u"Edpuerto_Text"_s, u"6000");
        s.writeString(kKey, u"ActiveControl"_s, u"EdIpserver");
        s.writeInteger(kKey + u"\\logEthernet_Items"_s, u"Count"_s, 0);
        if (wrong == u"MinMaxPos" || wrong == u"NormPos" || wrong == u"ActiveControl")
            s.writeInteger(kKey, wrong, 1);
        else
            s.writeString(kKey, wrong, u"1");
    });
    const QByteArray before = config::RegistryFile::read(path()).toBytes();

    auto r = run();
    r->form.restore(kScreen);
    ASSERT_EQ(r->messages(), QStringList{u"Tipo de dato no válido para '%1'"_s.arg(wrong)});
    EXPECT_FALSE(r->form.restored());
    if (wrong != u"ActiveControl") { // the properties come before it
        EXPECT_EQ(r->settings.text(SettingId::Edpuerto), u"5010"_s);
    }

    r->logEthernet.assign({u"perdida"_s});
    ASSERT_TRUE(r->form.store(WindowPlacement::designed()));
    config::RegistryFile expected = config::RegistryFile::parse(before);
    expected.key(u"HKEY_CURRENT_USER\\"_s + kKey)->set(config::RegistryValue::dword(u"FormVersion"_s, 0));
    EXPECT_EQ(config::RegistryFile::read(path()).toBytes(), expected.toBytes());
}

INSTANTIATE_TEST_SUITE_P(Values, WrongPlacementCase,
                         ::testing::Values(u"FormVersion", u"Flags", u"MinMaxPos", u"NormPos",
                                           u"PixelsPerInch", u"ShowCmd", u"ActiveControl"));

namespace {

struct PlacementCase {
    const char* what;
    int storedPpi;
    const char16_t* normPos;
    int showCmd;
    bool applied;
    WindowState state;
};

class PlacementRuleCase : public FormStorageTest, public ::testing::WithParamInterface<PlacementCase> {};

} // namespace

TEST_P(PlacementRuleCase, AppliesTheNormalRectangleOnlyWhereItFits) {
    const PlacementCase& c = GetParam();
    edit([&](config::SettingsStore& s) {
        s.writeInteger(kKey, u"PixelsPerInch"_s, c.storedPpi);
        s.writeString(kKey, u"NormPos"_s, QStringView(c.normPos));
        s.writeInteger(kKey, u"ShowCmd"_s, c.showCmd);
        s.writeInteger(kKey, u"Flags"_s, 2);
    });
    // Two monitors side by side.
    const ScreenLayout screen{96, {PlacementRect{0, 0, 1920, 1080}, PlacementRect{1920, 0, 3200, 1024}}};
    auto r = run();
    const WindowPlacement p = r->form.restore(screen);
    EXPECT_TRUE(r->reported.isEmpty());
    EXPECT_EQ(p.state(), c.state);
    EXPECT_EQ(p.flags, 2);
    const QList<QStringView> n = QStringView(c.normPos).split(u',');
    const PlacementRect stored{n.value(0).toInt(), n.value(1).toInt(), n.value(2).toInt(),
                               n.value(3).toInt()};
    EXPECT_EQ(p.normPos, c.applied ? stored : WindowPlacement::kDesignedRect);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PlacementRuleCase,
    ::testing::Values(
        PlacementCase{"fits", 96, u"100,80,873,571", 1, true, WindowState::Normal},
        PlacementCase{"across two monitors", 96, u"1500,80,2500,571", 5, true, WindowState::Normal},
        PlacementCase{"other resolution", 120, u"100,80,873,571", 3, false, WindowState::Maximized},
        PlacementCase{"right not past left", 96, u"873,80,873,571", 9, false, WindowState::Normal},
        PlacementCase{"bottom right off screen", 96, u"2500,80,3300,571", 1, false, WindowState::Normal},
        PlacementCase{"in the gap under the smaller monitor", 96, u"2000,900,2400,1060", 1, false,
                      WindowState::Normal},
        PlacementCase{"top left off screen", 96, u"-50,80,700,571", 1, false, WindowState::Normal},
        PlacementCase{"minimized", 96, u"100,80,873,571", 2, true, WindowState::Minimized},
        PlacementCase{"minimized, not active", 96, u"100,80,873,571", 7, true, WindowState::Minimized},
        PlacementCase{"hidden", 96, u"100,80,873,571", 0, true, WindowState::Normal}),
    [](const ::testing::TestParamInfo<PlacementCase>& info) { return std::to_string(info.index); });

TEST_F(FormStorageTest, ANegativeFormVersionRestoresNothingAndTheCloseWritesEverything) {
    edit([](config::SettingsStore& s) {
        s.writeInteger(kKey, u"FormVersion"_s, -1);
        s.writeString(kKey, u"Edpuerto_Text"_s, u"6000");
    });
    auto r = run();
    r->form.restore(kScreen);
    EXPECT_TRUE(r->reported.isEmpty());
    EXPECT_EQ(r->settings.text(SettingId::Edpuerto), u"5010"_s);
    ASSERT_TRUE(r->form.store(WindowPlacement::designed()));
    EXPECT_EQ(saved().readInteger(kKey, u"FormVersion"), 0);
    EXPECT_EQ(saved().readString(kKey, u"Edpuerto_Text"), u"5010"_s);
}

TEST_F(FormStorageTest, AStoreThatCannotBeWrittenIsReportedAndTheCloseGoesOn) {
    auto r = run();
    r->form.restore(kScreen);
    // Something that is not a file has taken the store's place: the rename cannot go over it.
    ASSERT_TRUE(QDir().mkpath(path() + u"/ocupado"_s));
    r->settings.setText(SettingId::Edpuerto, u"7000"_s);
    EXPECT_FALSE(r->form.store(WindowPlacement::designed()));
    ASSERT_EQ(r->messages().size(), 1);
    EXPECT_TRUE(r->messages().first().startsWith(u"No se pudo guardar la configuración"_s))
        << r->messages().first().toStdString();
    EXPECT_TRUE(QFileInfo(path() + u"/ocupado"_s).isDir());
    EXPECT_EQ(QDir(QFileInfo(path()).absolutePath()).entryList(QDir::Files), QStringList());
}

TEST_F(FormStorageTest, RestoresAWindowsStationsExport) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path()).absolutePath()));
    ASSERT_TRUE(QFile::copy(QString::fromUtf8(ORVANE_TEST_DATA "/vuruvov-export.reg"), path()));
    QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    auto r = run();
    const WindowPlacement p = r->form.restore(kScreen);
    EXPECT_TRUE(r->reported.isEmpty()) << r->messages().join(u'\n').toStdString();
    EXPECT_EQ(p.state(), WindowState::Maximized);
    EXPECT_EQ(p.normPos, (PlacementRect{104, 78, 877, 569}));
    EXPECT_EQ(p.activeControl, u"EdIpserver"_s);
    EXPECT_EQ(r->settings.text(SettingId::Edpuerto), u"5020"_s);
    EXPECT_EQ(r->settings.text(SettingId::Eddb), u"localhost:c:\\ROVEZOD30.FDB"_s);
    EXPECT_EQ(r->settings.text(SettingId::EdMailPass), u"cl\"ave\\9"_s);
    EXPECT_EQ(r->settings.text(SettingId::EdAsunto), u"Fallas de lectura – línea 2"_s);
    EXPECT_EQ(r->settings.real(SettingId::Gcm), 150.0);
    EXPECT_EQ(r->settings.real(SettingId::evwww), 2.5);
    EXPECT_EQ(r->settings.real(SettingId::EVhhh), 0.0);
    EXPECT_EQ(r->settings.lines(SettingId::LogCamNombre).lines(),
              (QStringList{u"10.0.3.41=Cámara norte"_s, u"10.0.3.42=Cámara sur"_s, u"*"_s}));
    EXPECT_EQ(r->settings.lines(SettingId::Maillist).lines(),
              (QStringList{u"jefe.turno@ruva.local"_s, u"mantenimiento@ruva.local"_s}));
    EXPECT_EQ(r->logEthernet.size(), 2);
    EXPECT_EQ(r->panel.text(station::Field::Lmalos), u"37"_s);
    EXPECT_EQ(r->panel.text(station::Field::Lcalidad), u"97.57"_s);
    config::SerialPortSettings port;
    port.Baud = 9600;
    port.ComNumber = 3;
    port.parity = config::Parity::Even;
    port.HWFlowOptions.useDTR = true;
    port.HWFlowOptions.requireCTS = true;
    EXPECT_EQ(r->port, port);

    // Stored back unchanged, it holds the same values.
    WindowPlacement current = p;
    ASSERT_TRUE(r->form.store(current));
    const config::RegistryFile original =
        config::RegistryFile::read(QString::fromUtf8(ORVANE_TEST_DATA "/vuruvov-export.reg"));
    const config::RegistryFile written = config::RegistryFile::read(path());
    ASSERT_EQ(written.keys().size(), original.keys().size());
    for (const config::RegistryKey& k : original.keys()) {
        const config::RegistryKey* w = written.key(k.path);
        ASSERT_NE(w, nullptr) << k.path.toStdString();
        for (const config::RegistryValue& v : k.values()) {
            const config::RegistryValue* wv = w->find(v.name);
            ASSERT_NE(wv, nullptr) << v.name.toStdString();
            EXPECT_EQ(*wv, v) << v.name.toStdString();
        }
    }
}
