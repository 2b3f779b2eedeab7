// The nine settings: read once while the window is built, written once while it is destroyed,
// and the two stores that keep them.
#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "FileSettingsStore.h"

namespace {

const std::string Key = "\\Software\\Korvane Research Inc.\\tessaly";
const std::vector<std::string> ReadOrder = {"Top", "Left", "Width", "Height", "Window State",
                                            "Export Interval", "Auto Export", "Log File Path", "Map File Path"};
const std::vector<std::string> WriteOrder = {"Window State", "Top", "Left", "Width", "Height",
                                             "Export Interval", "Auto Export", "Log File Path", "Map File Path"};

class WindowSettings : public ::testing::Test, public WindowTest {
protected:
    // Names in the order of their first entries "VERB NAME" in the store's log.
    std::vector<std::string> Logged(const std::string& verb) const
    {
        std::vector<std::string> names;
        for (const std::string& entry : Settings.Log) {
            if (entry.rfind(verb + " ", 0) != 0)
                continue;
            const std::string name = entry.substr(verb.size() + 1);
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
        }
        return names;
    }
    std::map<std::string, SettingValue>& Stored() { return Settings.Keys[Key]; }
    int32_t StoredInt(const std::string& name) { return static_cast<int32_t>(Stored().at(name).Dword); }
};

// First run: the key is made at start, the defaults hold, the folders exist beside the
// executable; at the end all nine values are written, in the order given.
TEST_F(WindowSettings, FirstRunWithNoSettings)
{
    Open();
    EXPECT_EQ(Form->RegistryKey, Key);
    EXPECT_TRUE(Settings.Keys.count(Key));
    EXPECT_TRUE(Stored().empty());
    EXPECT_EQ(Logged("read"), ReadOrder);
    EXPECT_DOUBLE_EQ(Form->ExportInterval, 1.0);
    EXPECT_TRUE(Form->AutoExport);
    const QString bin = QFileInfo(Executable).absolutePath();
    EXPECT_EQ(Form->MapFilePath, bin + QStringLiteral("/Maps"));
    EXPECT_EQ(Form->LogFilePath, bin + QStringLiteral("/Logs"));
    EXPECT_TRUE(QDir(Form->MapFilePath).exists());
    EXPECT_TRUE(QDir(Form->LogFilePath).exists());
    EXPECT_TRUE(Logged("write").empty());

    Settings.Log.clear();
    Close();
    EXPECT_EQ(Logged("write"), WriteOrder);
    EXPECT_EQ(Stored().size(), 9u);
    EXPECT_EQ(StoredInt("Window State"), 0);
    EXPECT_EQ(StoredInt("Auto Export"), 1);
    EXPECT_EQ(Stored().at("Export Interval").Binary,
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(Stored().at("Map File Path").Type, SettingType::String);
}

// Only "Map File Path" stored: that folder is used, all else keeps its default, and the end of
// the run writes all nine values.
TEST_F(WindowSettings, OnlyMapFilePathStored)
{
    const QString maps = Temp.filePath(QStringLiteral("my maps"));
    Stored()["Map File Path"] = SettingValue::FromString(maps.toStdString());
    Open();
    EXPECT_EQ(Form->MapFilePath, maps);
    EXPECT_EQ(Form->LogFilePath, QFileInfo(Executable).absolutePath() + QStringLiteral("/Logs"));
    EXPECT_DOUBLE_EQ(Form->ExportInterval, 1.0);
    EXPECT_TRUE(Form->AutoExport);
    EXPECT_TRUE(QDir(maps).exists());
    Close();
    EXPECT_EQ(Stored().size(), 9u);
    EXPECT_EQ(Stored().at("Map File Path").Text, maps.toStdString());
}

// Values written by one run come back in the next, the export options included.
TEST_F(WindowSettings, ValuesSurviveARun)
{
    Open();
    Form->ExportInterval = 0.25;
    Form->AutoExport = false;
    Form->LogFilePath = Temp.filePath(QStringLiteral("logs here"));
    Form->resize(620, 410);
    const QSize outer = Form->frameGeometry().size();
    Close();
    Open();
    EXPECT_DOUBLE_EQ(Form->ExportInterval, 0.25);
    EXPECT_FALSE(Form->AutoExport);
    EXPECT_EQ(Form->LogFilePath, Temp.filePath(QStringLiteral("logs here")));
    EXPECT_EQ(Form->frameGeometry().size(), outer);
}

// Closing maximised writes "Window State" 2 and leaves the earlier placement; the next run
// restores that size and opens maximised.
TEST_F(WindowSettings, ClosingWhileMaximised)
{
    Stored()["Top"] = SettingValue::FromDword(40);
    Stored()["Left"] = SettingValue::FromDword(50);
    Stored()["Width"] = SettingValue::FromDword(640);
    Stored()["Height"] = SettingValue::FromDword(480);
    Open();
    Form->showMaximized();
    Close();
    EXPECT_EQ(StoredInt("Window State"), 2);
    EXPECT_EQ(StoredInt("Top"), 40);
    EXPECT_EQ(StoredInt("Left"), 50);
    EXPECT_EQ(StoredInt("Width"), 640);
    EXPECT_EQ(StoredInt("Height"), 480);

    Open();
    EXPECT_TRUE(Form->windowState().testFlag(Qt::WindowMaximized));
    EXPECT_EQ(Form->size(), QSize(640, 480));
}

// "Width" and "Height" are the outer size, frame included: a shown window meets them exactly,
// and a run that changes nothing stores them unchanged (the window never grows by its frame).
TEST_F(WindowSettings, OuterSizeDoesNotCreep)
{
    Stored()["Width"] = SettingValue::FromDword(640);
    Stored()["Height"] = SettingValue::FromDword(480);
    for (int run = 0; run < 2; ++run) {
        Open();
        Form->show();
        QCoreApplication::processEvents();
        EXPECT_EQ(Form->frameGeometry().size(), QSize(640, 480));
        Close();
        EXPECT_EQ(StoredInt("Width"), 640);
        EXPECT_EQ(StoredInt("Height"), 480);
    }
}

// A stored folder that no longer exists is made again; only its last level is made.
TEST_F(WindowSettings, StoredFolderThatNoLongerExists)
{
    const QString logs = Temp.filePath(QStringLiteral("Logs again"));
    const QString orphan = Temp.filePath(QStringLiteral("missing parent/Maps"));
    Stored()["Log File Path"] = SettingValue::FromString(logs.toStdString());
    Stored()["Map File Path"] = SettingValue::FromString(orphan.toStdString());
    Open();
    EXPECT_TRUE(QDir(logs).exists());
    EXPECT_FALSE(QDir(orphan).exists());
    EXPECT_EQ(Form->MapFilePath, orphan);
}

// A value of another type than its name calls for ends the start with the registry's error.
TEST_F(WindowSettings, ValueOfWrongTypeEndsTheStart)
{
    Stored()["Width"] = SettingValue::FromString("wide");
    try {
        Open();
        FAIL() << "the window was built";
    } catch (const SettingsError& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for 'Width'");
    }
    EXPECT_EQ(FormMain, nullptr);
}

// A stored interval of 0 or below would make a conversion run forever: the default stays.
TEST_F(WindowSettings, NonPositiveIntervalIsNotTaken)
{
    MemorySettingsStore scratch;
    scratch.OpenKey("scratch");
    WriteFloat(scratch, "Export Interval", -2.0);
    Stored()["Export Interval"] = scratch.Keys["scratch"]["Export Interval"];
    Open();
    EXPECT_DOUBLE_EQ(Form->ExportInterval, 1.0);
}

// An executable folder that cannot be written (an installed tool) puts the folders under
// Tessaly in the documents folder, which is made as needed.
TEST_F(WindowSettings, ReadOnlyExecutableFolderUsesDocuments)
{
    Executable = Temp.filePath(QStringLiteral("not there/bin/tessaly"));
    Open();
    const QString base = Temp.filePath(QStringLiteral("documents/Tessaly"));
    EXPECT_EQ(Form->MapFilePath, base + QStringLiteral("/Maps"));
    EXPECT_EQ(Form->LogFilePath, base + QStringLiteral("/Logs"));
    EXPECT_TRUE(QDir(Form->MapFilePath).exists());
    EXPECT_TRUE(QDir(Form->LogFilePath).exists());
}

TEST(DefaultWorkingFolder, WritableExecutableFolder)
{
    QTemporaryDir temp;
    EXPECT_EQ(DefaultWorkingFolder(temp.filePath(QStringLiteral("tessaly")), QStringLiteral("/docs")),
              temp.path() + QLatin1Char('/'));
    EXPECT_EQ(DefaultWorkingFolder(QStringLiteral("/no/such/folder/tessaly"), QStringLiteral("/docs")),
              QStringLiteral("/docs/Tessaly/"));
}

// ---- the settings file

class SettingsFile : public ::testing::Test {
protected:
    QString Path() const { return Temp.filePath(QStringLiteral("config/tessaly/settings.json")); }
    QJsonObject Json() const
    {
        QFile file(Path());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(file.readAll()).object();
    }
    void WriteJson(const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(Path()).absolutePath());
        QFile file(Path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QTemporaryDir Temp;
};

// Each value keeps its name and its type tag through the file.
TEST_F(SettingsFile, RoundTripKeepsNamesAndTypes)
{
    {
        FileSettingsStore store(Path().toStdString());
        store.OpenKey(Key);
        WriteInteger(store, "Left", -120);
        WriteFloat(store, "Export Interval", 0.5);
        WriteBool(store, "Auto Export", false);
        WriteString(store, "Log File Path", "/home/user/Logs \xC3\xA9");
        std::string error;
        ASSERT_TRUE(store.CloseKey(error)) << error;
    }
    const QJsonObject value = Json()[QStringLiteral("keys")][QString::fromStdString(Key)][QStringLiteral("Left")].toObject();
    EXPECT_EQ(value[QStringLiteral("type")].toString(), QStringLiteral("REG_DWORD"));
    EXPECT_EQ(value[QStringLiteral("data")].toDouble(), 4294967176.0);

    FileSettingsStore again(Path().toStdString());
    again.OpenKey(Key);
    EXPECT_EQ(ReadInteger(again, "Left"), -120);
    EXPECT_DOUBLE_EQ(ReadFloat(again, "Export Interval"), 0.5);
    EXPECT_FALSE(ReadBool(again, "Auto Export"));
    EXPECT_EQ(ReadString(again, "Log File Path"), "/home/user/Logs \xC3\xA9");
    EXPECT_FALSE(ValueExists(again, "Top"));
}

// Reading a value as another type, or one whose data does not fit its tag, raises the error.
TEST_F(SettingsFile, WrongTypeRaises)
{
    WriteJson(R"({"keys": {"K": {
        "Top": {"type": "REG_SZ", "data": "86"},
        "Left": {"type": "REG_DWORD", "data": "86"},
        "Export Interval": {"type": "REG_BINARY", "data": "0000"},
        "Height": {"type": "REG_QWORD", "data": 1}}}})");
    FileSettingsStore store(Path().toStdString());
    store.OpenKey("K");
    EXPECT_THROW((void)ReadInteger(store, "Top"), SettingsError);
    EXPECT_THROW((void)ReadInteger(store, "Left"), SettingsError);
    EXPECT_THROW((void)ReadFloat(store, "Export Interval"), SettingsError);
    EXPECT_THROW((void)ReadInteger(store, "Height"), SettingsError);
    EXPECT_EQ(ReadString(store, "Top"), "86");
}

