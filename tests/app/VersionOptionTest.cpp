// tessaly --version: answered before the window's application object exists, so it works where
// no display (and no usable Qt platform) is.
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

TEST(EntryVersion, PrintsVersionWithoutDisplay)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // Creating a QGuiApplication on a platform that does not exist aborts the program.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
    QProcess window;
    window.setProcessEnvironment(environment);
    window.start(QStringLiteral(TESSALY_WINDOW), {QStringLiteral("--version")});
    ASSERT_TRUE(window.waitForFinished(10000));
    EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.exitCode(), 0);
    EXPECT_EQ(window.readAllStandardOutput().toStdString(), "tessaly " TESSALY_WINDOW_VERSION "\n");
    EXPECT_EQ(window.readAllStandardError().toStdString(), "");
}

} // namespace
