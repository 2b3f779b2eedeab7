#include "LogViewerWindow.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QPushButton>
#include <QTableWidget>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QSortFilterProxyModel>
#include <QUrl>
#include <QVBoxLayout>

#include "Displogfile.h"
#include "LogCsv.h"
#include "LogStats.h"
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

// A number as the CSV writes it, with 0 to 3 decimals.
QString NumberText(double value, int decimals, char separator)
{
    char text[CsvNumberMaxLength];
    const size_t length = FormatCsvNumber(value, decimals, separator, text);
    return QString::fromLatin1(text, static_cast<qsizetype>(length));
}

QString SecondsText(double seconds, char separator)
{
    return NumberText(seconds, 3, separator);
}

// Keeps the channels whose name contains the text, in any case: a plain search on each name,
// without a regular expression, as every keystroke searches every channel.
class ChannelFilterModel : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void SetText(const QString& text)
    {
        if (text == Text)
            return;
        Text = text;
        invalidateFilter();
    }
    // True when the channel of this source row is in the list.
    [[nodiscard]] bool Accepts(int sourceRow) const { return filterAcceptsRow(sourceRow, QModelIndex()); }

protected:
    [[nodiscard]] bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override
    {
        if (Text.isEmpty())
            return true;
        const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
        return sourceModel()->data(index, Qt::DisplayRole).toString().contains(Text, Qt::CaseInsensitive);
    }

private:
    QString Text;
};

} // namespace

char RegionalCsvSeparator()
{
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point[0].unicode() > 0x20 && point[0].unicode() < 0x7F)
        return static_cast<char>(point[0].unicode());
    return '.';
}

ChannelListModel::ChannelListModel(const LogPlotData& data, QObject* parent)
    : QAbstractListModel(parent), Data(data), Checked(data.ChannelCount(), 0)
{
    std::fill_n(Checked.begin(), std::min(Checked.size(), InitiallyChecked), uint8_t{1});
}

int ChannelListModel::rowCount(const QModelIndex& parent) const
{
    // Qt's views count rows in int; the reader's channel count is far below that in practice.
    return parent.isValid() ? 0 : static_cast<int>(std::min<size_t>(Checked.size(), INT_MAX));
}

QVariant ChannelListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || static_cast<size_t>(index.row()) >= Checked.size())
        return {};
    const auto channel = static_cast<size_t>(index.row());
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(Data.ChannelName(channel));
    case Qt::DecorationRole: {
        const QColor color = LogPlotWidget::ChannelColor(channel);
        auto found = Swatches.find(color.rgb());
        if (found == Swatches.end())
            found = Swatches.insert(color.rgb(), Swatch(color));
        return *found;
    }
    case Qt::CheckStateRole: return Checked[channel] != 0 ? Qt::Checked : Qt::Unchecked;
    case Qt::UserRole: return static_cast<qulonglong>(channel);
    default: return {};
    }
}

bool ChannelListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || static_cast<size_t>(index.row()) >= Checked.size())
        return false;
    const uint8_t checked = value.value<Qt::CheckState>() == Qt::Checked ? 1 : 0;
    uint8_t& current = Checked[static_cast<size_t>(index.row())];
    if (current != checked) {
        current = checked;
        emit dataChanged(index, index, {Qt::CheckStateRole});
    }
    return true;
}

Qt::ItemFlags ChannelListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

void ChannelListModel::SetChecked(const std::vector<size_t>& channels, bool checked)
{
    size_t first = Checked.size();
    size_t last = 0;
    for (const size_t channel : channels) {
        if (channel >= Checked.size())
            continue;
        Checked[channel] = checked ? 1 : 0;
        first = std::min(first, channel);
        last = std::max(last, channel);
    }
    if (first <= last)
        emit dataChanged(index(static_cast<int>(first)), index(static_cast<int>(last)), {Qt::CheckStateRole});
}

