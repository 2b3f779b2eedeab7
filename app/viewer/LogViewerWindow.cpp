#include "LogViewerWindow.h"

#include <cstdio>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QUrl>
#include <QVBoxLayout>

#include "LogCsv.h"
#include "LogPlotData.h"
#include "LogPlotWidget.h"
#include "LogRangeCsv.h"
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"
#include "ResultCodes.h"

namespace {

const QString ViewerCaption = QStringLiteral("Log Viewer");
constexpr int ChannelPanelWidth = 240;

QFont ViewerFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    return font;
}

bool IsLogFile(const QString& path)
{
    return path.endsWith(QStringLiteral(".displog"), Qt::CaseInsensitive);
}

QPixmap Swatch(const QColor& color)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(color);
    return pixmap;
}

QString SecondsText(double seconds, char separator)
{
    char text[CsvNumberMaxLength];
    const size_t length = FormatCsvNumber(seconds, 3, separator, text);
    return QString::fromLatin1(text, static_cast<qsizetype>(length));
}

} // namespace

char RegionalCsvSeparator()
{
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point[0].unicode() > 0x20 && point[0].unicode() < 0x7F)
        return static_cast<char>(point[0].unicode());
    return '.';
}

LogViewerWindow::LogViewerWindow(QWidget* parent, std::unique_ptr<LogPlotData> data, const QString& path,
                                 PlatformServices& services, const ViewerOptions& options)
    : QWidget(parent, Qt::Window), PlotData(std::move(data)), LogPath(path), Services(services), Options(options)
{
    setObjectName(QStringLiteral("FormLogViewer"));
    setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" - ") + ViewerCaption);
    setFont(ViewerFont());
    setAcceptDrops(true);
    BuildDesign();
    resize(1100, 680);
}

LogViewerWindow::~LogViewerWindow()
{
    // The plot reads the data while it exists.
    Plot->SetData(nullptr);
}

void LogViewerWindow::BuildDesign()
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    PanelChannels = new TQXGradPanel(this);
    PanelChannels->setFixedWidth(ChannelPanelWidth);
    auto* side = new QVBoxLayout(PanelChannels);
    side->setContentsMargins(6, 6, 6, 6);
    side->setSpacing(5);
    EditFilter = new QLineEdit(PanelChannels);
    EditFilter->setPlaceholderText(QStringLiteral("Filter channels"));
    EditFilter->setClearButtonEnabled(true);
    ListChannels = new QListWidget(PanelChannels);
    ListChannels->setUniformItemSizes(true);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(5);
    ButtonShowAll = new TQXGradButton(PanelChannels);
    ButtonShowAll->SetCaption(QStringLiteral("Show All"));
    ButtonShowAll->setFixedHeight(25);
    ButtonShowNone = new TQXGradButton(PanelChannels);
    ButtonShowNone->SetCaption(QStringLiteral("Show None"));
    ButtonShowNone->setFixedHeight(25);
    buttons->addWidget(ButtonShowAll);
    buttons->addWidget(ButtonShowNone);
    auto* plots = new QHBoxLayout;
    auto* plotsLabel = new QLabel(QStringLiteral("Plots:"), PanelChannels);
    ComboPlots = new QComboBox(PanelChannels);
    ComboPlots->addItem(QStringLiteral("Automatic"), 0);
    for (const int count : {1, 2, 3, 4, 6, 8})
        ComboPlots->addItem(QString::number(count), count);
    plots->addWidget(plotsLabel);
    plots->addWidget(ComboPlots, 1);
    side->addWidget(EditFilter);
    side->addWidget(ListChannels, 1);
    side->addLayout(buttons);
    side->addLayout(plots);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    Plot = new LogPlotWidget(this);
    Plot->setFont(ViewerFont());
    Plot->SetDecimalSeparator(Options.DecimalSeparator);
    PanelCommands = new TQXGradPanel(this);
    PanelCommands->setFixedHeight(37);
    auto* commands = new QHBoxLayout(PanelCommands);
    commands->setContentsMargins(6, 6, 6, 6);
    commands->setSpacing(6);
    auto makeButton = [this, commands](const QString& caption) {
        auto* button = new TQXGradButton(PanelCommands);
        button->SetCaption(caption);
        button->SetColorFocusRect(clCaptionText);
        button->setFixedSize(130, 25);
        commands->addWidget(button);
        return button;
    };
    ButtonReset = makeButton(QStringLiteral("Show Whole Log"));
    ButtonSavePicture = makeButton(QStringLiteral("Save Picture..."));
    ButtonSaveCsv = makeButton(QStringLiteral("Save Range as .csv..."));
    LabelStatus = new QLabel(PanelCommands);
    commands->addWidget(LabelStatus, 1);
    right->addWidget(Plot, 1);
    right->addWidget(PanelCommands);
    row->addWidget(PanelChannels);
    row->addLayout(right, 1);

    Plot->SetData(PlotData.get());
    for (size_t c = 0; c < PlotData->ChannelCount(); ++c) {
        auto* item = new QListWidgetItem(QIcon(Swatch(LogPlotWidget::ChannelColor(c))),
                                         QString::fromStdString(PlotData->Channel(c).Name), ListChannels);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
        item->setData(Qt::UserRole, static_cast<qulonglong>(c));
    }
    ShownChanged();

    connect(ListChannels, &QListWidget::itemChanged, this, [this] { ShownChanged(); });
    connect(EditFilter, &QLineEdit::textChanged, this, [this](const QString& text) { SetFilter(text); });
    connect(ButtonShowAll, &TQXGradButton::clicked, this, [this] { CheckVisible(true); });
    connect(ButtonShowNone, &TQXGradButton::clicked, this, [this] { CheckVisible(false); });
    connect(ComboPlots, &QComboBox::currentIndexChanged, this,
            [this] { Plot->SetPlotCount(ComboPlots->currentData().toInt()); });
    connect(ButtonReset, &TQXGradButton::clicked, this, [this] { Plot->ResetView(); });
    connect(ButtonSavePicture, &TQXGradButton::clicked, this, [this] { SavePictureExecute(); });
    connect(ButtonSaveCsv, &TQXGradButton::clicked, this, [this] { SaveCsvExecute(); });
    connect(Plot, &LogPlotWidget::ViewChanged, this, [this] { ShowStatus(); });
    connect(Plot, &LogPlotWidget::CursorMoved, this, [this] { ShowStatus(); });
    ShowStatus();
}