// Opening a key that does not exist creates it; closing keeps the other keys in the file.
TEST_F(SettingsFile, KeysAreCreatedAndOthersKept)
{
    WriteJson(R"({"keys": {"Other": {"X": {"type": "REG_SZ", "data": "kept"}}}})");
    FileSettingsStore store(Path().toStdString());
    store.OpenKey(Key);
    EXPECT_TRUE(Json()[QStringLiteral("keys")].toObject().contains(QString::fromStdString(Key)));
    WriteInteger(store, "Top", 5);
    std::string error;
    ASSERT_TRUE(store.CloseKey(error));
    const QJsonObject keys = Json()[QStringLiteral("keys")].toObject();
    EXPECT_EQ(keys[QStringLiteral("Other")][QStringLiteral("X")][QStringLiteral("data")].toString(),
              QStringLiteral("kept"));
    EXPECT_EQ(keys[QString::fromStdString(Key)][QStringLiteral("Top")][QStringLiteral("data")].toInt(), 5);
    // The new file replaced the old one whole: no temporary file is left beside it.
    EXPECT_EQ(QDir(QFileInfo(Path()).absolutePath()).entryList(QDir::Files),
              QStringList{QStringLiteral("settings.json")});
}

// A file that is not a settings file is set aside, not overwritten, and the run starts afresh.
TEST_F(SettingsFile, DamagedFileIsSetAside)
{
    WriteJson("{ this is not json");
    FileSettingsStore store(Path().toStdString());
    store.OpenKey(Key);
    EXPECT_FALSE(ValueExists(store, "Top"));
    QFile aside(Path() + QStringLiteral(".bad"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), QByteArray("{ this is not json"));
}

// A save that cannot be done says so.
TEST_F(SettingsFile, FailedSaveIsReported)
{
    QFile blocker(Temp.filePath(QStringLiteral("config")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    blocker.close();
    FileSettingsStore store(Path().toStdString());
    store.OpenKey(Key);
    WriteInteger(store, "Top", 1);
    std::string error;
    EXPECT_FALSE(store.CloseKey(error));
    EXPECT_FALSE(error.empty());
}

} // namespace
