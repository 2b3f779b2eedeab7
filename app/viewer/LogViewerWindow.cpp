#include "LogViewerWindow.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QPushButton>
#include <QHeaderView>
#include <QTableWidget>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDoubleSpinBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "Displogfile.h"
#include "LogCsv.h"
#include "LogStats.h"
#include "LogPlotData.h"
#include "AxisTicks.h"
#include "ChannelGroups.h"
#include "LogPlotWidget.h"
#include "LogRangeCsv.h"
#include "LogXYPoints.h"
#include "LogXYWidget.h"
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
    return CsvNumberText(seconds, 3, separator);
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

// The log's channel names for a choice box, each made when the box shows it; with `none`, a first
// row "(none)".
class ChannelNamesModel : public QAbstractListModel {
public:
    ChannelNamesModel(const LogPlotData& data, bool none, QObject* parent)
        : QAbstractListModel(parent), Data(data), None(none)
    {
    }
    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(Data.ChannelCount() + (None ? 1 : 0));
    }
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || role != Qt::DisplayRole)
            return {};
        if (None && index.row() == 0)
            return QStringLiteral("(none)");
        return QString::fromStdString(Data.ChannelName(static_cast<size_t>(index.row() - (None ? 1 : 0))));
    }

private:
    const LogPlotData& Data;
    const bool None;
};

// A choice box of the log's channels: sized by a typical name, not by asking every row.
QComboBox* ChannelChoice(const LogPlotData& data, bool none, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(16);
    combo->setModel(new ChannelNamesModel(data, none, combo));
    if (auto* list = qobject_cast<QListView*>(combo->view()))
        list->setUniformItemSizes(true);
    return combo;
}

// Shows tab-separated text in a table: its first line the column headers, each further line a row.
void FillTable(QTableWidget& table, const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    table.clear();
    table.setRowCount(std::max(0, static_cast<int>(lines.size()) - 1));
    for (int row = 0; row < lines.size(); ++row) {
        const QStringList cells = lines[row].split(QLatin1Char('\t'));
        if (row == 0) {
            table.setColumnCount(static_cast<int>(cells.size()));
            table.setHorizontalHeaderLabels(cells);
            continue;
        }
        for (int column = 0; column < cells.size(); ++column)
            table.setItem(row - 1, column, new QTableWidgetItem(cells[column]));
    }
    table.resizeColumnsToContents();
}