std::vector<size_t> LogViewerWindow::CheckedChannels() const
{
    std::vector<size_t> channels;
    for (int row = 0; row < ListChannels->count(); ++row) {
        const QListWidgetItem* item = ListChannels->item(row);
        if (item->checkState() == Qt::Checked)
            channels.push_back(static_cast<size_t>(item->data(Qt::UserRole).toULongLong()));
    }
    return channels;
}

void LogViewerWindow::SetFilter(const QString& text)
{
    if (EditFilter->text() != text)
        EditFilter->setText(text); // comes back here through textChanged
    const QString wanted = text.trimmed();
    for (int row = 0; row < ListChannels->count(); ++row) {
        QListWidgetItem* item = ListChannels->item(row);
        item->setHidden(!wanted.isEmpty() && !item->text().contains(wanted, Qt::CaseInsensitive));
    }
}

void LogViewerWindow::CheckVisible(bool checked)
{
    {
        const QSignalBlocker blocker(ListChannels);
        for (int row = 0; row < ListChannels->count(); ++row) {
            QListWidgetItem* item = ListChannels->item(row);
            if (!item->isHidden())
                item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
        }
    }
    ShownChanged();
}

void LogViewerWindow::ShownChanged()
{
    Plot->SetShownChannels(CheckedChannels());
}

void LogViewerWindow::ShowStatus()
{
    if (PlotData->ChannelCount() == 0) {
        LabelStatus->setText(QStringLiteral("This log has no channels."));
        return;
    }
    const char separator = Options.DecimalSeparator;
    QString text = SecondsText(Plot->ViewStart(), separator) + QStringLiteral(" to ") +
                   SecondsText(Plot->ViewEnd(), separator) + QStringLiteral(" s of ") +
                   SecondsText(PlotData->Duration(), separator) + QStringLiteral(" s");
    if (Plot->HasCursor())
        text += QStringLiteral("    cursor at ") + SecondsText(Plot->CursorTime(), separator) + QStringLiteral(" s");
    LabelStatus->setText(text);
}

QString LogViewerWindow::BaseName() const
{
    return QFileInfo(LogPath).completeBaseName();
}

QString LogViewerWindow::StartFolder() const
{
    return Options.SaveFolder.isEmpty() ? QFileInfo(LogPath).absolutePath() : Options.SaveFolder;
}