std::vector<size_t> ChannelListModel::CheckedChannels() const
{
    std::vector<size_t> channels;
    for (size_t c = 0; c < Checked.size(); ++c) {
        if (Checked[c] != 0)
            channels.push_back(c);
    }
    return channels;
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
    // A model and a view that asks it only for the rows on screen: a log may hold a million
    // channels.
    ChannelModel = new ChannelListModel(*PlotData, this);
    ChannelFilter = new ChannelFilterModel(this);
    ChannelFilter->setDynamicSortFilter(false); // names never change; check boxes do not filter
    ChannelFilter->setSourceModel(ChannelModel);
    ListChannels = new QListView(PanelChannels);
    ListChannels->setUniformItemSizes(true);
    ListChannels->setModel(ChannelFilter);
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
    // The viewer has no menu: its keys are told here.
    ButtonReset->setToolTip(QStringLiteral("Home. Keys on the plots: + and - zoom, Left and Right pan a tenth of "
                                           "the view, Page Up and Page Down a whole view."));
    ButtonSavePicture = makeButton(QStringLiteral("Save Picture..."));
    ButtonSaveCsv = makeButton(QStringLiteral("Save Range as .csv..."));
    ButtonStatistics = makeButton(QStringLiteral("Statistics..."));
    LabelStatus = new QLabel(PanelCommands);
    commands->addWidget(LabelStatus, 1);
    right->addWidget(Plot, 1);
    right->addWidget(PanelCommands);
    row->addWidget(PanelChannels);
    row->addLayout(right, 1);

    Plot->SetData(PlotData.get());
    ShownChanged();

    connect(ChannelModel, &QAbstractItemModel::dataChanged, this, [this] { ShownChanged(); });
    connect(EditFilter, &QLineEdit::textChanged, this, [this](const QString& text) { SetFilter(text); });
    connect(ButtonShowAll, &TQXGradButton::clicked, this, [this] { CheckVisible(true); });
    connect(ButtonShowNone, &TQXGradButton::clicked, this, [this] { CheckVisible(false); });
    connect(ComboPlots, &QComboBox::currentIndexChanged, this,
            [this] { Plot->SetPlotCount(ComboPlots->currentData().toInt()); });
    connect(ButtonReset, &TQXGradButton::clicked, this, [this] { Plot->ResetView(); });
    connect(ButtonSavePicture, &TQXGradButton::clicked, this, [this] { SavePictureExecute(); });
    connect(ButtonSaveCsv, &TQXGradButton::clicked, this, [this] { SaveCsvExecute(); });
    connect(ButtonStatistics, &TQXGradButton::clicked, this, [this] { StatisticsExecute(); });
    connect(Plot, &LogPlotWidget::ViewChanged, this, [this] { ShowStatus(); });
    connect(Plot, &LogPlotWidget::CursorMoved, this, [this] { ShowStatus(); });
    ShowStatus();
}

std::vector<size_t> LogViewerWindow::CheckedChannels() const
{
    return ChannelModel->CheckedChannels();
}

void LogViewerWindow::SetFilter(const QString& text)
{
    if (EditFilter->text() != text)
        EditFilter->setText(text); // comes back here through textChanged
    static_cast<ChannelFilterModel*>(ChannelFilter)->SetText(text.trimmed());
    // A channel the filter hides is not plotted either.
    ShownChanged();
}

void LogViewerWindow::CheckVisible(bool checked)
{
    std::vector<size_t> channels;
    channels.reserve(static_cast<size_t>(ChannelFilter->rowCount()));
    for (int row = 0; row < ChannelFilter->rowCount(); ++row)
        channels.push_back(static_cast<size_t>(ChannelFilter->mapToSource(ChannelFilter->index(row, 0)).row()));
    ChannelModel->SetChecked(channels, checked);
}

