// The viewer window: bad input named in a message, a log without channels, the channel list's
// filter and check boxes, the cursor readout, zooming and panning with the mouse, the two saves,
// dropped files, and the program entry's --view with --screenshot.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <map>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSortFilterProxyModel>
#include <QTableWidget>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "ChannelGroups.h"
#include "LogBytes.h"
#include "LogCsv.h"
#include "LogGenerator.h"
#include "LogPlotData.h"
#include "LogPlotWidget.h"
#include "LogViewerWindow.h"
#include "LogXYWidget.h"
#include "Qxgradbutton.h"
#include "ResultCodes.h"

namespace {

class ScriptedServices : public PlatformServices {
public:
    void ShowMessage(QWidget*, const QString& text, const QString& caption) override
    {
        Messages << caption + QStringLiteral(": ") + text;
    }
    void ShowError(QWidget*, const QString& text) override { Errors << text; }
    QStringList OpenFiles(QWidget*, const OpenDialogRequest&) override { return {}; }
    QString SelectFolder(QWidget*, const QString&, const QString& startFolder) override
    {
        StartFolders << startFolder;
        return ChosenFolder;
    }
    int ExecDialog(QDialog&) override { return 0; }

    QStringList Messages;
    QStringList Errors;
    QStringList StartFolders;
    QString ChosenFolder;
};

// Closes the windows a test opened (they delete themselves on close).
class ViewerWindows : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<LogViewerWindow*>(widget) != nullptr)
                widget->close();
        }
        QApplication::processEvents();
    }

    static std::vector<LogViewerWindow*> OpenWindows()
    {
        std::vector<LogViewerWindow*> windows;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<LogViewerWindow*>(widget); window != nullptr && window->isVisible())
                windows.push_back(window);
        }
        return windows;
    }

    QString WriteLog(const std::string& name, const LogSpec& spec) const
    {
        const std::string path = Folder.File(name);
        EXPECT_TRUE(WriteDispLog(path, spec));
        return QString::fromStdString(path);
    }

    static LogSpec SmallLog()
    {
        LogSpec spec;
        spec.DurationSeconds = 40;
        spec.CycleHz = 20;
        spec.NoValueProbability = 0.04;
        spec.Seed = 11;
        spec.Channels = RealisticChannels(2, 8);
        return spec;
    }

    TempFolder Folder;
    ScriptedServices Services;
};

// The channel list as the user sees it: the rows the filter leaves, by their channel.
std::vector<size_t> ListedChannels(const LogViewerWindow& window)
{
    const QAbstractItemModel& list = *window.ListChannels->model();
    std::vector<size_t> channels;
    for (int row = 0; row < list.rowCount(); ++row)
        channels.push_back(static_cast<size_t>(list.index(row, 0).data(Qt::UserRole).toULongLong()));
    return channels;
}

// Clicks a channel's box (checks or clears it) through the list's model.
void SetChannelChecked(const LogViewerWindow& window, size_t channel, bool checked)
{
    QAbstractItemModel& list = *window.ListChannels->model();
    for (int row = 0; row < list.rowCount(); ++row) {
        const QModelIndex index = list.index(row, 0);
        if (index.data(Qt::UserRole).toULongLong() == channel) {
            EXPECT_TRUE(list.flags(index).testFlag(Qt::ItemIsUserCheckable));
            EXPECT_TRUE(list.setData(index, checked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole));
            return;
        }
    }
    ADD_FAILURE() << "channel " << channel << " is not listed";
}