// The first channel of a kind, if the log has one.
std::optional<size_t> FirstOfGroup(const LogPlotData& data, ChannelGroup group, size_t other)
{
    for (size_t c = 0; c < data.ChannelCount() && c < 4096; ++c) {
        if (c != other && ChannelGroupOf(data.ChannelName(c)) == group)
            return c;
    }
    return std::nullopt;
}

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
        button->setFixedSize(std::max(96, QFontMetrics(ViewerFont()).horizontalAdvance(caption) + 30), 25);
        commands->addWidget(button);
        return button;
    };
    ButtonReset = makeButton(QStringLiteral("Show Whole Log"));
    ButtonReset->setToolTip(QStringLiteral("Home (the View menu lists the keys of the plots)"));
    ButtonSavePicture = makeButton(QStringLiteral("Save Picture..."));
    ButtonSaveCsv = makeButton(QStringLiteral("Save Range as .csv..."));
    ButtonStatistics = makeButton(QStringLiteral("Statistics..."));
    ButtonXY = makeButton(QStringLiteral("XY View"));
    ButtonCompare = makeButton(QStringLiteral("Compare Log..."));
    commands->addStretch(1);
    auto* statusPanel = new TQXGradPanel(this);
    statusPanel->setFixedHeight(22);
    auto* statusRow = new QHBoxLayout(statusPanel);
    statusRow->setContentsMargins(8, 2, 8, 2);
    LabelStatus = new QLabel(statusPanel);
    statusRow->addWidget(LabelStatus, 1);

    Views = new QStackedWidget(this);
    Views->addWidget(Plot);
    BuildXYPage();
    Views->addWidget(PageXY);

    PanelCompare = new TQXGradPanel(this);
    PanelCompare->setFixedHeight(33);
    auto* compare = new QHBoxLayout(PanelCompare);
    compare->setContentsMargins(6, 4, 6, 4);
    LabelCompare = new QLabel(PanelCompare);
    SpinOffset = new QDoubleSpinBox(PanelCompare);
    SpinOffset->setRange(-1e7, 1e7);
    SpinOffset->setDecimals(3);
    SpinOffset->setSingleStep(0.1);
    SpinOffset->setSuffix(QStringLiteral(" s"));
    SpinOffset->setKeyboardTracking(false);
    ButtonEndCompare = new TQXGradButton(PanelCompare);
    ButtonEndCompare->SetCaption(QStringLiteral("End Comparison"));
    ButtonEndCompare->setFixedSize(120, 25);
    compare->addWidget(LabelCompare);
    compare->addWidget(new QLabel(QStringLiteral("shifted by"), PanelCompare));
    compare->addWidget(SpinOffset);
    compare->addStretch(1);
    compare->addWidget(ButtonEndCompare);
    PanelCompare->hide();
    BuildMarkersPanel();

    right->addWidget(Views, 1);
    right->addWidget(PanelCompare);
    right->addWidget(PanelMarkers);
    right->addWidget(PanelCommands);
    right->addWidget(statusPanel);
    row->addWidget(PanelChannels);
    row->addLayout(right, 1);

    Plot->SetData(PlotData.get());
    ShownChanged();
    BuildMenu(row);

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
    connect(ButtonXY, &TQXGradButton::clicked, this, [this] { ShowXYView(!XYViewShown()); });
    connect(ButtonCompare, &TQXGradButton::clicked, this, [this] { CompareExecute(); });
    connect(ButtonEndCompare, &TQXGradButton::clicked, this, [this] { EndComparison(); });
    connect(SpinOffset, &QDoubleSpinBox::valueChanged, this, [this](double value) { SetComparisonOffset(value); });
    connect(ButtonClearMarkers, &TQXGradButton::clicked, this, [this] { Plot->ClearMarkers(); });
    connect(Plot, &LogPlotWidget::MarkersChanged, this, [this] { ShowMarkers(); });
    connect(Plot, &LogPlotWidget::ViewChanged, this, [this] {
        ShowStatus();
        // The XY view shows the time plots' range.
        XYStale = true;
        if (XYViewShown())
            RefreshXY();
    });
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
    ShowMarkers();
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
    const QImage plots = Views->currentWidget()->grab().toImage();
    const QFontMetrics metrics(font());
    const int titleHeight = metrics.height() + 8;
    QImage picture(plots.width(), plots.height() + titleHeight, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setFont(font());
    painter.setPen(Qt::black);
    const char separator = Options.DecimalSeparator;
    QString title = QFileInfo(LogPath).fileName() + QStringLiteral("    ") +
                    SecondsText(Plot->ViewStart(), separator) + QStringLiteral(" to ") +
                    SecondsText(Plot->ViewEnd(), separator) + QStringLiteral(" s");
    if (XYViewShown())
        title += QStringLiteral("    %1 against %2").arg(ComboY->currentText().trimmed(), ComboX->currentText().trimmed());
    if (SecondData)
        title += QStringLiteral("    dashed: %1 shifted by %2 s")
                     .arg(QFileInfo(SecondPath).fileName(), SecondsText(Plot->SecondOffset(), separator));
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
        return any ? CsvNumberText(value, decimals, separator) : QStringLiteral("NAN");
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
                CsvNumberText(TimeAbove(log, index, range, threshold), 3, separator) + QLatin1Char('\n');
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
    auto fill = [this, table, value] { FillTable(*table, StatisticsText(value())); };
    fill();
    connect(threshold, &QLineEdit::editingFinished, &dialog, fill);
    connect(copy, &QPushButton::clicked, &dialog,
            [this, value] { QGuiApplication::clipboard()->setText(StatisticsText(value())); });
    connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
    dialog.resize(640, 360);
    (void)Services.ExecDialog(dialog);
}

