#pragma once
// The log viewer: one top-level window per ".displog" file, with the channel list (check boxes
// and a filter) beside the stacked plots, and commands to show the whole log again, save the
// view as a picture, save the visible time range as CSV, show its statistics, show one channel
// against another (the XY view) and compare the log with a second one drawn over it. Markers
// placed on the plots are listed under them. Files dropped on it open in windows of their own.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "PlatformServices.h"

class LogPlotData;
class LogPlotWidget;
class LogXYWidget;
class QComboBox;
class QDoubleSpinBox;
class QLayout;
class QMenu;
class QMenuBar;
class QStackedWidget;
class QTableWidget;
class QLabel;
class QLineEdit;
class QListView;
class QSortFilterProxyModel;
class TQXGradButton;
class TQXGradPanel;

struct ViewerOptions {
    // Seconds between two CSV rows (the export interval setting), narrowed to single precision as
    // the conversion narrows it.
    double ExportInterval = 1.0;
    // Decimal separator of the CSV and of the readout.
    char DecimalSeparator = '.';
    // Folder the save commands offer first; empty: the log's own folder.
    QString SaveFolder;
};

// The user's decimal separator for CSV numbers where it is one 8-bit character, else '.': the
// one the window's conversions use.
char RegionalCsvSeparator();

// The log's channels as a list model: one row per channel in channel order, its name as the CSV
// header writes it, its colour swatch and its check box. Rows are made only when a view asks for
// them, so a log of a million channels costs a byte per channel here.
class ChannelListModel : public QAbstractListModel {
public:
    // Channels up to this many start checked; of a log with more, the first ones, as a plot of
    // more channels cannot be read and each costs its drawing.
    static constexpr size_t InitiallyChecked = 64;

    ChannelListModel(const LogPlotData& data, QObject* parent);

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

    [[nodiscard]] bool IsChecked(size_t channel) const { return Checked[channel] != 0; }
    // Checks or clears the given channels (any order) with one change signal.
    void SetChecked(const std::vector<size_t>& channels, bool checked);
    [[nodiscard]] std::vector<size_t> CheckedChannels() const;

private:
    const LogPlotData& Data;
    std::vector<uint8_t> Checked;
    mutable QHash<QRgb, QPixmap> Swatches;
};

class LogViewerWindow : public QWidget {
    Q_OBJECT

public:
    // The window takes the opened data. parent may be null; with a parent the window is still a
    // window of its own, closed with its parent.
    LogViewerWindow(QWidget* parent, std::unique_ptr<LogPlotData> data, const QString& path,
                    PlatformServices& services, const ViewerOptions& options);
    ~LogViewerWindow() override;

    [[nodiscard]] const LogPlotData& Data() const { return *PlotData; }
    [[nodiscard]] const QString& Path() const { return LogPath; }

    // The channels whose box is checked, in channel order.
    [[nodiscard]] std::vector<size_t> CheckedChannels() const;
    // Shows only the list entries whose name contains text (any case), leading and trailing
    // blanks aside.
    void SetFilter(const QString& text);
    // Checks or clears every entry the filter leaves in the list.
    void CheckVisible(bool checked);

    // Saves Picture() as a PNG file the user names ("<log name>.png" offered); the status line
    // says where.
    void SavePictureExecute();
    // The plots (with cursor and legends) under a title line with the log's file name and the
    // visible time range.
    [[nodiscard]] QImage Picture() const;
    // Saves the shown channels over the visible time range at the export interval as
    // "<log name> <from>-<to> s.csv" in a folder the user chooses.
    void SaveCsvExecute();
    // The statistics of the shown channels over the visible time range, as tab-separated text:
    // a header line "channel, count, min, max, mean, time above THRESHOLD s", then a line per
    // channel (values with the channel's CSV decimals, "NAN" without a finite value).
    [[nodiscard]] QString StatisticsText(double threshold) const;
    // Shows StatisticsText as a table with the threshold to edit and a command that copies the
    // text.
    void StatisticsExecute();

    // The XY view in place of the time plots (or back). It shows the visible time range of the
    // plots, at the export interval's instants or at every sample of X.
    void ShowXYView(bool shown);
    [[nodiscard]] bool XYViewShown() const;
    // Chooses the XY view's channels (colour: none when empty) and shows them.
    void SetXYChannels(size_t x, size_t y, std::optional<size_t> colour);
    // The same by the names the CSV header gives them (trailing blanks aside), X, Y and an
    // optional colour channel; empty on success, else the text to show.
    QString SetXYChannelsByName(const QStringList& names);
    // Collects and draws the XY view's points again.
    void RefreshXY();

    // Draws the log at path over this one, dashed, for comparison; false (the user told why)
    // when it cannot be read.
    bool CompareWith(const QString& path);
    // Asks for the log to compare with (it replaces one compared before), then CompareWith.
    void CompareExecute();
    void EndComparison();
    // Moves the compared log's times on by seconds (negative: back).
    void SetComparisonOffset(double seconds);