QString Field(const std::string& line, size_t index)
{
    size_t start = 0;
    for (size_t i = 0; i < index; ++i)
        start = line.find(',', start) + 1;
    const size_t end = line.find(',', start);
    return QString::fromStdString(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

} // namespace

// A log the reader refuses opens no window; the message names the file and the reader's code.
TEST_F(ViewerWindows, BadInputIsNamedInAMessage)
{
    LogBytes truncated(2, 1000);
    truncated.Bytes.resize(7);
    LogBytes unknown(2, 1000);
    unknown.Bytes[3] = 0x7F;
    const struct {
        std::string Name;
        std::vector<uint8_t> Bytes;
        uint32_t Code;
    } cases[] = {{"truncated.displog", truncated.Bytes, ERR_FILE_READ}, {"unknown.displog", unknown.Bytes, ERR_FILE_SIG}};
    for (const auto& bad : cases) {
        const QString path = QString::fromStdString(Folder.Write(bad.Name, bad.Bytes));
        Services.Errors.clear();
        EXPECT_EQ(OpenLogViewer(path, nullptr, Services), nullptr);
        ASSERT_EQ(Services.Errors.size(), 1);
        EXPECT_TRUE(Services.Errors[0].contains(QString::fromStdString(ResultCodeName(bad.Code)))) << bad.Name;
        EXPECT_TRUE(Services.Errors[0].contains(QString::fromStdString(bad.Name)));
    }
    Services.Errors.clear();
    EXPECT_EQ(OpenLogViewer(QString::fromStdString(Folder.File("missing.displog")), nullptr, Services), nullptr);
    ASSERT_EQ(Services.Errors.size(), 1);
    EXPECT_TRUE(Services.Errors[0].contains(QString::fromStdString(ResultCodeName(ERR_FILE_IHV))));
    EXPECT_TRUE(OpenWindows().empty());
}

// A log without channels opens with an empty plot and says so; saving its CSV is refused.
TEST_F(ViewerWindows, LogWithoutChannels)
{
    LogBytes empty(2, 1000);
    empty.Sample(0x01000101, 1.0f); // before the first time stamp: no channel
    const QString path = QString::fromStdString(Folder.Write("empty.displog", empty.Bytes));
    LogViewerWindow* window = OpenLogViewer(path, nullptr, Services);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(Services.Errors.isEmpty());
    EXPECT_EQ(window->ListChannels->model()->rowCount(), 0);
    EXPECT_TRUE(window->Plot->ShownChannels().empty());
    EXPECT_EQ(window->LabelStatus->text(), QStringLiteral("This log has no channels."));
    EXPECT_FALSE(window->Plot->RenderLayer().isNull());
    Services.ChosenFolder = QString::fromStdString(Folder.Path().string());
    window->SaveCsvExecute();
    EXPECT_EQ(Services.Messages, QStringList{QStringLiteral("Log Viewer: This log has no channels.")});
}

// The filter narrows the list, Show None and Show All act on what the filter leaves, and the
// plot shows exactly the checked channels.
TEST_F(ViewerWindows, FilterAndCheckBoxes)
{
    LogViewerWindow* window = OpenLogViewer(WriteLog("boxes.displog", SmallLog()), nullptr, Services);
    ASSERT_NE(window, nullptr);
    const QAbstractItemModel& list = *window->ListChannels->model();
    ASSERT_EQ(list.rowCount(), 8);
    EXPECT_EQ(window->Plot->ShownChannels().size(), 8u);
    // Each entry is named as the CSV header names the channel, and starts checked.
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(list.index(row, 0).data().toString().toStdString(), window->Data().ChannelName(static_cast<size_t>(row)));
        EXPECT_EQ(list.index(row, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    }

    window->SetFilter(QStringLiteral(" lqr "));
    std::vector<size_t> matching;
    for (size_t c = 0; c < 8; ++c) {
        if (QString::fromStdString(window->Data().ChannelName(c)).contains(QStringLiteral("LQR")))
            matching.push_back(c);
    }
    EXPECT_EQ(ListedChannels(*window), matching);
    ASSERT_FALSE(matching.empty());
    ASSERT_LT(matching.size(), 8u);
    // A channel the filter hides is not plotted.
    EXPECT_EQ(window->Plot->ShownChannels(), matching);

    window->CheckVisible(false);
    EXPECT_TRUE(window->Plot->ShownChannels().empty());
    std::vector<size_t> rest;
    for (size_t c = 0; c < 8; ++c) {
        if (std::find(matching.begin(), matching.end(), c) == matching.end())
            rest.push_back(c);
    }

    window->SetFilter(QString());
    EXPECT_EQ(ListedChannels(*window), (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(window->Plot->ShownChannels(), rest);
    window->CheckVisible(false);
    EXPECT_TRUE(window->Plot->ShownChannels().empty());
    SetChannelChecked(*window, 5, true);
    SetChannelChecked(*window, 2, true);
    EXPECT_EQ(window->Plot->ShownChannels(), (std::vector<size_t>{2, 5}));
    window->CheckVisible(true);
    EXPECT_EQ(window->Plot->ShownChannels().size(), 8u);
}

// A log of many channels lists them all but starts with only the first ones checked, and only
// the shown channels get an index; the filter and Show All work on the whole list.
TEST_F(ViewerWindows, ManyChannelsListedAndShownOnDemand)
{
    LogSpec spec;
    spec.CycleHz = 1;
    spec.CycleJitter = 0;
    spec.DurationSeconds = 1;
    spec.Channels.resize(5000);
    for (size_t c = 0; c < spec.Channels.size(); ++c) {
        spec.Channels[c].Id = 0x01000000u + static_cast<uint32_t>(c);
        spec.Channels[c].RateHz = 1;
    }
    LogViewerWindow* window = OpenLogViewer(WriteLog("many.displog", spec), nullptr, Services);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->ListChannels->model()->rowCount(), 5000);
    std::vector<size_t> first(ChannelListModel::InitiallyChecked);
    for (size_t c = 0; c < first.size(); ++c)
        first[c] = c;
    EXPECT_EQ(window->CheckedChannels(), first);
    EXPECT_EQ(window->Plot->ShownChannels(), first);
    EXPECT_FALSE(window->Plot->RenderLayer().isNull());
    EXPECT_EQ(window->Data().IndexedChannels(), first.size());

    // One entry by its whole name; checking it plots it and indexes it alone.
    const QString last = QString::fromStdString(window->Data().ChannelName(4999));
    window->SetFilter(last.toLower());
    EXPECT_EQ(ListedChannels(*window), std::vector<size_t>{4999});
    window->CheckVisible(true);
    EXPECT_EQ(window->Plot->ShownChannels().back(), 4999u);
    EXPECT_FALSE(window->Plot->RenderLayer().isNull());
    EXPECT_EQ(window->Data().IndexedChannels(), first.size() + 1);

    window->SetFilter(QString());
    window->CheckVisible(true);
    EXPECT_EQ(window->CheckedChannels().size(), 5000u);
}

// The cursor's readout at an instant of the CSV is the CSV's field there, and the mouse puts
// the cursor at the time under it.
TEST_F(ViewerWindows, CursorReadoutEqualsTheCsv)
{
    const QString log = WriteLog("cursor.displog", SmallLog());
    const std::string csv = Folder.File("cursor.csv");
    ASSERT_EQ(ConvertLogFileToCsv(log.toStdString(), csv, 0.25f), 0u);
    const std::string text = ReadText(csv);
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));

    LogViewerWindow* window = OpenLogViewer(log, nullptr, Services);
    ASSERT_NE(window, nullptr);
    LogPlotWidget& plot = *window->Plot;
    EXPECT_EQ(plot.ReadoutText(0), QString()); // no cursor yet
    double t = 0.0;
    int compared = 0;
    for (size_t row = 1; row < lines.size(); ++row, t += 0.25f) {
        if (row % 13 != 1)
            continue;
        plot.SetCursorTime(t);
        for (size_t c = 0; c < 8; ++c)
            EXPECT_EQ(plot.ReadoutText(c), Field(lines[row], c + 1)) << "row " << row << " channel " << c;
        ++compared;
    }
    EXPECT_GT(compared, 5);

    window->resize(900, 500);
    QApplication::processEvents();
    const QRect area = plot.PlotsArea();
    const QPoint point(area.left() + area.width() / 3, area.center().y());
    QTest::mouseMove(&plot, point);
    ASSERT_TRUE(plot.HasCursor());
    EXPECT_DOUBLE_EQ(plot.CursorTime(), plot.TimeAtX(point.x()));
    EXPECT_NEAR(plot.XOfTime(plot.CursorTime()), point.x(), 1e-6);
}

// The wheel zooms around the pointer, a right-button band zooms to the band, dragging pans and
// a double click shows the whole log again; the view never leaves the log.
TEST_F(ViewerWindows, ZoomPanAndReset)
{
    LogViewerWindow* window = OpenLogViewer(WriteLog("zoom.displog", SmallLog()), nullptr, Services);
    ASSERT_NE(window, nullptr);
    window->resize(1000, 600);
    QApplication::processEvents();
    LogPlotWidget& plot = *window->Plot;
    const double fullStart = plot.ViewStart();
    const double fullEnd = plot.ViewEnd();
    const QRect area = plot.PlotsArea();

    const QPointF at(area.left() + area.width() * 0.25, area.center().y());
    const double under = plot.TimeAtX(at.x());
    QWheelEvent wheel(at, plot.mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&plot, &wheel);
    EXPECT_NEAR(plot.ViewEnd() - plot.ViewStart(), (fullEnd - fullStart) * 0.64, 1e-9);
    EXPECT_NEAR(plot.TimeAtX(at.x()), under, 1e-9);

    const int x0 = area.left() + 100;
    const int x1 = area.left() + 300;
    const double t0 = plot.TimeAtX(x0);
    const double t1 = plot.TimeAtX(x1);
    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, QPoint(x0, area.center().y()));
    QTest::mouseMove(&plot, QPoint(x1, area.center().y()));
    QTest::mouseRelease(&plot, Qt::RightButton, Qt::NoModifier, QPoint(x1, area.center().y()));
    EXPECT_NEAR(plot.ViewStart(), t0, 1e-9);
    EXPECT_NEAR(plot.ViewEnd(), t1, 1e-9);

    // Dragging 100 pixels to the left moves the view later by 100 pixels' worth.
    const double perPixel = (plot.ViewEnd() - plot.ViewStart()) / area.width();
    const double before = plot.ViewStart();
    QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(x1, area.center().y()));
    QTest::mouseMove(&plot, QPoint(x1 - 100, area.center().y()));
    QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(x1 - 100, area.center().y()));
    EXPECT_NEAR(plot.ViewStart(), before + 100 * perPixel, 1e-9);

    // Panning far beyond the end stops at the end, zooming out stops at the whole log.
    plot.PanBy(1e6);
    EXPECT_EQ(plot.ViewEnd(), fullEnd);
    plot.ZoomAt(plot.ViewStart(), 1e6);
    EXPECT_EQ(plot.ViewStart(), fullStart);
    EXPECT_EQ(plot.ViewEnd(), fullEnd);
    plot.ZoomAt(10.0, 1e-12);
    EXPECT_NEAR(plot.ViewEnd() - plot.ViewStart(), LogPlotWidget::MinimumSpan, 1e-12);

    QTest::mouseDClick(&plot, Qt::LeftButton, Qt::NoModifier, area.center());
    EXPECT_EQ(plot.ViewStart(), fullStart);
    EXPECT_EQ(plot.ViewEnd(), fullEnd);
}