void LogViewerWindow::BuildMenu(QLayout* layout)
{
    MenuBar = new QMenuBar(this);
    layout->setMenuBar(MenuBar);
    MenuView = MenuBar->addMenu(QStringLiteral("&View"));
    // The keys work while the plots have the focus, so that the arrows still move the cursor in
    // the filter box and the channel list.
    auto add = [this](const QString& text, const QKeySequence& key, auto&& slot) {
        auto* action = new QAction(text, this);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
        Plot->addAction(action);
        MenuView->addAction(action);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    add(QStringLiteral("Zoom In"), QKeySequence(Qt::Key_Plus), [this] { Plot->ZoomAboutCursor(0.5); });
    add(QStringLiteral("Zoom Out"), QKeySequence(Qt::Key_Minus), [this] { Plot->ZoomAboutCursor(2.0); });
    add(QStringLiteral("Pan Left"), QKeySequence(Qt::Key_Left), [this] { Plot->PanViews(-0.1); });
    add(QStringLiteral("Pan Right"), QKeySequence(Qt::Key_Right), [this] { Plot->PanViews(0.1); });
    add(QStringLiteral("Previous View"), QKeySequence(Qt::Key_PageUp), [this] { Plot->PanViews(-1.0); });
    add(QStringLiteral("Next View"), QKeySequence(Qt::Key_PageDown), [this] { Plot->PanViews(1.0); });
    add(QStringLiteral("Show Whole Log"), QKeySequence(Qt::Key_Home), [this] { Plot->ResetView(); });
    MenuView->addSeparator();
    add(QStringLiteral("Place Marker at Cursor"), QKeySequence(Qt::Key_M), [this] { Plot->MarkCursor(); });
    add(QStringLiteral("Remove Newest Marker"), QKeySequence(Qt::Key_Delete), [this] {
        if (!Plot->Markers().empty())
            Plot->RemoveMarker(Plot->Markers().size() - 1);
    });
    add(QStringLiteral("Clear Markers"), QKeySequence(), [this] { Plot->ClearMarkers(); });
    MenuView->addSeparator();
    add(QStringLiteral("XY View"), QKeySequence(), [this] { ShowXYView(!XYViewShown()); });
}

void LogViewerWindow::BuildXYPage()
{
    PageXY = new QWidget(this);
    auto* layout = new QVBoxLayout(PageXY);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* controls = new TQXGradPanel(PageXY);
    controls->setFixedHeight(33);
    auto* row = new QHBoxLayout(controls);
    row->setContentsMargins(6, 4, 6, 4);
    ComboX = ChannelChoice(*PlotData, false, controls);
    ComboY = ChannelChoice(*PlotData, false, controls);
    ComboColour = ChannelChoice(*PlotData, true, controls);
    ComboGrid = new QComboBox(controls);
    ComboGrid->addItem(QStringLiteral("CSV rows (export interval)"), static_cast<int>(XYGrid::ExportInterval));
    ComboGrid->addItem(QStringLiteral("every sample of X"), static_cast<int>(XYGrid::SamplesOfX));
    for (const auto& [caption, widget] : {std::pair{QStringLiteral("X:"), static_cast<QWidget*>(ComboX)},
                                          std::pair{QStringLiteral("Y:"), static_cast<QWidget*>(ComboY)},
                                          std::pair{QStringLiteral("Colour:"), static_cast<QWidget*>(ComboColour)},
                                          std::pair{QStringLiteral("Points at:"), static_cast<QWidget*>(ComboGrid)}}) {
        row->addWidget(new QLabel(caption, controls));
        row->addWidget(widget);
    }
    row->addStretch(1);
    PlotXY = new LogXYWidget(PageXY);
    PlotXY->setFont(ViewerFont());
    PlotXY->SetDecimalSeparator(Options.DecimalSeparator);
    layout->addWidget(controls);
    layout->addWidget(PlotXY, 1);

    // Engine speed across and the mixture up, where the log has them: the view tuners ask first.
    const size_t count = PlotData->ChannelCount();
    if (count != 0) {
        const size_t x = FirstOfGroup(*PlotData, ChannelGroup::EngineSpeed, count).value_or(0);
        const size_t y = FirstOfGroup(*PlotData, ChannelGroup::Mixture, x).value_or(count > 1 && x == 0 ? 1 : 0);
        ComboX->setCurrentIndex(static_cast<int>(x));
        ComboY->setCurrentIndex(static_cast<int>(y));
    }
    ComboColour->setCurrentIndex(0);
    for (QComboBox* combo : {ComboX, ComboY, ComboColour, ComboGrid})
        connect(combo, &QComboBox::currentIndexChanged, this, [this] { RefreshXY(); });
}

void LogViewerWindow::ShowXYView(bool shown)
{
    Views->setCurrentWidget(shown ? PageXY : static_cast<QWidget*>(Plot));
    ButtonXY->SetCaption(shown ? QStringLiteral("Time Plots") : QStringLiteral("XY View"));
    if (shown && XYStale)
        RefreshXY();
}

bool LogViewerWindow::XYViewShown() const
{
    return Views->currentWidget() == PageXY;
}

void LogViewerWindow::SetXYChannels(size_t x, size_t y, std::optional<size_t> colour)
{
    const QSignalBlocker blockX(ComboX);
    const QSignalBlocker blockY(ComboY);
    const QSignalBlocker blockColour(ComboColour);
    ComboX->setCurrentIndex(static_cast<int>(x));
    ComboY->setCurrentIndex(static_cast<int>(y));
    ComboColour->setCurrentIndex(colour ? static_cast<int>(*colour) + 1 : 0);
    RefreshXY();
}

QString LogViewerWindow::SetXYChannelsByName(const QStringList& names)
{
    if (names.size() < 2 || names.size() > 3)
        return QStringLiteral("The XY view takes two or three channel names, X,Y or X,Y,COLOUR.");
    std::vector<std::optional<size_t>> found(static_cast<size_t>(names.size()));
    for (size_t c = 0; c < PlotData->ChannelCount(); ++c) {
        const QString name = QString::fromStdString(StatsChannelName(PlotData->Log(), static_cast<uint32_t>(c)));
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (!found[static_cast<size_t>(i)] && name == names[i].trimmed())
                found[static_cast<size_t>(i)] = c;
        }
    }
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!found[static_cast<size_t>(i)])
            return QStringLiteral("There is no channel \"%1\" in %2.").arg(names[i].trimmed(), QFileInfo(LogPath).fileName());
    }
    SetXYChannels(*found[0], *found[1], names.size() == 3 ? found[2] : std::nullopt);
    return {};
}

