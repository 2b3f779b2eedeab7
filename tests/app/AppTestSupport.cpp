#include "AppTestSupport.h"

#include <QDir>
#include <QListWidget>
#include <QTimer>

#include "LogGenerator.h"

namespace {

void Put(std::vector<uint8_t>& out, size_t at, uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

int RecordingServices::ExecDialog(QDialog& dialog)
{
    ++DialogsShown;
    return DialogScript ? DialogScript(dialog) : 0;
}

std::vector<uint8_t> MakeElf(const std::string& name, const std::vector<uint8_t>& payload)
{
    // Layout: header (64), names table, payload, then three section headers: null, names, `name`.
    std::string names = std::string(1, '\0') + ".shstrtab" + '\0' + name + '\0';
    const size_t namesAt = 64;
    const size_t payloadAt = namesAt + names.size();
    const size_t tableAt = payloadAt + payload.size();
    std::vector<uint8_t> out(tableAt + 3 * 64, 0);
    const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
    std::copy(std::begin(ident), std::end(ident), out.begin());
    Put(out, 0x28, tableAt, 8);
    Put(out, 0x3A, 64, 2);
    Put(out, 0x3C, 3, 2);
    Put(out, 0x3E, 1, 2);
    std::copy(names.begin(), names.end(), out.begin() + static_cast<long>(namesAt));
    std::copy(payload.begin(), payload.end(), out.begin() + static_cast<long>(payloadAt));
    const size_t names1 = tableAt + 64;
    Put(out, names1, 1, 4);
    Put(out, names1 + 0x18, namesAt, 8);
    Put(out, names1 + 0x20, names.size(), 8);
    const size_t section2 = tableAt + 128;
    Put(out, section2, 1 + std::string(".shstrtab").size() + 1, 4);
    Put(out, section2 + 0x18, payloadAt, 8);
    Put(out, section2 + 0x20, payload.size(), 8);
    return out;
}

std::vector<uint8_t> VersionPayload(uint16_t major, uint16_t minor, uint16_t release, uint16_t build)
{
    std::vector<uint8_t> out(std::begin(VersionRecordMagic), std::end(VersionRecordMagic));
    out.resize(16);
    Put(out, 8, (uint32_t(major) << 16) | minor, 4);
    Put(out, 12, (uint32_t(release) << 16) | build, 4);
    return out;
}

bool WriteFile(const QString& path, const std::vector<uint8_t>& bytes)
{
    return WriteBytes(path.toStdString(), bytes);
}

WindowTest::WindowTest()
{
    Card = Temp.filePath(QStringLiteral("card"));
    QDir().mkpath(Temp.filePath(QStringLiteral("bin")));
    Executable = Temp.filePath(QStringLiteral("bin/tessaly"));
    WriteFile(Executable, MakeElf(VersionSectionName, VersionPayload(1, 0, 4, 0)));
}

WindowTest::~WindowTest() { Close(); }

void WindowTest::MakeUnit(bool plugged, const std::function<void(sim::SimOptions&)>& adjust)
{
    sim::SimOptions options;
    options.Link = sim::LinkModel::Instant;
    options.Unit.CardFolder = Card.toStdString();
    options.StartPlugged = plugged;
    if (adjust)
        adjust(options);
    Sim = std::make_unique<sim::SimHost>(std::move(options));
}

void WindowTest::Open()
{
    if (!Sim)
        MakeUnit();
    AppEnvironment environment;
    environment.Host = HostOverride ? HostOverride : Sim.get();
    environment.Simulator = Sim.get();
    environment.Settings = &Settings;
    environment.Services = &Services;
    environment.ExecutablePath = Executable;
    environment.DocumentsFolder = Temp.filePath(QStringLiteral("documents"));
    Form = std::make_unique<TFormMain>(nullptr, environment);
    Form->Timer1->stop();
}

void WindowTest::Close() { Form.reset(); }

void WindowTest::PutCardFile(const QString& folder, const QString& name, size_t size)
{
    QDir().mkpath(Card + QLatin1Char('/') + folder);
    WriteFile(Card + QLatin1Char('/') + folder + QLatin1Char('/') + name, std::vector<uint8_t>(size, 0x5A));
}

QStringList WindowTest::ListedNames() const
{
    QStringList names;
    for (int i = 0; i < Form->ListBoxFiles->count(); ++i)
        names << Form->ListBoxFiles->item(i)->text();
    return names;
}

void WindowTest::Select(const QStringList& names)
{
    for (int i = 0; i < Form->ListBoxFiles->count(); ++i) {
        QListWidgetItem* item = Form->ListBoxFiles->item(i);
        item->setSelected(names.contains(item->text()));
    }
}

QString WindowTest::CardPath(const QString& folder, const QString& name) const
{
    return Card + QLatin1Char('/') + folder + QLatin1Char('/') + name;
}