// Automatic plots hold one kind of channel each, at most six, on one scale; plots asked for by
// number take the channels in order, and a plot of mixed kinds fits each channel alone.
TEST_F(ViewerWindows, AutomaticPlotsGroupChannelsByKind)
{
    LogSpec spec = SmallLog();
    spec.Channels = RealisticChannels(2, 24);
    LogViewerWindow* window = OpenLogViewer(WriteLog("kinds.displog", spec), nullptr, Services);
    ASSERT_NE(window, nullptr);
    const LogPlotWidget& plot = *window->Plot;
    const std::vector<size_t>& shown = plot.ShownChannels();
    ASSERT_GT(shown.size(), 6u);
    std::map<int, std::vector<ChannelGroup>> kinds;
    for (size_t s = 0; s < shown.size(); ++s)
        kinds[plot.PlotOfShown(s)].push_back(ChannelGroupOf(window->Data().ChannelName(shown[s])));
    EXPECT_EQ(static_cast<int>(kinds.size()), plot.PlotCount());
    std::map<ChannelGroup, int> plotsOfKind;
    for (const auto& [index, members] : kinds) {
        EXPECT_LE(members.size(), 6u);
        EXPECT_TRUE(std::all_of(members.begin(), members.end(), [&](ChannelGroup g) { return g == members[0]; }));
        EXPECT_EQ(plot.PlotSharesScale(index), members.size() == 1 || members[0] != ChannelGroup::Other) << index;
        ++plotsOfKind[members[0]];
    }
    for (const auto& [group, count] : plotsOfKind) {
        const auto members = std::count_if(shown.begin(), shown.end(), [&](size_t c) {
            return ChannelGroupOf(window->Data().ChannelName(c)) == group;
        });
        EXPECT_EQ(count, (members + 5) / 6) << static_cast<int>(group);
    }

    window->Plot->SetPlotCount(1);
    EXPECT_EQ(plot.PlotCount(), 1);
    EXPECT_FALSE(plot.PlotSharesScale(0));
}