void LogViewerWindow::RefreshXY()
{
    XYStale = false;
    if (PlotData->ChannelCount() == 0) {
        PlotXY->SetMessage(QStringLiteral("This log has no channels."));
        return;
    }
    XYRequest request;
    request.X = static_cast<uint32_t>(std::max(0, ComboX->currentIndex()));
    request.Y = static_cast<uint32_t>(std::max(0, ComboY->currentIndex()));
    request.HasColour = ComboColour->currentIndex() > 0;
    request.Colour = static_cast<uint32_t>(std::max(0, ComboColour->currentIndex() - 1));
    request.From = Plot->ViewStart();
    request.To = Plot->ViewEnd();
    request.Grid = static_cast<XYGrid>(ComboGrid->currentData().toInt());
    request.Interval = static_cast<float>(Options.ExportInterval);
    XYPoints points;
    const std::string problem = CollectXYPoints(PlotData->Log(), request, points);
    if (!problem.empty()) {
        PlotXY->SetMessage(QString::fromStdString(problem));
        return;
    }
    auto axis = [this](uint32_t channel) {
        return XYAxis{QString::fromStdString(StatsChannelName(PlotData->Log(), channel)), PlotData->ChannelDecimals(channel)};
    };
    const char separator = Options.DecimalSeparator;
    const QString caption =
        QStringLiteral("%1 points, %2 to %3 s, ")
            .arg(points.Count())
            .arg(SecondsText(request.From, separator), SecondsText(request.To, separator)) +
        (request.Grid == XYGrid::SamplesOfX
             ? QStringLiteral("at every sample of X")
             : QStringLiteral("every %1 s as the CSV").arg(QString::number(request.Interval, 'g', 6)));
    PlotXY->SetPoints(std::move(points), axis(request.X), axis(request.Y),
                      request.HasColour ? axis(request.Colour) : XYAxis{}, caption);
}

void LogViewerWindow::CompareExecute()
{
    OpenDialogRequest request;
    request.Filter = QStringLiteral("Display logs (*.displog)|*.displog");
    request.InitialDir = QFileInfo(LogPath).absolutePath();
    const QStringList files = Services.OpenFiles(this, request);
    if (!files.isEmpty())
        (void)CompareWith(files.front());
}

bool LogViewerWindow::CompareWith(const QString& path)
{
    auto data = std::make_unique<LogPlotData>();
    const std::string name = QFile::encodeName(path).toStdString();
    if (const uint32_t result = data->Open(name); result != 0) {
        Services.ShowError(this, QStringLiteral("Cannot open the log file \"%1\": %2")
                                     .arg(QDir::toNativeSeparators(path), QString::fromStdString(DispLogOpenFailure(name, result))));
        return false;
    }
    Plot->SetSecondLog(data.get(), 0.0);
    SecondData = std::move(data);
    SecondPath = path;
    {
        const QSignalBlocker block(SpinOffset);
        SpinOffset->setValue(0.0);
    }
    size_t matched = 0;
    for (size_t s = 0; s < Plot->ShownChannels().size(); ++s)
        matched += Plot->SecondChannelOfShown(s) != LogPlotWidget::NoChannel ? 1 : 0;
    LabelCompare->setText(QStringLiteral("Dashed: %1 (%2 of the shown channels),")
                              .arg(QFileInfo(path).fileName())
                              .arg(matched));
    PanelCompare->show();
    return true;
}

void LogViewerWindow::EndComparison()
{
    Plot->SetSecondLog(nullptr);
    SecondData.reset();
    SecondPath.clear();
    PanelCompare->hide();
}

