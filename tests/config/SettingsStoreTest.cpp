#include "config/SettingsStore.h"
#include "config/ConfigError.h"
#include "config/ExtendedReal.h"
#include "tests/support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using config::ConfigError;
using config::SettingsStore;

namespace {

const QString kKey = u"Software\\Tarvenix\\OrvaneDB\\Vuruvov"_s;

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path() const { return m_dir.filePath(u"OrvaneDB.reg"_s); }
    SettingsStore makeStore() const {
        return SettingsStore(path(), [] { return QDateTime(QDate(2024, 3, 7), QTime(18, 5, 9)); });
    }
    void writeFile(const QByteArray& bytes) const {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray readFile(const QString& name) const {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList files() const { return QDir(m_dir.path()).entryList(QDir::Files, QDir::Name); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SettingsStoreTest, ReadsEachKindWithItsDefaultAndRefusesAnotherKind) {
    SettingsStore store = makeStore();
    EXPECT_FALSE(store.load().has_value());
    EXPECT_EQ(store.readString(kKey, u"EdAsunto_Text", u"Fallas"_s), u"Fallas"_s);
    EXPECT_EQ(store.readInteger(kKey, u"ApdComPort1_Baud", 19200), 19200);
    EXPECT_EQ(store.readReal(kKey, u"Gcm_Value", 10.0), 10.0);
    EXPECT_FALSE(store.keyExists(u"Software\\Tarvenix"));

    store.writeString(kKey, u"EdAsunto_Text"_s, u"Asunto");
    store.writeInteger(kKey, u"FormVersion"_s, -1);
    store.writeReal(kKey, u"Gcm_Value"_s, 150.0);
    store.writeBinary(kKey, u"Corto"_s, QByteArray("\x01\x02", 2));
    EXPECT_TRUE(store.keyExists(u"Software\\Tarvenix"));
    EXPECT_TRUE(store.keyExists(u"\\software\\tarvenix\\orvanedb\\vuruvov\\"));
    EXPECT_TRUE(store.valueExists(kKey, u"edasunto_text"));
    EXPECT_EQ(store.valueNames(kKey),
              (QStringList{u"EdAsunto_Text"_s, u"FormVersion"_s, u"Gcm_Value"_s, u"Corto"_s}));
    EXPECT_EQ(store.readInteger(kKey, u"FormVersion"), -1);
    EXPECT_EQ(store.readBinary(kKey, u"Gcm_Value", 10), config::ExtendedReal::encode(150.0));

    EXPECT_THROW((void)store.readInteger(kKey, u"EdAsunto_Text"), ConfigError);
    EXPECT_THROW((void)store.readString(kKey, u"FormVersion"), ConfigError);
    EXPECT_THROW((void)store.readReal(kKey, u"Corto"), ConfigError); // not 10 bytes
    EXPECT_THROW((void)store.readReal(kKey, u"EdAsunto_Text"), ConfigError);
    EXPECT_THROW(store.writeString(u"Software\\\\Tarvenix", u"x"_s, u"y"), ConfigError);

    EXPECT_TRUE(store.deleteValue(kKey, u"CORTO"));
    EXPECT_FALSE(store.deleteValue(kKey, u"Corto"));
    EXPECT_FALSE(store.valueExists(kKey, u"Corto"));

    store.save();
    SettingsStore again = makeStore();
    EXPECT_FALSE(again.load().has_value());
    EXPECT_EQ(again.readString(kKey, u"EdAsunto_Text"), u"Asunto"_s);
    EXPECT_EQ(again.readReal(kKey, u"Gcm_Value"), 150.0);
    EXPECT_EQ(again.valueNames(kKey), (QStringList{u"EdAsunto_Text"_s, u"FormVersion"_s, u"Gcm_Value"_s}));
}

TEST_F(SettingsStoreTest, AFileThatIsNoExportIsSetAsideAsADatedCopyAndTheStoreStartsEmpty) {
    static constexpr char kGarbage[] = "\x00\x01 esto no es un registro";
    const QByteArray garbage(kGarbage, sizeof kGarbage - 1);
    writeFile(garbage);
    SettingsStore store = makeStore();
    const std::optional<QString> problem = store.load();
    ASSERT_TRUE(problem.has_value());
    EXPECT_TRUE(problem->contains(u"OrvaneDB.reg.20240307-180509.bak"_s)) << problem->toStdString();
    EXPECT_EQ(files(), QStringList{u"OrvaneDB.reg.20240307-180509.bak"_s});
    EXPECT_EQ(readFile(u"OrvaneDB.reg.20240307-180509.bak"_s), garbage);
    EXPECT_FALSE(store.keyExists(u"Software"));

    store.writeString(kKey, u"Edpuerto_Text"_s, u"5010");
    store.save();
    EXPECT_EQ(readFile(u"OrvaneDB.reg.20240307-180509.bak"_s), garbage);

    // A second bad file in the same second does not replace the first copy.
    writeFile(garbage + "!");
    ASSERT_TRUE(makeStore().load().has_value());
    EXPECT_EQ(readFile(u"OrvaneDB.reg.20240307-180509-2.bak"_s), garbage + "!");
}

TEST_F(SettingsStoreTest, LinesNotUnderstoodAreLeftOutAndTheFileIsCopiedAsItWas) {
    const QByteArray text = "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_CURRENT_USER\\Software\\Tarvenix\\OrvaneDB\\Vuruvov]\r\n"
                            "\"Edpuerto_Text\"=\"6000\"\r\n"
                            "\"EdMailport_Text\"=\"587\r\n";
    writeFile(text);
    SettingsStore store = makeStore();
    const std::optional<QString> problem = store.load();
    ASSERT_TRUE(problem.has_value());
    EXPECT_TRUE(problem->contains(u"(5)"_s)) << problem->toStdString();
    EXPECT_EQ(readFile(u"OrvaneDB.reg.20240307-180509.bak"_s), text);
    EXPECT_EQ(store.readString(kKey, u"Edpuerto_Text"), u"6000"_s);
    EXPECT_FALSE(store.valueExists(kKey, u"EdMailport_Text"));
    store.save(); // the copy keeps the line
}

TEST_F(SettingsStoreTest, WhatCannotBeReadIsNeverWrittenOver) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(u"OrvaneDB.reg"_s)); // in the file's way
    SettingsStore store = makeStore();
    ASSERT_TRUE(store.load().has_value());
    store.writeString(kKey, u"Edpuerto_Text"_s, u"5010");
    EXPECT_THROW(store.save(), ConfigError);
    EXPECT_TRUE(QFileInfo(path()).isDir());
}

TEST(SettingsStorePath, FollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/srv/estacion/config");
    EXPECT_EQ(SettingsStore::defaultFilePath(), u"/srv/estacion/config/Tarvenix/OrvaneDB.reg"_s);
    qputenv("XDG_CONFIG_HOME", "relativo");
    EXPECT_EQ(SettingsStore::defaultFilePath(), QDir::homePath() + u"/.config/Tarvenix/OrvaneDB.reg"_s);
    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
}