// The statistics of the shown channels over the visible range, as text to copy: count, the
// least, greatest and mean value, and the time the value stayed above the threshold.
TEST_F(ViewerWindows, StatisticsOfTheVisibleRange)
{
    LogBytes bytes(2, 1000);
    for (uint32_t i = 0; i < 4; ++i)
        bytes.TimeStamp(i * 1000).Sample(0x01000101, static_cast<float>(1 + 2 * i));
    LogViewerWindow* window =
        OpenLogViewer(QString::fromStdString(Folder.Write("stats.displog", bytes.Bytes)), nullptr, Services);
    ASSERT_NE(window, nullptr);
    window->Plot->SetView(0.0, 3.0);
    EXPECT_EQ(window->StatisticsText(2.0).toStdString(),
              "channel\tcount\tmin\tmax\tmean\ttime above 2 s\n"
              "LQR Lambda 1\t4\t1.000\t7.000\t4.000\t2.000\n");
    window->Plot->SetView(1.5, 3.0);
    EXPECT_EQ(window->StatisticsText(6.0).toStdString(),
              "channel\tcount\tmin\tmax\tmean\ttime above 6 s\n"
              "LQR Lambda 1\t2\t5.000\t7.000\t6.000\t0.000\n");
    window->StatisticsExecute(); // the scripted services close the dialog at once
    EXPECT_TRUE(Services.Errors.isEmpty());
}

// The keys: + and - zoom about the middle of the view (or the cursor), Left and Right pan a
// tenth of the view, Page Up and Page Down a whole view, Home shows the whole log.
TEST_F(ViewerWindows, KeysZoomAndPan)
{
    LogViewerWindow* window = OpenLogViewer(WriteLog("keys.displog", SmallLog()), nullptr, Services);
    ASSERT_NE(window, nullptr);
    LogPlotWidget& plot = *window->Plot;
    plot.SetView(10.0, 30.0);
    QTest::keyClick(&plot, Qt::Key_Plus);
    EXPECT_DOUBLE_EQ(plot.ViewStart(), 15.0);
    EXPECT_DOUBLE_EQ(plot.ViewEnd(), 25.0);
    QTest::keyClick(&plot, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(plot.ViewStart(), 16.0);
    QTest::keyClick(&plot, Qt::Key_PageUp);
    EXPECT_DOUBLE_EQ(plot.ViewStart(), 6.0);
    EXPECT_DOUBLE_EQ(plot.ViewEnd(), 16.0);
    plot.SetCursorTime(8.0);
    QTest::keyClick(&plot, Qt::Key_Minus);
    EXPECT_DOUBLE_EQ(plot.ViewStart(), 4.0);
    EXPECT_DOUBLE_EQ(plot.ViewEnd(), 24.0);
    QTest::keyClick(&plot, Qt::Key_Home);
    EXPECT_EQ(plot.ViewStart(), plot.FullStart());
    EXPECT_EQ(plot.ViewEnd(), plot.FullEnd());

    // A second viewer cascades from the first instead of covering it.
    LogViewerWindow* second = OpenLogViewer(WriteLog("keys2.displog", SmallLog()), nullptr, Services);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->pos(), window->pos() + QPoint(LogViewerWindow::CascadeStep, LogViewerWindow::CascadeStep));
}