void LogViewerWindow::SavePictureExecute()
{
    const QString folder = Services.SelectFolder(this, QStringLiteral("Save the picture in"), StartFolder());
    if (folder.isEmpty())
        return;
    const QString file = QDir(folder).filePath(BaseName() + QStringLiteral(".png"));
    if (!Plot->grab().toImage().save(file, "PNG")) {
        Services.ShowError(this, QStringLiteral("Cannot create file \"%1\".").arg(QDir::toNativeSeparators(file)));
        return;
    }
    Services.ShowMessage(this, QStringLiteral("Saved %1.").arg(QDir::toNativeSeparators(file)), ViewerCaption);
}

void LogViewerWindow::SaveCsvExecute()
{
    if (PlotData->ChannelCount() == 0) {
        Services.ShowMessage(this, QStringLiteral("This log has no channels."), ViewerCaption);
        return;
    }
    const QString folder = Services.SelectFolder(this, QStringLiteral("Save the CSV in"), StartFolder());
    if (folder.isEmpty())
        return;
    // The name tells the range, so saving other ranges of the log never replaces this one.
    const QString name = QStringLiteral("%1 %2-%3 s.csv")
                             .arg(BaseName(), SecondsText(Plot->ViewStart(), '.'), SecondsText(Plot->ViewEnd(), '.'));
    const QString file = QDir(folder).filePath(name);
    const std::string error =
        SaveRangeCsv(*PlotData, QFile::encodeName(file).toStdString(), Plot->ViewStart(), Plot->ViewEnd(),
                     static_cast<float>(Options.ExportInterval), Options.DecimalSeparator);
    if (!error.empty()) {
        Services.ShowError(this, QString::fromLocal8Bit(error.c_str()));
        return;
    }
    Services.ShowMessage(this, QStringLiteral("Saved %1.").arg(QDir::toNativeSeparators(file)), ViewerCaption);
}

void LogViewerWindow::OpenDroppedFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        if (IsLogFile(path))
            (void)OpenLogViewer(path, parentWidget(), Services, Options);
    }
}

void LogViewerWindow::dragEnterEvent(QDragEnterEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile() && IsLogFile(url.toLocalFile())) {
            event->acceptProposedAction();
            return;
        }
    }
}

void LogViewerWindow::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    event->acceptProposedAction();
    OpenDroppedFiles(paths);
}

LogViewerWindow* OpenLogViewer(const QString& path, QWidget* parent, PlatformServices& services,
                               const ViewerOptions& options)
{
    auto data = std::make_unique<LogPlotData>();
    const uint32_t result = data->Open(QFile::encodeName(path).toStdString());
    if (result != 0) {
        services.ShowError(parent, QStringLiteral("Cannot open the log file \"%1\": %2")
                                       .arg(QDir::toNativeSeparators(path), QString::fromStdString(ResultCodeName(result))));
        return nullptr;
    }
    auto* window = new LogViewerWindow(parent, std::move(data), path, services, options);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

void ConsoleServices::ShowMessage(QWidget*, const QString& text, const QString&)
{
    std::fprintf(stderr, "tessaly: %s\n", qPrintable(text));
}

void ConsoleServices::ShowError(QWidget*, const QString& text)
{
    std::fprintf(stderr, "tessaly: %s\n", qPrintable(text));
}

QStringList ConsoleServices::OpenFiles(QWidget*, const OpenDialogRequest&)
{
    return {};
}

QString ConsoleServices::SelectFolder(QWidget*, const QString&, const QString&)
{
    return {};
}

int ConsoleServices::ExecDialog(QDialog&)
{
    return 0;
}

int RunLogViewers(const QStringList& paths, const QString& screenshot, PlatformServices& services,
                  const ViewerOptions& options)
{
    LogViewerWindow* first = nullptr;
    for (const QString& path : paths) {
        LogViewerWindow* window = OpenLogViewer(path, nullptr, services, options);
        if (first == nullptr)
            first = window;
    }
    if (first == nullptr)
        return 1;
    if (!screenshot.isEmpty()) {
        QApplication::processEvents();
        if (!first->grab().toImage().save(screenshot, "PNG")) {
            std::fprintf(stderr, "tessaly: cannot write %s\n", qPrintable(screenshot));
            return 1;
        }
        return 0;
    }
    return QApplication::exec();
}
