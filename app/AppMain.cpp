#include "AppMain.h"

#include <cstdio>
#include <memory>
#include <optional>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QStringList>

#include "LogViewerWindow.h"
#include "PlatformServices.h"
#include "UnitDisplayMain.h"
#include "UnitExportOptions.h"
#include "UnitHosts.h"
#include "UserSettings.h"

namespace {

struct Arguments {
    bool Simulate = false;
    QString Card;
    QString Screenshot;
    bool View = false;
    QStringList ViewFiles; // the files after --view
    ViewerStart Start;     // --xy and --compare
    QString Error;
};

Arguments ParseArguments(const QStringList& args)
{
    Arguments parsed;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--simulate")) {
            parsed.Simulate = true;
        } else if (arg.startsWith(QLatin1String("--simulate="))) {
            parsed.Simulate = true;
            parsed.Card = arg.mid(int(sizeof("--simulate=")) - 1);
        } else if (arg == QLatin1String("--screenshot") && i + 1 < args.size()) {
            parsed.Screenshot = args[++i];
        } else if (arg == QLatin1String("--xy") && i + 1 < args.size()) {
            parsed.Start.XYChannels = args[++i];
        } else if (arg == QLatin1String("--compare") && i + 1 < args.size()) {
            parsed.Start.Compare = args[++i];
        } else if (arg == QLatin1String("--view")) {
            parsed.View = true;
        } else if (parsed.View && !arg.startsWith(QLatin1String("--"))) {
            parsed.ViewFiles << arg;
        } else {
            parsed.Error = QStringLiteral("unknown argument \"%1\"\n"
                                          "usage: tessaly [--simulate[=CARD_FOLDER]] [--screenshot FILE]\n"
                                          "       tessaly --view FILE.displog... [--xy X,Y[,COLOUR]] [--compare FILE.displog]\n"
                                          "               [--screenshot FILE]\n"
                                          "       tessaly --version")
                               .arg(arg);
        }
    }
    return parsed;
}

// Start-up failures go to standard error as well, and a picture-only run (no one to press OK on
// an offscreen platform) shows no box at all.
void ReportStartError(PlatformServices& services, const QString& text, bool interactive)
{
    std::fprintf(stderr, "tessaly: %s\n", qPrintable(text));
    if (interactive)
        services.ShowError(nullptr, text);
}

// The export interval the window keeps in its settings: the log viewer saves its CSV at it.
double StoredExportInterval()
{
    const std::unique_ptr<SettingsStore> settings = OpenUserSettings();
    try {
        return StoredExportInterval(*settings, SettingsKeyFor(QCoreApplication::applicationFilePath()));
    } catch (const std::exception&) {
        // A stored value of the wrong type: the window reports it at its start; the viewer uses
        // the default.
    }
    return DefaultExportInterval;
}

int SaveScreenshot(TFormMain& form, const QString& file)
{
    form.Timer1Timer();
    QApplication::processEvents();
    if (!form.grab().toImage().save(file, "PNG")) {
        std::fprintf(stderr, "tessaly: cannot write %s\n", qPrintable(file));
        return 1;
    }
    return 0;
}

} // namespace

int RunTessaly(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(ApplicationTitle);
    QGuiApplication::setDesktopFileName(QStringLiteral("tessaly"));
    QtPlatformServices services;

    const Arguments args = ParseArguments(QCoreApplication::arguments());
    if (args.Error.isEmpty() && (!args.Start.XYChannels.isEmpty() || !args.Start.Compare.isEmpty()) &&
        (!args.View || args.ViewFiles.isEmpty())) {
        std::fprintf(stderr, "tessaly: --xy and --compare go with --view FILE.displog\n");
        return 2;
    }
    if (!args.Error.isEmpty()) {
        std::fprintf(stderr, "tessaly: %s\n", qPrintable(args.Error));
        return 2;
    }
    const bool interactive = args.Screenshot.isEmpty();
    // Viewing logs needs no unit: no bus is searched and no simulated unit started. Without
    // files (the desktop entry started from the menu) the main window opens as usual.
    if (args.View && !args.ViewFiles.isEmpty()) {
        ConsoleServices console;
        ViewerOptions options;
        options.ExportInterval = StoredExportInterval();
        options.DecimalSeparator = RegionalCsvSeparator();
        PlatformServices& viewerServices = interactive ? static_cast<PlatformServices&>(services) : console;
        return RunLogViewers(args.ViewFiles, args.Screenshot, viewerServices, options, args.Start);
    }
    UnitHostChoice choice = OpenUnitHost({args.Simulate, args.Card.toStdString(), false});
    if (!choice.Host) {
        ReportStartError(services, QString::fromStdString(choice.Error), interactive);
        return 1;
    }
    HidHost* host = choice.Host.get();
    sim::SimHost* simulator = choice.Simulator;

    const std::unique_ptr<SettingsStore> userSettings = OpenUserSettings();
    SettingsStore& settings = *userSettings;
    AppEnvironment environment;
    environment.Host = host;
    environment.Simulator = simulator;
    environment.Settings = &settings;
    environment.Services = &services;
    environment.ExecutablePath = QCoreApplication::applicationFilePath();

    // An error while the window is built (a stored setting of the wrong type, say) is reported
    // and ends the run; errors inside commands are reported by the window and the run goes on.
    std::unique_ptr<TFormMain> form;
    try {
        form = std::make_unique<TFormMain>(nullptr, environment);
    } catch (const std::exception& error) {
        ReportStartError(services, QString::fromLocal8Bit(error.what()), interactive);
        return 1;
    } catch (...) {
        ReportStartError(services, QString(), interactive);
        return 1;
    }
    form->show();
    if (!args.Screenshot.isEmpty())
        return SaveScreenshot(*form, args.Screenshot);
    return app.exec();
}