// Save Range writes the visible range's rows of the full conversion at the export interval;
// Save Picture writes the plot as a PNG; both say where, in the chosen folder.
TEST_F(ViewerWindows, SavesPictureAndRange)
{
    const QString log = WriteLog("save.displog", SmallLog());
    ViewerOptions options;
    options.ExportInterval = 0.5;
    LogViewerWindow* window = OpenLogViewer(log, nullptr, Services, options);
    ASSERT_NE(window, nullptr);
    window->Plot->SetView(10.0, 20.0);
    Services.ChosenFolder = QString::fromStdString(Folder.File("out"));
    std::filesystem::create_directory(Folder.File("out"));
    window->SaveCsvExecute();
    ASSERT_TRUE(Services.Errors.isEmpty()) << Services.Errors.join('\n').toStdString();
    const std::string saved = ReadText(Folder.File("out/save 10.000-20.000 s.csv"));

    const std::string full = Folder.File("full.csv");
    ASSERT_EQ(ConvertLogFileToCsv(log.toStdString(), full, 0.5f), 0u);
    const std::string text = ReadText(full);
    std::string expected = text.substr(0, text.find("\r\n") + 2);
    double t = 0.0;
    for (size_t start = expected.size(), end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2, t += 0.5f) {
        if (t >= 10.0 && t <= 20.0)
            expected += text.substr(start, end + 2 - start);
    }
    EXPECT_EQ(saved, expected);
    ASSERT_EQ(Services.Messages.size(), 1);
    EXPECT_TRUE(Services.Messages[0].startsWith(QStringLiteral("Log Viewer: Saved ")));

    // The picture: a title line with the log's name and the range over the plots; the status
    // line says where it went.
    window->SavePictureExecute();
    const QImage picture(QString::fromStdString(Folder.File("out/save.png")));
    EXPECT_EQ(picture.width(), window->Plot->width());
    EXPECT_GT(picture.height(), window->Plot->height());
    EXPECT_EQ(picture.copy(0, picture.height() - window->Plot->height(), picture.width(), window->Plot->height()),
              window->Plot->grab().toImage().convertToFormat(picture.format()));
    EXPECT_TRUE(window->LabelStatus->text().startsWith(QStringLiteral("Saved "))) << window->LabelStatus->text().toStdString();
    EXPECT_TRUE(window->LabelStatus->text().contains(QStringLiteral("save.png")));
    EXPECT_EQ(Services.Messages.size(), 1);

    // Only the shown channels go into the range CSV, each column as the conversion writes it.
    window->SetFilter(QStringLiteral("lqr"));
    window->SaveCsvExecute();
    const std::string narrowed = ReadText(Folder.File("out/save 10.000-20.000 s.csv"));
    const std::string header = narrowed.substr(0, narrowed.find("\r\n"));
    EXPECT_NE(header.find("LQR"), std::string::npos) << header;
    EXPECT_EQ(std::count(header.begin(), header.end(), ','), static_cast<long>(window->Plot->ShownChannels().size()));
    EXPECT_EQ(std::count(narrowed.begin(), narrowed.end(), '\n'), std::count(saved.begin(), saved.end(), '\n'));
    window->SetFilter(QString());

    // The folder offered first is the log's own unless the options name one.
    EXPECT_EQ(Services.StartFolders,
              QStringList(3, QFileInfo(log).absolutePath()));

    // Cancelled folder choice: nothing saved, nothing said.
    Services.ChosenFolder.clear();
    window->SaveCsvExecute();
    window->SavePictureExecute();
    EXPECT_EQ(Services.Messages.size(), 2);
    EXPECT_TRUE(Services.Errors.isEmpty());
}

// A log with a tick rate of 0 (every sample at 0 s) and one whose counter jumps by years both
// open and draw their channels; zooming deep into the far end stays possible.
TEST_F(ViewerWindows, DegenerateTimeAxesDraw)
{
    LogBytes still(2, 0);
    LogBytes jump(2, 10);
    for (uint32_t i = 0; i < 50; ++i) {
        still.TimeStamp(100 + i).Sample(0x01000101, static_cast<float>(i));
        jump.TimeStamp(i).Sample(0x01000101, static_cast<float>(i % 7));
    }
    jump.TimeStamp(0xF0000000u).Sample(0x01000101, 3.0f);
    for (const auto& [name, bytes] : {std::pair{"still.displog", still.Bytes}, std::pair{"jump.displog", jump.Bytes}}) {
        LogViewerWindow* window =
            OpenLogViewer(QString::fromStdString(Folder.Write(name, bytes)), nullptr, Services);
        ASSERT_NE(window, nullptr) << name;
        window->resize(900, 500);
        QApplication::processEvents();
        LogPlotWidget& plot = *window->Plot;
        EXPECT_GT(plot.ViewEnd(), plot.ViewStart());
        auto drawn = [&plot] {
            const QImage& image = plot.RenderLayer();
            const QRgb colour = LogPlotWidget::ChannelColor(0).rgb() & 0xFFFFFF;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if ((image.pixel(x, y) & 0xFFFFFF) == colour)
                        return true;
                }
            }
            return false;
        };
        EXPECT_TRUE(drawn()) << name;
        plot.SetView(plot.FullEnd() - 0.002, plot.FullEnd());
        EXPECT_NEAR(plot.ViewEnd() - plot.ViewStart(), 0.002, 1e-6) << name;
        (void)plot.RenderLayer();
        plot.SetCursorTime(plot.ViewStart());
        EXPECT_FALSE(plot.ReadoutText(0).isEmpty());
    }
    EXPECT_TRUE(Services.Errors.isEmpty());
}