void LogViewerWindow::SetComparisonOffset(double seconds)
{
    if (!SecondData)
        return;
    if (SpinOffset->value() != seconds) {
        const QSignalBlocker block(SpinOffset);
        SpinOffset->setValue(seconds);
    }
    Plot->SetSecondLog(SecondData.get(), SpinOffset->value());
}

void LogViewerWindow::BuildMarkersPanel()
{
    PanelMarkers = new TQXGradPanel(this);
    auto* layout = new QHBoxLayout(PanelMarkers);
    layout->setContentsMargins(6, 4, 6, 4);
    TableMarkers = new QTableWidget(PanelMarkers);
    TableMarkers->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TableMarkers->verticalHeader()->hide();
    TableMarkers->setFixedHeight(150);
    ButtonClearMarkers = new TQXGradButton(PanelMarkers);
    ButtonClearMarkers->SetCaption(QStringLiteral("Clear Markers"));
    ButtonClearMarkers->setFixedSize(110, 25);
    layout->addWidget(TableMarkers, 1);
    layout->addWidget(ButtonClearMarkers, 0, Qt::AlignTop);
    PanelMarkers->hide();
}

QString LogViewerWindow::MarkersText() const
{
    const std::vector<double>& markers = Plot->Markers();
    if (markers.empty())
        return {};
    const char separator = Options.DecimalSeparator;
    const size_t count = markers.size();
    const bool difference = count >= 2;
    const double first = markers[count - 2 + (difference ? 0 : 1)];
    const double second = markers[count - 1];
    QString text = QStringLiteral("channel");
    for (size_t m = 0; m < count; ++m)
        text += QStringLiteral("\tM%1").arg(m + 1);
    if (difference)
        text += QStringLiteral("\tM%1 - M%2").arg(count).arg(count - 1);
    text += QStringLiteral("\ntime (s)");
    for (const double t : markers)
        text += QLatin1Char('\t') + SecondsText(t, separator);
    if (difference)
        text += QLatin1Char('\t') + SecondsText(second - first, separator);
    text += QLatin1Char('\n');
    const DispLogFile& log = PlotData->Log();
    const std::vector<size_t>& shown = Plot->ShownChannels();
    const size_t rows = std::min(shown.size(), static_cast<size_t>(MaxMarkerRows));
    for (size_t r = 0; r < rows; ++r) {
        const size_t channel = shown[r];
        text += QString::fromStdString(PlotData->ChannelName(channel));
        for (const double t : markers)
            text += QLatin1Char('\t') + QString::fromStdString(PlotData->ValueText(channel, t, separator));
        if (difference) {
            // The change from one marker to the next, where the channel has a value at both.
            float a = 0;
            float b = 0;
            const auto index = static_cast<uint32_t>(channel);
            text += QLatin1Char('\t') + (log.GetValueAt(index, first, a) && log.GetValueAt(index, second, b)
                                             ? CsvNumberText(static_cast<double>(b) - a, PlotData->ChannelDecimals(channel), separator)
                                             : QStringLiteral("NAN"));
        }
        text += QLatin1Char('\n');
    }
    if (rows < shown.size())
        text += QStringLiteral("and %1 more channels\n").arg(shown.size() - rows);
    return text;
}

void LogViewerWindow::ShowMarkers()
{
    if (TableMarkers == nullptr)
        return;
    const QString text = MarkersText();
    PanelMarkers->setVisible(!text.isEmpty());
    FillTable(*TableMarkers, text);
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
                  const ViewerOptions& options, const ViewerStart& start)
{
    LogViewerWindow* first = nullptr;
    for (const QString& path : paths) {
        LogViewerWindow* window = OpenLogViewer(path, nullptr, services, options);
        if (first == nullptr)
            first = window;
    }
    if (first == nullptr)
        return 1;
    if (!start.Compare.isEmpty() && !first->CompareWith(start.Compare))
        return 1;
    if (!start.XYChannels.isEmpty()) {
        const QString problem = first->SetXYChannelsByName(start.XYChannels.split(QLatin1Char(',')));
        if (!problem.isEmpty()) {
            services.ShowError(first, problem);
            return 1;
        }
        first->ShowXYView(true);
    }
    if (!screenshot.isEmpty()) {
        // The picture has one size whatever the screen: the size a viewer is worked in.
        first->resize(LogViewerWindow::ScreenshotSize);
        QApplication::processEvents();
        if (!first->grab().toImage().save(screenshot, "PNG")) {
            std::fprintf(stderr, "tessaly: cannot write %s\n", qPrintable(screenshot));
            return 1;
        }
        return 0;
    }
    return QApplication::exec();
}