void LogViewerWindow::ShownChanged()
{
    std::vector<size_t> shown = CheckedChannels();
    const auto* filter = static_cast<ChannelFilterModel*>(ChannelFilter);
    std::erase_if(shown, [filter](size_t channel) { return !filter->Accepts(static_cast<int>(channel)); });
    Plot->SetShownChannels(std::move(shown));
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

QImage LogViewerWindow::Picture() const
{
    const QImage plots = Plot->grab().toImage();
    const QFontMetrics metrics(font());
    const int titleHeight = metrics.height() + 8;
    QImage picture(plots.width(), plots.height() + titleHeight, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setFont(font());
    painter.setPen(Qt::black);
    const char separator = Options.DecimalSeparator;
    const QString title = QFileInfo(LogPath).fileName() + QStringLiteral("    ") +
                          SecondsText(Plot->ViewStart(), separator) + QStringLiteral(" to ") +
                          SecondsText(Plot->ViewEnd(), separator) + QStringLiteral(" s");
    painter.drawText(QRect(6, 0, plots.width() - 12, titleHeight), Qt::AlignVCenter | Qt::AlignLeft,
                     metrics.elidedText(title, Qt::ElideMiddle, plots.width() - 12));
    painter.drawImage(0, titleHeight, plots);
    return picture;
}

void LogViewerWindow::SavePictureExecute()
{
    const QString file = Services.SaveFile(this, QStringLiteral("Save Picture"),
                                           QDir(StartFolder()).filePath(BaseName() + QStringLiteral(".png")));
    if (file.isEmpty())
        return;
    if (!Picture().save(file, "PNG")) {
        Services.ShowError(this, QStringLiteral("Cannot create file \"%1\".").arg(QDir::toNativeSeparators(file)));
        return;
    }
    LabelStatus->setText(QStringLiteral("Saved %1.").arg(QDir::toNativeSeparators(file)));
}

void LogViewerWindow::SaveCsvExecute()
{
    if (PlotData->ChannelCount() == 0) {
        Services.ShowMessage(this, QStringLiteral("This log has no channels."), ViewerCaption);
        return;
    }
    const std::vector<size_t> columns = Plot->ShownChannels();
    if (columns.empty()) {
        Services.ShowMessage(this, QStringLiteral("No channel is shown."), ViewerCaption);
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
                     static_cast<float>(Options.ExportInterval), Options.DecimalSeparator, columns);
    if (!error.empty()) {
        Services.ShowError(this, QString::fromLocal8Bit(error.c_str()));
        return;
    }
    Services.ShowMessage(this, QStringLiteral("Saved %1.").arg(QDir::toNativeSeparators(file)), ViewerCaption);
}

QString LogViewerWindow::StatisticsText(double threshold) const
{
    const char separator = Options.DecimalSeparator;
    const StatsRange range{Plot->ViewStart(), Plot->ViewEnd()};
    const DispLogFile& log = PlotData->Log();
    auto number = [separator](double value, int decimals, bool any) {
        return any ? NumberText(value, decimals, separator) : QStringLiteral("NAN");
    };
    QString text = QStringLiteral("channel\tcount\tmin\tmax\tmean\ttime above %1 s\n")
                       .arg(QString::number(threshold, 'g', 10).replace(QLatin1Char('.'), QLatin1Char(separator)));
    for (const size_t channel : Plot->ShownChannels()) {
        const auto index = static_cast<uint32_t>(channel);
        const ChannelStats stats = StatsOfChannel(log, index, range);
        const bool any = stats.Finite != 0;
        text += QString::fromStdString(stats.Name) + QLatin1Char('\t') + QString::number(stats.Count) +
                QLatin1Char('\t') + number(stats.Min, stats.Decimals, any) + QLatin1Char('\t') +
                number(stats.Max, stats.Decimals, any) + QLatin1Char('\t') +
                number(stats.Mean, std::min(stats.Decimals + 2, 3), any) + QLatin1Char('\t') +
                NumberText(TimeAbove(log, index, range, threshold), 3, separator) + QLatin1Char('\n');
    }
    return text;
}

void LogViewerWindow::StatisticsExecute()
{
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Statistics of %1").arg(QFileInfo(LogPath).fileName()));
    auto* layout = new QVBoxLayout(&dialog);
    auto* range = new QLabel(&dialog);
    auto* thresholdRow = new QHBoxLayout;
    auto* threshold = new QLineEdit(QStringLiteral("0"), &dialog);
    thresholdRow->addWidget(new QLabel(QStringLiteral("Time above:"), &dialog));
    thresholdRow->addWidget(threshold, 1);
    auto* table = new QTableWidget(&dialog);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* copy = new QPushButton(QStringLiteral("Copy as Text"), &dialog);
    auto* close = new QPushButton(QStringLiteral("Close"), &dialog);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(copy);
    buttons->addWidget(close);
    layout->addWidget(range);
    layout->addLayout(thresholdRow);
    layout->addWidget(table, 1);
    layout->addLayout(buttons);
    const char separator = Options.DecimalSeparator;
    range->setText(SecondsText(Plot->ViewStart(), separator) + QStringLiteral(" to ") +
                   SecondsText(Plot->ViewEnd(), separator) + QStringLiteral(" s"));
    auto value = [&threshold] {
        bool ok = false;
        const double number = QLocale().toDouble(threshold->text(), &ok);
        return ok && std::isfinite(number) ? number : threshold->text().toDouble();
    };
    auto fill = [this, table, value] {
        const QStringList lines = StatisticsText(value()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        table->clear();
        table->setRowCount(std::max(0, static_cast<int>(lines.size()) - 1));
        for (int row = 0; row < lines.size(); ++row) {
            const QStringList cells = lines[row].split(QLatin1Char('\t'));
            if (row == 0) {
                table->setColumnCount(static_cast<int>(cells.size()));
                table->setHorizontalHeaderLabels(cells);
                continue;
            }
            for (int column = 0; column < cells.size(); ++column)
                table->setItem(row - 1, column, new QTableWidgetItem(cells[column]));
        }
        table->resizeColumnsToContents();
    };
    fill();
    connect(threshold, &QLineEdit::editingFinished, &dialog, fill);
    connect(copy, &QPushButton::clicked, &dialog,
            [this, value] { QGuiApplication::clipboard()->setText(StatisticsText(value())); });
    connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
    dialog.resize(640, 360);
    (void)Services.ExecDialog(dialog);
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
                                       .arg(QDir::toNativeSeparators(path),
                                            QString::fromStdString(DispLogOpenFailure(QFile::encodeName(path).toStdString(), result))));
        return nullptr;
    }
    auto* window = new LogViewerWindow(parent, std::move(data), path, services, options);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // Cascaded below and right of the lowest viewer already open, not on top of it.
    LogViewerWindow* last = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* other = qobject_cast<LogViewerWindow*>(widget);
        if (other && other != window && other->isVisible() &&
            (!last || other->pos().x() + other->pos().y() > last->pos().x() + last->pos().y()))
            last = other;
    }
    if (last != nullptr)
        window->move(last->pos() + QPoint(LogViewerWindow::CascadeStep, LogViewerWindow::CascadeStep));
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