// Dropped .displog files open in windows of their own; other files are left alone.
TEST_F(ViewerWindows, DroppedLogsOpenWindows)
{
    LogViewerWindow* window = OpenLogViewer(WriteLog("first.displog", SmallLog()), nullptr, Services);
    ASSERT_NE(window, nullptr);
    const QString second = WriteLog("second.DISPLOG", SmallLog());
    const QString other = QString::fromStdString(Folder.Write("notes.txt", {'h', 'i'}));
    window->OpenDroppedFiles({second, other});
    const std::vector<LogViewerWindow*> windows = OpenWindows();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_TRUE(std::any_of(windows.begin(), windows.end(), [&](LogViewerWindow* w) { return w->Path() == second; }));
    EXPECT_TRUE(Services.Errors.isEmpty());
}

// Every channel is drawn in its own colour: the picture of a log holds each shown channel's
// colour, and a channel that is not shown is not drawn.
TEST_F(ViewerWindows, ChannelsAreDrawnInTheirColours)
{
    LogViewerWindow* window = OpenLogViewer(WriteLog("colours.displog", SmallLog()), nullptr, Services);
    ASSERT_NE(window, nullptr);
    window->resize(1000, 600);
    QApplication::processEvents();
    SetChannelChecked(*window, 3, false);
    const QImage& image = window->Plot->RenderLayer();
    auto holds = [&image](QRgb colour) {
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if ((line[x] & 0xFFFFFF) == (colour & 0xFFFFFF))
                    return true;
            }
        }
        return false;
    };
    for (size_t c = 0; c < 8; ++c)
        EXPECT_EQ(holds(LogPlotWidget::ChannelColor(c).rgb()), c != 3) << c;
}

// tessaly --view LOG --screenshot PICTURE saves the viewer with the log drawn and ends; a log
// that cannot be read ends with its message on standard error.
TEST_F(ViewerWindows, ProgramEntryViewsAndSavesAPicture)
{
    const QString log = WriteLog("entry.displog", SmallLog());
    const QString picture = QString::fromStdString(Folder.File("entry.png"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(Folder.File("config")));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TESSALY_WINDOW), {QStringLiteral("--view"), log, QStringLiteral("--screenshot"), picture});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QImage image(picture);
    ASSERT_FALSE(image.isNull());
    bool drawn = false;
    const QRgb first = LogPlotWidget::ChannelColor(0).rgb() & 0xFFFFFF;
    for (int y = 0; y < image.height() && !drawn; ++y) {
        for (int x = 300; x < image.width() && !drawn; ++x)
            drawn = (image.pixel(x, y) & 0xFFFFFF) == first;
    }
    EXPECT_TRUE(drawn);

    const QString bad = QString::fromStdString(Folder.Write("bad.displog", {1, 2, 3}));
    process.start(QStringLiteral(TESSALY_WINDOW), {QStringLiteral("--view"), bad, QStringLiteral("--screenshot"), picture});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains(ResultCodeName(ERR_FILE_READ).c_str()));

    // Straight into the XY view of channels named as the CSV names them; a name the log lacks
    // ends the run.
    LogPlotData data;
    ASSERT_EQ(data.Open(log.toStdString()), 0u);
    const QString pair = QString::fromStdString(data.ChannelName(2)).trimmed() + QLatin1Char(',') +
                         QString::fromStdString(data.ChannelName(0)).trimmed();
    QFile::remove(picture);
    process.start(QStringLiteral(TESSALY_WINDOW), {QStringLiteral("--view"), log, QStringLiteral("--xy"), pair,
                                                   QStringLiteral("--screenshot"), picture});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(QImage(picture).size(), LogViewerWindow::ScreenshotSize);
    process.start(QStringLiteral(TESSALY_WINDOW), {QStringLiteral("--view"), log, QStringLiteral("--xy"),
                                                   QStringLiteral("Nothing,Else"), QStringLiteral("--screenshot"), picture});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains("no channel \"Nothing\""));
}