    // The markers' table as tab-separated text: a header line ("channel", each marker with
    // its time, and the difference of the last two), a line of times, then a line per shown
    // channel with its values as the CSV writes them. Empty without markers.
    [[nodiscard]] QString MarkersText() const;
    // Rows of the markers' table at most: a log with thousands of channels shown lists the first.
    static constexpr int MaxMarkerRows = 200;

    // The size of the window in a picture saved by tessaly --view --screenshot.
    static constexpr QSize ScreenshotSize{1600, 900};

    // Offset of a new viewer from the newest one open, in pixels.
    static constexpr int CascadeStep = 32;
    // Opens each dropped ".displog" file in a window of its own.
    void OpenDroppedFiles(const QStringList& paths);

    QMenuBar* MenuBar = nullptr;
    QMenu* MenuView = nullptr; // the plots' keys
    TQXGradPanel* PanelChannels = nullptr;
    QLineEdit* EditFilter = nullptr;
    QListView* ListChannels = nullptr;
    ChannelListModel* ChannelModel = nullptr;
    QSortFilterProxyModel* ChannelFilter = nullptr; // the model of ListChannels
    TQXGradButton* ButtonShowAll = nullptr;
    TQXGradButton* ButtonShowNone = nullptr;
    QComboBox* ComboPlots = nullptr;
    LogPlotWidget* Plot = nullptr;
    TQXGradPanel* PanelCommands = nullptr;
    TQXGradButton* ButtonReset = nullptr;
    TQXGradButton* ButtonSavePicture = nullptr;
    TQXGradButton* ButtonSaveCsv = nullptr;
    TQXGradButton* ButtonStatistics = nullptr;
    TQXGradButton* ButtonXY = nullptr;
    TQXGradButton* ButtonCompare = nullptr;
    QStackedWidget* Views = nullptr; // the time plots, or the XY view
    QWidget* PageXY = nullptr;
    QComboBox* ComboX = nullptr;
    QComboBox* ComboY = nullptr;
    QComboBox* ComboColour = nullptr; // row 0: none
    QComboBox* ComboGrid = nullptr;
    LogXYWidget* PlotXY = nullptr;
    TQXGradPanel* PanelCompare = nullptr;
    QLabel* LabelCompare = nullptr;
    QDoubleSpinBox* SpinOffset = nullptr;
    TQXGradButton* ButtonEndCompare = nullptr;
    QWidget* PanelMarkers = nullptr;
    QTableWidget* TableMarkers = nullptr;
    TQXGradButton* ButtonClearMarkers = nullptr;
    QLabel* LabelStatus = nullptr;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildDesign();
    void BuildMenu(QLayout* layout);
    void BuildXYPage();
    void BuildMarkersPanel();
    void ShowMarkers();
    void ShownChanged();
    void ShowStatus();
    [[nodiscard]] QString BaseName() const;
    [[nodiscard]] QString StartFolder() const;

    std::unique_ptr<LogPlotData> PlotData;
    std::unique_ptr<LogPlotData> SecondData; // the log compared with, while there is one
    QString SecondPath;
    bool XYStale = true; // the view changed while the XY view was hidden
    QString LogPath;
    PlatformServices& Services;
    ViewerOptions Options;
};

// Opens the log at path in a new viewer window, shown. When the log cannot be read, tells the user
// (the reader's result code by name, through services.ShowError) and returns null. The window
// deletes itself when closed; with a parent it is also closed with the parent.
LogViewerWindow* OpenLogViewer(const QString& path, QWidget* parent, PlatformServices& services,
                               const ViewerOptions& options = {});

// Platform services for a run without anyone to answer a box: messages and errors go to standard
// error, dialogs are cancelled.
class ConsoleServices : public PlatformServices {
public:
    void ShowMessage(QWidget* owner, const QString& text, const QString& caption) override;
    void ShowError(QWidget* owner, const QString& text) override;
    QStringList OpenFiles(QWidget* owner, const OpenDialogRequest& request) override;
    QString SelectFolder(QWidget* owner, const QString& caption, const QString& startFolder) override;
    int ExecDialog(QDialog& dialog) override;
};

// How tessaly --view opens its first window: straight into the XY view of these channels ("X,Y"
// or "X,Y,COLOUR", by name), and with a second log drawn over it.
struct ViewerStart {
    QString XYChannels;
    QString Compare;
};

// tessaly --view FILE... [--xy X,Y[,C]] [--compare FILE] [--screenshot PICTURE]: a viewer window
// per file, then the event loop until the last one is closed. With a picture path, saves the
// first window once its log is drawn and returns (services should then not show boxes). Returns
// the exit code: 1 when no file opened, the XY channels or the compared log cannot be had, or
// the picture cannot be written.
int RunLogViewers(const QStringList& paths, const QString& screenshot, PlatformServices& services,
                  const ViewerOptions& options, const ViewerStart& start = {});
