#include "FileSettingsStore.h"

#include <cmath>
#include <cstdio>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString TypeField = QStringLiteral("type");
const QString DataField = QStringLiteral("data");
const QString KeysField = QStringLiteral("keys");

// A value whose tag or data does not fit its type is kept as Unknown, so reading it raises the
// type error instead of yielding a made-up value.
SettingValue DecodeValue(const QJsonValue& json)
{
    SettingValue value;
    const QJsonObject object = json.toObject();
    const QString tag = object.value(TypeField).toString();
    const QJsonValue data = object.value(DataField);
    if (tag == QLatin1String("REG_DWORD") && data.isDouble()) {
        const double number = data.toDouble();
        if (number >= 0 && number <= 4294967295.0 && std::floor(number) == number)
            value = SettingValue::FromDword(static_cast<uint32_t>(number));
    } else if (tag == QLatin1String("REG_BINARY") && data.isString()) {
        const QByteArray hex = data.toString().toLatin1();
        const QByteArray bytes = QByteArray::fromHex(hex);
        if (bytes.size() * 2 == hex.size() && bytes.toHex() == hex.toLower())
            value = SettingValue::FromBinary(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    } else if (tag == QLatin1String("REG_SZ") && data.isString()) {
        value = SettingValue::FromString(data.toString().toStdString());
    }
    return value;
}

QJsonObject EncodeValue(const SettingValue& value)
{
    QJsonObject object;
    object.insert(TypeField, QString::fromLatin1(SettingTypeTag(value.Type)));
    switch (value.Type) {
    case SettingType::Dword:
        object.insert(DataField, static_cast<double>(value.Dword));
        break;
    case SettingType::Binary:
        object.insert(DataField, QString::fromLatin1(
                                     QByteArray(reinterpret_cast<const char*>(value.Binary.data()),
                                                static_cast<qsizetype>(value.Binary.size()))
                                         .toHex()));
        break;
    case SettingType::String:
        object.insert(DataField, QString::fromStdString(value.Text));
        break;
    case SettingType::Unknown:
        break;
    }
    return object;
}

} // namespace

FileSettingsStore::FileSettingsStore(QString path) : FilePath(std::move(path)) {}

QString FileSettingsStore::DefaultPath()
{
    // GenericConfigLocation follows XDG_CONFIG_HOME and falls back to ~/.config.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tessaly/settings.json");
}

FileSettingsStore::Keys FileSettingsStore::Load()
{
    Keys keys;
    QFile file(FilePath);
    if (!file.exists())
        return keys;
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tessaly: cannot read %s: %s\n", qPrintable(FilePath), qPrintable(file.errorString()));
        return keys;
    }
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    file.close();
    if (parse.error != QJsonParseError::NoError || !document.isObject() ||
        !document.object().value(KeysField).isObject()) {
        const QString aside = FilePath + QStringLiteral(".bad");
        QFile::remove(aside);
        QFile::rename(FilePath, aside);
        std::fprintf(stderr, "tessaly: %s is not a settings file; moved it to %s\n", qPrintable(FilePath),
                     qPrintable(aside));
        return keys;
    }
    const QJsonObject all = document.object().value(KeysField).toObject();
    for (auto key = all.begin(); key != all.end(); ++key) {
        Values& values = keys[key.key().toStdString()];
        const QJsonObject object = key.value().toObject();
        for (auto value = object.begin(); value != object.end(); ++value)
            values[value.key().toStdString()] = DecodeValue(value.value());
    }
    return keys;
}

bool FileSettingsStore::Save(const Keys& keys, std::string& error)
{
    QJsonObject all;
    for (const auto& [keyName, values] : keys) {
        QJsonObject object;
        for (const auto& [name, value] : values)
            object.insert(QString::fromStdString(name), EncodeValue(value));
        all.insert(QString::fromStdString(keyName), object);
    }
    QJsonObject root;
    root.insert(KeysField, all);

    if (!QDir().mkpath(QFileInfo(FilePath).absolutePath())) {
        error = "cannot create the folder of " + FilePath.toStdString();
        return false;
    }
    // QSaveFile writes beside the target and renames over it on commit (after flushing it to
    // disk), so the old file stays whole until the new one is.
    QSaveFile file(FilePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 || !file.commit()) {
        error = FilePath.toStdString() + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}

void FileSettingsStore::OpenKey(const std::string& key)
{
    Keys keys = Load();
    OpenName = key;
    Changed = false;
    auto found = keys.find(key);
    if (found != keys.end()) {
        Open = found->second;
        return;
    }
    // Creating the key, as the registry does: a first run leaves an empty key behind even if it
    // ends before the settings are written. A failure here shows again, and is reported, at close.
    Open.clear();
    keys[key];
    std::string ignored;
    (void)Save(keys, ignored);
}

bool FileSettingsStore::CloseKey(std::string& error)
{
    if (!Changed)
        return true;
    // Read again so that keys another run stored meanwhile are kept.
    Keys keys = Load();
    Values& values = keys[OpenName];
    for (const auto& [name, value] : Open)
        values[name] = value;
    Changed = false;
    return Save(keys, error);
}

std::optional<SettingValue> FileSettingsStore::Value(const std::string& name)
{
    auto found = Open.find(name);
    if (found == Open.end())
        return std::nullopt;
    return found->second;
}

void FileSettingsStore::SetValue(const std::string& name, const SettingValue& value)
{
    Open[name] = value;
    Changed = true;
}