// Legends stand beside the plots and the cursor's time above them: with the cursor on, what is
// on screen inside the plots and on the time axis is the plot image itself. Every plot has
// labels on its y axis.
TEST_F(ViewerWindows, LegendsAndCursorLabelLeaveThePlotsAndAxesClear)
{
    LogSpec spec = SmallLog();
    spec.Channels = RealisticChannels(2, 24);
    LogViewerWindow* window = OpenLogViewer(WriteLog("legends.displog", spec), nullptr, Services);
    ASSERT_NE(window, nullptr);
    window->resize(1600, 900);
    QApplication::processEvents();
    LogPlotWidget& plot = *window->Plot;
    const QRect area = plot.PlotsArea();
    ASSERT_GT(plot.LegendWidth(), 0);
    EXPECT_LE(area.right() + plot.LegendWidth(), plot.width());
    plot.SetCursorTime((plot.ViewStart() + plot.ViewEnd()) / 2);
    const QImage layer = plot.RenderLayer().copy();
    const QImage screen = plot.grab().toImage().convertToFormat(layer.format());
    const double cursorX = plot.XOfTime(plot.CursorTime());
    size_t differing = 0;
    for (int y = area.top(); y < plot.height(); ++y) {
        for (int x = 0; x <= area.right(); ++x) {
            // The cursor's own line is the one thing drawn over the plots.
            if (std::abs(x - cursorX) <= 1 && y <= area.bottom())
                continue;
            differing += layer.pixel(x, y) != screen.pixel(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0u);
    // Labels stand out of the gradient behind them, which is the same along a row.
    for (int p = 0; p < plot.PlotCount(); ++p) {
        const QRect rect = plot.PlotRect(p);
        bool labelled = false;
        for (int y = rect.top(); y <= rect.bottom() && !labelled; ++y) {
            for (int x = 2; x < rect.left() - 3 && !labelled; ++x)
                labelled = layer.pixel(x, y) != layer.pixel(1, y);
        }
        EXPECT_TRUE(labelled) << "plot " << p;
    }
    // Too narrow for a legend column: the legends fold away and the plots take the width.
    window->resize(600, 500);
    QApplication::processEvents();
    if (plot.width() < 480) {
        EXPECT_EQ(plot.LegendWidth(), 0);
    }
}

// A click places a marker, a second one too; the table lists both with the values of every
// shown channel as the CSV writes them and the difference of the two. A double click places
// none, a right click on a marker removes it, M and Delete do the same at the cursor.
TEST_F(ViewerWindows, MarkersListValuesAndTheirDifference)
{
    LogBytes bytes(2, 1000);
    for (uint32_t i = 0; i <= 10; ++i)
        bytes.TimeStamp(i * 1000).Sample(0x01000101, static_cast<float>(i) * 0.5f).Sample(0x03000101, 1000.0f + 100.0f * i);
    LogViewerWindow* window =
        OpenLogViewer(QString::fromStdString(Folder.Write("markers.displog", bytes.Bytes)), nullptr, Services);
    ASSERT_NE(window, nullptr);
    window->resize(1000, 600);
    QApplication::processEvents();
    LogPlotWidget& plot = *window->Plot;
    plot.SetView(0.0, 10.0);
    const int y = plot.PlotRect(0).center().y();
    auto xOf = [&plot](double t) { return static_cast<int>(std::lround(plot.XOfTime(t))); };
    QTest::mouseClick(&plot, Qt::LeftButton, {}, QPoint(xOf(2.0), y));
    QTest::mouseClick(&plot, Qt::LeftButton, {}, QPoint(xOf(6.0), y));
    ASSERT_EQ(plot.Markers().size(), 2u);
    EXPECT_EQ(plot.ViewStart(), 0.0); // a click does not pan
    const double t1 = plot.Markers()[0];
    const double t2 = plot.Markers()[1];
    EXPECT_NEAR(t1, 2.0, 0.02);
    EXPECT_NEAR(t2, 6.0, 0.02);
    const QStringList lines = window->MarkersText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("channel\tM1\tM2\tM2 - M1"));
    const LogPlotData& data = window->Data();
    auto csv = [&data](size_t channel, double t) { return QString::fromStdString(data.ValueText(channel, t)); };
    EXPECT_EQ(lines[1].split(QLatin1Char('\t')).at(3), QString::number(t2 - t1, 'f', 3));
    const QStringList lambda = lines[2].split(QLatin1Char('\t'));
    EXPECT_EQ(lambda.at(1), csv(0, t1));
    EXPECT_EQ(lambda.at(2), csv(0, t2));
    EXPECT_EQ(lambda.at(3), QString::number((t2 - t1) * 0.5, 'f', 3));
    const QStringList rpm = lines[3].split(QLatin1Char('\t'));
    EXPECT_EQ(rpm.at(2), csv(1, t2));
    EXPECT_TRUE(window->TableMarkers->isVisibleTo(window));
    EXPECT_EQ(window->TableMarkers->rowCount(), 3);

    // A double click: the press and release of its first click, then the double click.
    QTest::mouseClick(&plot, Qt::LeftButton, {}, QPoint(xOf(8.0), y));
    QTest::mouseDClick(&plot, Qt::LeftButton, {}, QPoint(xOf(8.0), y));
    EXPECT_EQ(plot.Markers().size(), 2u);
    QTest::mouseClick(&plot, Qt::RightButton, {}, QPoint(xOf(t1) + 1, y));
    ASSERT_EQ(plot.Markers().size(), 1u);
    EXPECT_EQ(plot.Markers()[0], t2);
    plot.SetCursorTime(4.0);
    QTest::keyClick(&plot, Qt::Key_M);
    EXPECT_EQ(plot.Markers().back(), 4.0);
    QTest::keyClick(&plot, Qt::Key_Delete);
    EXPECT_EQ(plot.Markers().size(), 1u);
    for (size_t i = 0; i < LogPlotWidget::MaxMarkers + 2; ++i)
        plot.AddMarker(static_cast<double>(i));
    EXPECT_EQ(plot.Markers().size(), LogPlotWidget::MaxMarkers);
    EXPECT_EQ(plot.Markers().back(), LogPlotWidget::MaxMarkers + 1.0);
    window->ButtonClearMarkers->Click();
    EXPECT_TRUE(plot.Markers().empty());
    EXPECT_TRUE(window->MarkersText().isEmpty());
    EXPECT_FALSE(window->TableMarkers->isVisibleTo(window));
}

// A second log is drawn over the first: its namesakes on the same scale, read at the cursor
// moved back by the offset, the view reaching over both logs; one that cannot be read is
// named in a message and changes nothing.
TEST_F(ViewerWindows, ComparedLogIsDrawnOverTheFirst)
{
    LogBytes first(2, 1000);
    LogBytes second(2, 1000);
    for (uint32_t i = 0; i <= 10; ++i) {
        first.TimeStamp(i * 1000).Sample(0x01000101, 1.0f);
        second.TimeStamp(i * 1000).Sample(0x01000101, 2.0f + static_cast<float>(i)).Sample(0x03000101, 5000.0f);
    }
    LogViewerWindow* window =
        OpenLogViewer(QString::fromStdString(Folder.Write("first.displog", first.Bytes)), nullptr, Services);
    ASSERT_NE(window, nullptr);
    const QString other = QString::fromStdString(Folder.Write("second.displog", second.Bytes));
    EXPECT_FALSE(window->CompareWith(QString::fromStdString(Folder.Write("broken.displog", {1, 2, 3}))));
    EXPECT_EQ(Services.Errors.size(), 1);
    EXPECT_EQ(window->Plot->SecondLog(), nullptr);

    ASSERT_TRUE(window->CompareWith(other));
    LogPlotWidget& plot = *window->Plot;
    ASSERT_NE(plot.SecondLog(), nullptr);
    ASSERT_EQ(plot.ShownChannels().size(), 1u);
    EXPECT_EQ(plot.SecondChannelOfShown(0), 0u); // by name: the lambda channel, not the RPM
    window->SetComparisonOffset(5.0);
    EXPECT_EQ(plot.SecondOffset(), 5.0);
    EXPECT_EQ(plot.FullEnd(), 15.0);
    plot.SetView(0.0, 15.0);
    plot.SetCursorTime(8.0);
    EXPECT_EQ(plot.ReadoutText(0), QStringLiteral("1.000"));
    EXPECT_EQ(plot.SecondReadoutText(0), QStringLiteral("5.000")); // 8 - 5 = 3 s into the second
    plot.SetCursorTime(4.0);
    EXPECT_EQ(plot.SecondReadoutText(0), QStringLiteral("NAN"));   // before the second log starts
    EXPECT_TRUE(window->Picture().width() > 0);

    window->EndComparison();
    EXPECT_EQ(plot.SecondLog(), nullptr);
    EXPECT_EQ(plot.FullEnd(), 10.0);
    EXPECT_EQ(plot.SecondReadoutText(0), QString());
}

// The XY view shows the time plots' visible range, its channels chosen by name; names the log
// does not have are refused.
TEST_F(ViewerWindows, XYViewFollowsTheTimeRange)
{
    LogViewerWindow* window = OpenLogViewer(WriteLog("xy.displog", SmallLog()), nullptr, Services);
    ASSERT_NE(window, nullptr);
    ViewerOptions options;
    const LogPlotData& data = window->Data();
    auto trimmed = [&data](size_t c) { return QString::fromStdString(data.ChannelName(c)).trimmed(); };
    EXPECT_EQ(window->SetXYChannelsByName({trimmed(2), trimmed(0), trimmed(3)}), QString());
    window->ShowXYView(true);
    EXPECT_TRUE(window->XYViewShown());
    const size_t whole = window->PlotXY->Points().Count();
    EXPECT_GT(whole, 20u);
    window->Plot->SetView(10.0, 20.0);
    const size_t part = window->PlotXY->Points().Count();
    EXPECT_GT(part, 0u);
    EXPECT_LT(part, whole);
    EXPECT_FALSE(window->PlotXY->Points().Colour.empty());
    EXPECT_NE(window->SetXYChannelsByName({QStringLiteral("No Such"), trimmed(0)}).indexOf(QStringLiteral("No Such")), -1);
    EXPECT_FALSE(window->SetXYChannelsByName({trimmed(0)}).isEmpty());
    window->ShowXYView(false);
    EXPECT_FALSE(window->XYViewShown());
}
