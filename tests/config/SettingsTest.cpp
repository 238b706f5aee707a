#include "config/Settings.h"
#include "tests/support/QtPrinters.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using config::SettingId;
using config::Settings;

TEST(Settings, StartWithTheirDefaults) {
    const Settings s;
    EXPECT_EQ(s.text(SettingId::EdSeparador), u"!"_s);
    EXPECT_EQ(s.text(SettingId::edsepdim), u"x"_s);
    EXPECT_EQ(s.text(SettingId::EDFC128), u"?"_s);
    EXPECT_EQ(s.text(SettingId::Edpuerto), u"5010"_s);
    EXPECT_EQ(s.text(SettingId::Eddb), u"ROVEZOD30.FDB"_s);
    EXPECT_EQ(s.text(SettingId::EdCarpetaBase), u"Datos Orvane"_s);
    EXPECT_EQ(s.text(SettingId::EdAsunto), u"Fallas de lectura"_s);
    EXPECT_EQ(s.real(SettingId::Gcm), 10.0);
    EXPECT_EQ(s.real(SettingId::evc128), 5.0);
    EXPECT_TRUE(s.checked(SettingId::ChkVdos));
    EXPECT_EQ(s.lines(SettingId::LogiPs).lines(),
              (QStringList{u"192.168.1.4"_s, u"192.168.1.255"_s, u"*"_s}));
    EXPECT_EQ(s.lines(SettingId::LogiPs).text(), u"192.168.1.4\r\n192.168.1.255\r\n*\r\n"_s);
    EXPECT_EQ(s.lines(SettingId::Mturno).lines().size(), 12);
    EXPECT_EQ(Settings::definition(SettingId::Gcm).maximum, 150.0);
    EXPECT_FALSE(Settings::definition(SettingId::EdMailPass).shown);
    EXPECT_FALSE(Settings::definition(SettingId::EdCarpetaBase).stored);
}

TEST(Settings, ChangesNotifyAndReadingTheWrongKindIsAnError) {
    Settings s;
    QSignalSpy spy(&s, &Settings::changed);
    s.setValue(SettingId::EdSeparador, u"|"_s);
    s.setValue(SettingId::Gcm, 3.0);
    EXPECT_EQ(s.text(SettingId::EdSeparador), u"|"_s);
    EXPECT_EQ(s.real(SettingId::Gcm), 3.0);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).value<SettingId>(), SettingId::EdSeparador);
    EXPECT_THROW((void)s.text(SettingId::Gcm), std::logic_error);
}
