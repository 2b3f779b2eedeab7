// The window and tessaly-cli run the same batches: the same files sent, refused and failed for the
// same reasons, and names outside ASCII shown and got back alike.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QRegularExpression>

#include "AppTestSupport.h"
#include "PathText.h"
#include "ShellRun.h"

namespace {

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "name: reason" of every file a failure message of the window lists.
QStringList WindowOutcomes(const QStringList& messages)
{
    QStringList lines;
    for (const QString& message : messages) {
        for (const QString& line : message.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1Char('\t')))
                lines << line.mid(1);
        }
    }
    lines.sort();
    return lines;
}

// The same from what tessaly-cli wrote ("tessaly-cli: name: reason").
QStringList CliOutcomes(const std::string& output)
{
    QStringList lines;
    for (const QString& line : QString::fromStdString(output).split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("tessaly-cli: ")))
            lines << line.mid(13);
    }
    lines.sort();
    return lines;
}

class Contract : public ::testing::Test, public WindowTest {
protected:
    void SetUp() override
    {
        Local = Temp.filePath(QStringLiteral("local"));
        QDir().mkpath(Local);
        MakeUnit(true);
        Open();
        Form->Timer1Timer();
        ASSERT_NE(Form->Display, nullptr);
    }
    QString PutLocal(const QString& name, const QByteArray& bytes)
    {
        const QString path = Local + QLatin1Char('/') + name;
        EXPECT_TRUE(WriteBytes(path, bytes));
        return path;
    }
    testsupport::ShellRun Cli(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "--simulate=" + Card.toStdString());
        return testsupport::RunProgram(TESSALY_CLI, arguments, {{"TESSALY_SIM_FAULTS", ""}}, true);
    }

    QString Local;
};

} // namespace

// One send of the same files through the window and through tessaly-cli: the same outcomes in the
// same words, and the same files on the card.
TEST_F(Contract, SendBatchEndsAlikeInBothFrontEnds)
{
    const QStringList files{PutLocal(QStringLiteral("empty.qxm"), QByteArray()),
                            PutLocal(QStringLiteral("Straße Ω.qxm"), QByteArray(100, 'o')),
                            PutLocal(QStringLiteral("Café.qxm"), QByteArray(3000, 'c')),
                            PutLocal(QStringLiteral("Good.qxm"), QByteArray(1500, 'g'))};
    Services.ChosenFiles = files;
    Form->ActionSendFilesExecute();
    const QStringList window = WindowOutcomes(Services.Messages);
    const QStringList listed = [this] {
        QStringList names;
        for (int row = 0; row < Form->ListBoxFiles->count(); ++row)
            names << Form->ListBoxFiles->item(row)->text();
        return names;
    }();
    EXPECT_TRUE(listed.contains(QStringLiteral("Café.qxm"))) << listed.join(QLatin1Char(',')).toStdString();
    Form.reset();

    for (const QString& name : {QStringLiteral("Café.qxm"), QStringLiteral("Good.qxm")})
        ASSERT_TRUE(QFile::remove(CardPath(QStringLiteral("Maps"), name)));
    std::vector<std::string> arguments{"put", "A:\\Maps"};
    for (const QString& file : files)
        arguments.push_back(file.toStdString());
    const testsupport::ShellRun cli = Cli(arguments);
    EXPECT_EQ(cli.Exit, 1);
    EXPECT_EQ(CliOutcomes(cli.Output), window) << cli.Output;
    EXPECT_EQ(window.size(), 2);
    EXPECT_EQ(ReadBytes(CardPath(QStringLiteral("Maps"), QStringLiteral("Café.qxm"))), QByteArray(3000, 'c'));
    EXPECT_EQ(ReadBytes(CardPath(QStringLiteral("Maps"), QStringLiteral("Good.qxm"))), QByteArray(1500, 'g'));

    // Sent by tessaly-cli, the name lists alike in both, and gets back under it byte for byte.
    const testsupport::ShellRun ls = Cli({"ls", "A:\\Maps"});
    EXPECT_NE(ls.Output.find("Café.qxm"), std::string::npos) << ls.Output;
    const QString out = Temp.filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    ASSERT_EQ(Cli({"get", "A:\\Maps", "Café.qxm", "--to", out.toStdString()}).Exit, 0);
    EXPECT_EQ(ReadBytes(out + QStringLiteral("/Café.qxm")), QByteArray(3000, 'c'));
}

// A delete of the same names stops at the same failure in both front ends.
TEST_F(Contract, DeleteBatchEndsAlikeInBothFrontEnds)
{
    QDir().mkpath(Card + QStringLiteral("/Maps"));
    for (const char* name : {"a.qxm", "b.qxm", "c.qxm"})
        ASSERT_TRUE(WriteBytes(CardPath(QStringLiteral("Maps"), QLatin1String(name)), QByteArray(10, 'm')));
    Form->ActionRefreshFileListExecute();
    Form->ListBoxFiles->selectAll();
    const int listed = Form->ListBoxFiles->count();
    ASSERT_GT(listed, 1);
    const QString first = Form->ListBoxFiles->item(0)->text();
    // The first file goes behind the window's back: its removal fails, and the rest is not tried.
    ASSERT_TRUE(QFile::remove(CardPath(QStringLiteral("Maps"), first)));
    Form->ActionDeleteFilesExecute();
    const QStringList window = WindowOutcomes(Services.Messages);
    ASSERT_EQ(window.size(), listed);
    QStringList names;
    for (int row = 0; row < Form->ListBoxFiles->count(); ++row)
        names << Form->ListBoxFiles->item(row)->text();
    Form.reset();

    std::vector<std::string> arguments{"rm", "A:\\Maps", first.toStdString()};
    for (const QString& name : names)
        arguments.push_back(name.toStdString());
    const testsupport::ShellRun cli = Cli(arguments);
    EXPECT_EQ(cli.Exit, 1);
    EXPECT_EQ(CliOutcomes(cli.Output), window) << cli.Output;
}
