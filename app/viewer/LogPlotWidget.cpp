#include "LogPlotWidget.h"

#include <algorithm>
#include <cmath>

#include <QMouseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QWheelEvent>

#include "AxisTicks.h"
#include "ChannelGroups.h"
#include "Drawingutils.h"
#include "LogCsv.h"
#include "LogPlotData.h"

namespace {

// Room for the value labels of a plot's y axis.
constexpr int MarginLeft = 56;
constexpr int MarginRight = 8;
constexpr int AxisHeight = 22;
constexpr int PlotGap = 6;
constexpr int ChannelsPerAutoPlot = 6;
// The legend column: never wider than this share of the widget, and folded away below the
// narrowest width that leaves the plots room.
constexpr double LegendShare = 0.3;
constexpr int LegendLeast = 90;
constexpr int FoldLegendsBelow = 480;
// Second-log traces: this many pixel columns drawn, as many left out.
constexpr int DashColumns = 4;
// A click farther than this from where the button went down is a drag, not a click.
constexpr int ClickSlack = 3;
const QColor MarkerColor(0xc0, 0x50, 0x00);
// Coordinates handed to the painter stay within this distance of the widget: a sample years
// outside the view would otherwise overflow the rasteriser's fixed-point numbers.
constexpr double CoordinateLimit = 1e6;

double Clamp(double value)
{
    return std::clamp(value, -CoordinateLimit, CoordinateLimit);
}

QString TimeLabel(double t, double step)
{
    if (std::fabs(t) >= 1e9)
        return QString::number(t, 'g', 12);
    const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step))), 0, 6);
    return QString::number(t, 'f', decimals);
}

} // namespace

LogPlotWidget::LogPlotWidget(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 200);
    setFocusPolicy(Qt::StrongFocus);
}

void LogPlotWidget::SetData(const LogPlotData* data)
{
    Data = data;
    Shown.clear();
    Ranges.clear();
    Second = nullptr;
    SecondByName.clear();
    MarkerTimes.clear();
    Arrange();
    CursorShown = false;
    ResetView();
}

void LogPlotWidget::SetSecondLog(const LogPlotData* second, double offset)
{
    Second = second;
    Offset = std::isfinite(offset) ? offset : 0.0;
    SecondByName.clear();
    if (Second != nullptr) {
        SecondByName.reserve(Second->ChannelCount());
        for (size_t c = 0; c < Second->ChannelCount(); ++c)
            SecondByName.emplace(Second->ChannelName(c), c);
    }
    Arrange();
    // The whole of both logs stays within reach.
    SetView(Start, End);
    Invalidate();
}

size_t LogPlotWidget::SecondChannelOfShown(size_t position) const
{
    return position < SecondOf.size() ? SecondOf[position] : NoChannel;
}

QString LogPlotWidget::SecondReadoutText(size_t position) const
{
    const size_t channel = SecondChannelOfShown(position);
    if (!CursorShown || Second == nullptr || channel == NoChannel)
        return {};
    return QString::fromStdString(Second->ValueText(channel, Cursor - Offset, Separator));
}

void LogPlotWidget::AddMarker(double t)
{
    if (!std::isfinite(t))
        return;
    if (MarkerTimes.size() == MaxMarkers)
        MarkerTimes.erase(MarkerTimes.begin());
    MarkerTimes.push_back(t);
    update();
    emit MarkersChanged();
}

void LogPlotWidget::RemoveMarker(size_t index)
{
    if (index >= MarkerTimes.size())
        return;
    MarkerTimes.erase(MarkerTimes.begin() + static_cast<std::ptrdiff_t>(index));
    update();
    emit MarkersChanged();
}

void LogPlotWidget::ClearMarkers()
{
    if (MarkerTimes.empty())
        return;
    MarkerTimes.clear();
    update();
    emit MarkersChanged();
}

size_t LogPlotWidget::MarkerNear(int x) const
{
    size_t nearest = NoChannel;
    double distance = ClickSlack + 3.0;
    for (size_t m = 0; m < MarkerTimes.size(); ++m) {
        const double d = std::fabs(XOfTime(MarkerTimes[m]) - x);
        if (d <= distance) {
            distance = d;
            nearest = m;
        }
    }
    return nearest;
}

void LogPlotWidget::SetShownChannels(std::vector<size_t> channels)
{
    const size_t count = Data != nullptr ? Data->ChannelCount() : 0;
    std::erase_if(channels, [count](size_t c) { return c >= count; });
    Shown = std::move(channels);
    Arrange();
    Invalidate();
}

void LogPlotWidget::SetPlotCount(int count)
{
    PlotSetting = std::max(0, count);
    Arrange();
    Invalidate();
}

void LogPlotWidget::Arrange()
{
    const size_t shown = Shown.size();
    PlotOf.assign(shown, 0);
    Plots = 1;
    SharedScale.assign(1, true);
    SecondOf.assign(shown, NoChannel);
    LegendNeed = 0;
    if (shown == 0)
        return;
    if (Second != nullptr) {
        for (size_t s = 0; s < shown; ++s) {
            const auto found = SecondByName.find(Data->ChannelName(Shown[s]));
            if (found != SecondByName.end())
                SecondOf[s] = found->second;
        }
    }
    std::vector<ChannelGroup> groups(shown);
    for (size_t s = 0; s < shown; ++s)
        groups[s] = ChannelGroupOf(Data->ChannelName(Shown[s]));
    if (PlotSetting > 0) {
        // As many plots as asked, the channels in their order.
        Plots = std::min(PlotSetting, static_cast<int>(shown));
        for (size_t s = 0; s < shown; ++s)
            PlotOf[s] = static_cast<int>(s * static_cast<size_t>(Plots) / shown);
    } else {
        // One kind of channel to a plot, at most six channels to a plot, the kinds in the
        // table's order and each kind's channels in their order.
        std::vector<size_t> order(shown);
        for (size_t s = 0; s < shown; ++s)
            order[s] = s;
        std::stable_sort(order.begin(), order.end(), [&groups](size_t a, size_t b) { return groups[a] < groups[b]; });
        int plot = -1;
        int inPlot = ChannelsPerAutoPlot;
        ChannelGroup group = ChannelGroup::Other;
        for (const size_t s : order) {
            if (inPlot == ChannelsPerAutoPlot || plot < 0 || groups[s] != group) {
                ++plot;
                inPlot = 0;
                group = groups[s];
            }
            PlotOf[s] = plot;
            ++inPlot;
        }
        Plots = plot + 1;
    }
    // A plot of one channel, or of channels of one kind, has one scale for all of them; the
    // channels of no known kind are each fitted alone.
    SharedScale.assign(static_cast<size_t>(Plots), true);
    std::vector<int> firstGroup(static_cast<size_t>(Plots), -1);
    for (size_t s = 0; s < shown; ++s) {
        int& first = firstGroup[static_cast<size_t>(PlotOf[s])];
        if (first < 0)
            first = static_cast<int>(groups[s]);
        else if (first != static_cast<int>(groups[s]) || groups[s] == ChannelGroup::Other)
            SharedScale[static_cast<size_t>(PlotOf[s])] = false;
    }
    // The legend column is as wide as a name and its readout ask (two values with a second log,
    // and the range of a channel on a scale of its own), of the channels a legend can list.
    const QFontMetrics metrics(font());
    int valueWidth = metrics.horizontalAdvance(QStringLiteral("-00000.000  ")) * (Second != nullptr ? 2 : 1);
    if (std::find(SharedScale.begin(), SharedScale.end(), uint8_t{0}) != SharedScale.end())
        valueWidth += metrics.horizontalAdvance(QStringLiteral("  (-00000.000 \u2026 -00000.000)"));
    for (size_t s = 0; s < std::min<size_t>(shown, 64); ++s)
        LegendNeed = std::max(LegendNeed, metrics.horizontalAdvance(QString::fromStdString(Data->ChannelName(Shown[s]))));
    LegendNeed += valueWidth + 30;
}

int LogPlotWidget::PlotCount() const
{
    return Plots;
}

int LogPlotWidget::PlotOfShown(size_t position) const
{
    return position < PlotOf.size() ? PlotOf[position] : 0;
}

bool LogPlotWidget::PlotSharesScale(int plot) const
{
    return plot >= 0 && static_cast<size_t>(plot) < SharedScale.size() && SharedScale[static_cast<size_t>(plot)];
}

void LogPlotWidget::SetDecimalSeparator(char separator)
{
    Separator = separator;
    Invalidate();
}

double LogPlotWidget::FullStart() const
{
    const double start = Data != nullptr ? Data->FirstTime() : 0.0;
    return Second != nullptr ? std::min(start, Second->FirstTime() + Offset) : start;
}

double LogPlotWidget::FullEnd() const
{
    const double start = FullStart();
    double end = Data != nullptr ? Data->LastTime() : 1.0;
    if (Second != nullptr)
        end = std::max(end, Second->LastTime() + Offset);
    // A log of one instant (or a tick rate of 0) still gets a time axis to draw on.
    return end - start >= MinimumSpan ? end : start + 1.0;
}

void LogPlotWidget::SetView(double start, double end)
{
    if (!std::isfinite(start) || !std::isfinite(end))
        return;
    if (end < start)
        std::swap(start, end);
    const double fullStart = FullStart();
    const double fullEnd = FullEnd();
    double span = std::clamp(end - start, MinimumSpan, fullEnd - fullStart);
    start = std::clamp(start, fullStart, fullEnd - span);
    // Far from 0 a span can lose its last bits in the sum: keep the end inside the log.
    const double newEnd = std::min(start + span, fullEnd);
    if (start == Start && newEnd == End)
        return;
    Start = start;
    End = newEnd;
    Invalidate();
    emit ViewChanged();
}

void LogPlotWidget::ResetView()
{
    Start = FullStart();
    End = FullEnd();
    Invalidate();
    emit ViewChanged();
}

void LogPlotWidget::ZoomAt(double t, double factor)
{
    if (!(factor > 0) || !std::isfinite(factor))
        return;
    t = std::clamp(t, Start, End);
    SetView(t - (t - Start) * factor, t + (End - t) * factor);
}

void LogPlotWidget::PanBy(double seconds)
{
    SetView(Start + seconds, End + seconds);
}

void LogPlotWidget::SetCursorTime(double t)
{
    CursorShown = true;
    Cursor = t;
    update();
    emit CursorMoved();
}

void LogPlotWidget::ClearCursor()
{
    if (!CursorShown)
        return;
    CursorShown = false;
    update();
    emit CursorMoved();
}

QString LogPlotWidget::ReadoutText(size_t channel) const
{
    if (!CursorShown || Data == nullptr || channel >= Data->ChannelCount())
        return {};
    return QString::fromStdString(Data->ValueText(channel, Cursor, Separator));
}

int LogPlotWidget::TopMargin() const
{
    // Room for the cursor's time and the markers' names above the plots.
    return QFontMetrics(font()).height() + 8;
}

int LogPlotWidget::LegendWidth() const
{
    if (Shown.empty() || width() < FoldLegendsBelow)
        return 0;
    return std::clamp(LegendNeed, LegendLeast, std::max(LegendLeast, static_cast<int>(width() * LegendShare)));
}

QRect LogPlotWidget::PlotsArea() const
{
    const int top = TopMargin();
    return QRect(MarginLeft, top, std::max(1, width() - MarginLeft - MarginRight - LegendWidth()),
                 std::max(1, height() - top - AxisHeight));
}

QRect LogPlotWidget::PlotRect(int plot) const
{
    const QRect area = PlotsArea();
    const int count = PlotCount();
    const int each = std::max(1, (area.height() - PlotGap * (count - 1)) / count);
    return QRect(area.left(), area.top() + plot * (each + PlotGap), area.width(), each);
}

double LogPlotWidget::TimeAtX(double x) const
{
    const QRect area = PlotsArea();
    return Start + (x - area.left()) * (End - Start) / area.width();
}

double LogPlotWidget::XOfTime(double t) const
{
    const QRect area = PlotsArea();
    return area.left() + (t - Start) * area.width() / (End - Start);
}

QColor LogPlotWidget::ChannelColor(size_t channel)
{
    static const QColor Colors[] = {
        QColor(0x1f, 0x4e, 0xc8), QColor(0xd0, 0x20, 0x20), QColor(0x10, 0x90, 0x30), QColor(0xe0, 0x80, 0x00),
        QColor(0x80, 0x30, 0xb0), QColor(0x00, 0x90, 0x90), QColor(0xa0, 0x60, 0x20), QColor(0xd0, 0x30, 0xa0),
        QColor(0x60, 0x80, 0x00), QColor(0x00, 0x30, 0x80), QColor(0x80, 0x00, 0x20), QColor(0x50, 0x50, 0x50),
    };
    constexpr size_t Named = std::size(Colors);
    if (channel < Named)
        return Colors[channel];
    // Further channels step round the hue circle by the golden angle, so neighbours differ.
    return QColor::fromHsv(static_cast<int>((channel * 137 + 20) % 360), 210, 170);
}

void LogPlotWidget::Invalidate()
{
    LayerValid = false;
    update();
}

const QImage& LogPlotWidget::RenderLayer()
{
    BuildLayer();
    return Layer;
}

void LogPlotWidget::BuildLayer()
{
    ++Builds;
    if (Layer.size() != size())
        Layer = QImage(size(), QImage::Format_RGB32);
    QPainter painter(&Layer);
    DrawGradientVert(painter, TRect{0, 0, width(), height()}, clGradientInactiveCaption, clInactiveCaption);

    const int plots = PlotCount();
    for (int p = 0; p < plots; ++p) {
        const QRect rect = PlotRect(p);
        painter.fillRect(rect, QColor(0xfc, 0xfc, 0xfa));
        DrawFrameLines(painter, TRect{rect.left() - 1, rect.top() - 1, rect.right() + 2, rect.bottom() + 2},
                       clInactiveCaptionText, SystemColorBase | 20);
    }
    DrawTimeAxis(painter, PlotsArea());

    Ranges.assign(Shown.size(), ShownRange{});
    for (size_t s = 0; s < Shown.size(); ++s) {
        const size_t channel = Shown[s];
        ShownRange& range = Ranges[s];
        float low = 0.0f;
        float high = 0.0f;
        // Fitted to what is visible; a channel without a value in view keeps its whole range.
        if (Data->ValueRange(channel, Start, End, low, high) ||
            Data->ValueRange(channel, FullStart(), std::nextafter(FullEnd(), 1e300), low, high)) {
            range.HasValue = true;
            range.Low = low;
            range.High = high;
        }
        // The second log's namesake is drawn on the same scale: its values in view count too.
        const size_t second = SecondChannelOfShown(s);
        if (second != NoChannel && Second->ValueRange(second, Start - Offset, End - Offset, low, high)) {
            range.Low = range.HasValue ? std::min<double>(range.Low, low) : low;
            range.High = range.HasValue ? std::max<double>(range.High, high) : high;
            range.HasValue = true;
        }
    }
    // Channels of a plot with one scale share the range of them all.
    std::vector<ShownRange> plotRanges(static_cast<size_t>(plots));
    for (size_t s = 0; s < Shown.size(); ++s) {
        ShownRange& shared = plotRanges[static_cast<size_t>(PlotOfShown(s))];
        if (!Ranges[s].HasValue)
            continue;
        shared.Low = shared.HasValue ? std::min(shared.Low, Ranges[s].Low) : Ranges[s].Low;
        shared.High = shared.HasValue ? std::max(shared.High, Ranges[s].High) : Ranges[s].High;
        shared.HasValue = true;
    }
    for (size_t s = 0; s < Shown.size(); ++s) {
        ShownRange& range = Ranges[s];
        if (PlotSharesScale(PlotOfShown(s)) && plotRanges[static_cast<size_t>(PlotOfShown(s))].HasValue)
            range = plotRanges[static_cast<size_t>(PlotOfShown(s))];
        if (range.High - range.Low <= 0.0) {
            const double pad = std::max(1.0, std::fabs(range.Low) * 0.05);
            range.Low -= pad;
            range.High += pad;
        }
    }
    // Every plot has a y axis: its shared scale, or else the scale of its first channel, labelled
    // in that channel's colour (the legend gives the others' ranges).
    for (int p = 0; p < plots; ++p) {
        for (size_t s = 0; s < Shown.size(); ++s) {
            if (PlotOfShown(s) == p) {
                DrawValueAxis(painter, PlotRect(p), Ranges[s], Data->ChannelDecimals(Shown[s]),
                              PlotSharesScale(p) ? ToQColor(clCaptionText) : ChannelColor(Shown[s]));
                break;
            }
        }
    }

    PlotColumns columns;
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (size_t s = 0; s < Shown.size(); ++s) {
        const size_t channel = Shown[s];
        const QRect rect = PlotRect(PlotOfShown(s));
        const ShownRange& range = Ranges[s];
        Data->Decimate(channel, Start, End, rect.width(), columns);
        painter.save();
        painter.setClipRect(rect);
        painter.setPen(QPen(ChannelColor(channel), 0));
        DrawChannel(painter, columns, rect, range, ChannelColor(channel).rgb(), 0.0, false);
        const size_t second = SecondChannelOfShown(s);
        if (second != NoChannel) {
            Second->Decimate(second, Start - Offset, End - Offset, rect.width(), columns);
            painter.setPen(QPen(ChannelColor(channel), 0, Qt::DashLine));
            DrawChannel(painter, columns, rect, range, ChannelColor(channel).rgb(), Offset, true);
        }
        painter.restore();
    }
    if (Data == nullptr || Data->ChannelCount() == 0 || Shown.empty()) {
        painter.setPen(ToQColor(clCaptionText));
        painter.drawText(PlotRect(0), Qt::AlignCenter,
                         Data == nullptr || Data->ChannelCount() == 0 ? QStringLiteral("This log has no channels.")
                                                                       : QStringLiteral("No channel is shown."));
    }
    LayerValid = true;
}

void LogPlotWidget::DrawValueAxis(QPainter& painter, const QRect& rect, const ShownRange& range, int decimals,
                                  const QColor& labelColor) const
{
    const QFontMetrics metrics(font());
    const double span = range.High - range.Low;
    if (!(span > 0) || !std::isfinite(span) || rect.height() < metrics.height())
        return;
    const double step = NiceStep(span / std::max(1.0, rect.height() / (metrics.height() * 2.5)));
    const double first = std::ceil(range.Low / step) * step;
    for (int k = 0; k < 64; ++k) {
        const double value = first + k * step;
        if (value > range.High)
            break;
        const double y = rect.bottom() - (value - range.Low) * rect.height() / span;
        const int yi = static_cast<int>(std::lround(Clamp(y)));
        painter.setPen(QColor(0xe4, 0xe4, 0xe4));
        painter.drawLine(rect.left(), yi, rect.right(), yi);
        painter.setPen(labelColor);
        const QString label = TickText(value, step, decimals, Separator);
        const int w = metrics.horizontalAdvance(label);
        painter.drawText(std::max(0, rect.left() - 4 - w),
                         std::clamp(yi + metrics.ascent() / 2 - 1, rect.top() + metrics.ascent() - 2,
                                    rect.bottom() + 2),
                         label);
    }
}

void LogPlotWidget::DrawTimeAxis(QPainter& painter, const QRect& area) const
{
    const double span = End - Start;
    const double step = NiceStep(span / std::max(1.0, area.width() / 110.0));
    const QFontMetrics metrics(font());
    const double first = std::ceil(Start / step) * step;
    // At most a few dozen labels, whatever the numbers.
    for (int k = 0; k < 64; ++k) {
        const double t = first + k * step;
        if (t > End)
            break;
        const int x = static_cast<int>(std::lround(Clamp(XOfTime(t))));
        painter.setPen(QColor(0xdd, 0xdd, 0xdd));
        for (int p = 0; p < PlotCount(); ++p) {
            const QRect rect = PlotRect(p);
            painter.drawLine(x, rect.top(), x, rect.bottom());
        }
        painter.setPen(ToQColor(clCaptionText));
        const QString label = TimeLabel(std::fabs(t) < step * 1e-9 ? 0.0 : t, step);
        const int w = metrics.horizontalAdvance(label);
        painter.drawText(std::clamp(x - w / 2, 0, std::max(0, width() - w)), area.bottom() + 4 + metrics.ascent(), label);
    }
    painter.setPen(ToQColor(clCaptionText));
    const QString unit = QStringLiteral("s");
    painter.drawText(width() - MarginRight - metrics.horizontalAdvance(unit), height() - 3, unit);
}

void LogPlotWidget::DrawChannel(QPainter& painter, const PlotColumns& data, const QRect& rect,
                                const ShownRange& range, QRgb color, double shift, bool dashed)
{
    // Pixels are written straight into the image below: only inside it.
    if (!Layer.rect().contains(rect))
        return;
    const double top = rect.top() + 3.0;
    const double height = std::max(1.0, rect.height() - 7.0);
    const double scale = height / (range.High - range.Low);
    auto y = [&](double value) { return Clamp(top + (range.High - value) * scale); };
    auto x = [&](double t) { return Clamp(XOfTime(t + shift)); };
    auto row = [&](double yy) { return std::clamp(static_cast<int>(std::lround(yy)), rect.top(), rect.bottom()); };

    // A column full of samples is one vertical run of pixels from its lowest to its highest
    // value, written straight into the image: with dense samples that is nearly every pixel of
    // the plot, and the painter would take several times as long per pixel. The line from the
    // previous column joins the run; lines across empty columns (few samples in view) are drawn
    // by the painter.
    auto* bits = reinterpret_cast<QRgb*>(Layer.bits());
    const qsizetype stride = Layer.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    auto run = [&](int column, int from, int to) {
        if (dashed && (column / DashColumns) % 2 == 1)
            return;
        if (from > to)
            std::swap(from, to);
        QRgb* pixel = bits + from * stride + column;
        for (int r = from; r <= to; ++r, pixel += stride)
            *pixel = color;
    };

    // A line joins two samples only where both have a value: that is where the reader
    // interpolates, and everything else is a gap.
    struct Last {
        bool Valid = false;
        double X = 0.0;
        double Y = 0.0;
        long Column = -2;
    } last;
    if (data.Before.Present && data.Before.Valid)
        last = {true, x(data.Before.Time), y(data.Before.Value), -2};
    for (size_t c = 0; c < data.Columns.size(); ++c) {
        const PlotColumn& column = data.Columns[c];
        if (!column.HasSamples)
            continue;
        const int px = rect.left() + static_cast<int>(c);
        int low = rect.bottom() + 1;
        int high = rect.top() - 1;
        auto include = [&](double yy) {
            const int r = row(yy);
            low = std::min(low, r);
            high = std::max(high, r);
        };
        if (column.FirstValid) {
            const double firstY = y(column.First);
            if (last.Valid && last.Column + 1 >= static_cast<long>(c))
                include(last.Y);
            else if (last.Valid)
                painter.drawLine(QPointF(last.X, last.Y), QPointF(std::clamp(x(column.FirstTime), px + 0.0, px + 0.99), firstY));
            include(firstY);
        }
        if (column.HasValue) {
            include(y(column.Min));
            include(y(column.Max));
        }
        if (column.LastValid)
            include(y(column.Last));
        if (low <= high)
            run(px, low, high);
        last = {column.LastValid, std::clamp(x(column.LastTime), px + 0.0, px + 0.99), y(column.Last),
                static_cast<long>(c)};
    }
    if (last.Valid && data.After.Present && data.After.Valid)
        painter.drawLine(QPointF(last.X, last.Y), QPointF(x(data.After.Time), y(data.After.Value)));
}

void LogPlotWidget::DrawOverlay(QPainter& painter) const
{
    const QFontMetrics metrics(font());
    const QRect area = PlotsArea();
    if (Dragging == Drag::Band) {
        const QRect band(QPoint(std::min(PressPoint.x(), DragPoint.x()), area.top()),
                         QPoint(std::max(PressPoint.x(), DragPoint.x()), area.bottom()));
        painter.fillRect(band, QColor(40, 90, 200, 50));
        painter.setPen(QColor(40, 90, 200));
        painter.drawRect(band);
    }
    // Markers: a line through the plots, named above them.
    for (size_t m = 0; m < MarkerTimes.size(); ++m) {
        const double x = XOfTime(MarkerTimes[m]);
        if (x < area.left() || x > area.right())
            continue;
        painter.setPen(QPen(MarkerColor, 1));
        painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        const QString name = QStringLiteral("M%1").arg(m + 1);
        const int w = metrics.horizontalAdvance(name) + 6;
        const QRect box(std::clamp(static_cast<int>(x) - w / 2, 0, std::max(0, width() - w)), 2, w,
                        area.top() - 4);
        painter.fillRect(box, MarkerColor);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, name);
    }
    if (CursorShown) {
        const double x = XOfTime(Cursor);
        if (x >= area.left() && x <= area.right()) {
            painter.setPen(QPen(QColor(0x30, 0x30, 0x30), 1, Qt::DashLine));
            painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
            // The cursor's time above the plots, clear of the time axis and its labels.
            const QString label = CsvNumberText(Cursor, 3, Separator) + QStringLiteral(" s");
            const int w = metrics.horizontalAdvance(label) + 8;
            const QRect box(std::clamp(static_cast<int>(x) - w / 2, 0, std::max(0, width() - w)), 2, w,
                            area.top() - 4);
            painter.fillRect(box, QColor(0x30, 0x30, 0x30));
            painter.setPen(Qt::white);
            painter.drawText(box, Qt::AlignCenter, label);
        }
    }
    DrawLegends(painter);
}

void LogPlotWidget::DrawLegends(QPainter& painter) const
{
    const int legendWidth = LegendWidth();
    if (legendWidth == 0)
        return;
    const QFontMetrics metrics(font());
    const int line = metrics.height();
    const int left = PlotsArea().right() + 8;
    const int textWidth = legendWidth - 30;
    // Per plot, beside it: each channel's name and, with the cursor, its value there (and the
    // second log's after it), else the range its own scale spans.
    std::vector<std::vector<size_t>> byPlot(static_cast<size_t>(PlotCount()));
    for (size_t s = 0; s < Shown.size() && s < Ranges.size(); ++s)
        byPlot[static_cast<size_t>(PlotOfShown(s))].push_back(s);
    for (int plot = 0; plot < PlotCount(); ++plot) {
        const std::vector<size_t>& members = byPlot[static_cast<size_t>(plot)];
        if (members.empty())
            continue;
        const QRect rect = PlotRect(plot);
        // Only the rows that fit are written, the last of them counting the rest: with
        // thousands of channels shown, the others would cost their formatting on every move of
        // the cursor.
        const size_t rowsThatFit = static_cast<size_t>(std::max(1, rect.height() / line));
        const size_t listed = members.size() <= rowsThatFit ? members.size() : rowsThatFit - 1;
        for (size_t i = 0; i < listed; ++i) {
            const size_t k = members[i];
            const int decimals = Data->ChannelDecimals(Shown[k]);
            QString text = QString::fromStdString(Data->ChannelName(Shown[k])) + QStringLiteral("  ");
            if (CursorShown) {
                text += ReadoutText(Shown[k]);
                if (SecondChannelOfShown(k) != NoChannel)
                    text += QStringLiteral("  ") + SecondReadoutText(k);
            }
            // A channel on a scale of its own tells it (a shared scale is on the axis).
            if (Ranges[k].HasValue && !PlotSharesScale(plot)) {
                const QString range = CsvNumberText(Ranges[k].Low, decimals, Separator) + QStringLiteral(" \u2026 ") +
                                      CsvNumberText(Ranges[k].High, decimals, Separator);
                text += CursorShown ? QStringLiteral("  (") + range + QLatin1Char(')') : range;
            }
            const int top = rect.top() + static_cast<int>(i) * line;
            const QColor color = ChannelColor(Shown[k]);
            painter.fillRect(QRect(left, top + line / 2 - 2, 8, 4), color);
            if (SecondChannelOfShown(k) != NoChannel) {
                // The second log's trace is dashed: so is its mark.
                painter.fillRect(QRect(left + 10, top + line / 2 - 2, 3, 4), color);
                painter.fillRect(QRect(left + 15, top + line / 2 - 2, 3, 4), color);
            }
            painter.setPen(QColor(0x10, 0x10, 0x10));
            painter.drawText(left + 22, top + metrics.ascent(), metrics.elidedText(text, Qt::ElideMiddle, textWidth));
        }
        if (listed < members.size()) {
            painter.setPen(ToQColor(clCaptionText));
            painter.drawText(left + 22, rect.top() + static_cast<int>(listed) * line + metrics.ascent(),
                             QStringLiteral("and %1 more").arg(members.size() - listed));
        }
    }
}

void LogPlotWidget::paintEvent(QPaintEvent*)
{
    if (!LayerValid || Layer.size() != size())
        BuildLayer();
    QPainter painter(this);
    painter.drawImage(0, 0, Layer);
    DrawOverlay(painter);
}

void LogPlotWidget::resizeEvent(QResizeEvent*)
{
    Invalidate();
}

void LogPlotWidget::wheelEvent(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0.0)
        return;
    ZoomAt(TimeAtX(event->position().x()), std::pow(0.8, steps));
    event->accept();
}

void LogPlotWidget::ZoomAboutCursor(double factor)
{
    ZoomAt(CursorShown && Cursor >= Start && Cursor <= End ? Cursor : (Start + End) / 2, factor);
}

void LogPlotWidget::PanViews(double views)
{
    PanBy((End - Start) * views);
}

void LogPlotWidget::MarkCursor()
{
    if (CursorShown)
        AddMarker(Cursor);
}

void LogPlotWidget::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: ZoomAboutCursor(0.5); break;
    case Qt::Key_Minus: ZoomAboutCursor(2.0); break;
    case Qt::Key_Left: PanViews(-0.1); break;
    case Qt::Key_Right: PanViews(0.1); break;
    case Qt::Key_PageUp: PanViews(-1.0); break;
    case Qt::Key_PageDown: PanViews(1.0); break;
    case Qt::Key_Home: ResetView(); break;
    case Qt::Key_M:
        if (!CursorShown)
            return QWidget::keyPressEvent(event);
        MarkCursor();
        break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (MarkerTimes.empty())
            return QWidget::keyPressEvent(event);
        RemoveMarker(MarkerTimes.size() - 1);
        break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void LogPlotWidget::mousePressEvent(QMouseEvent* event)
{
    PressPoint = event->position().toPoint();
    DragPoint = PressPoint;
    PressStart = Start;
    PressMoved = false;
    if (event->button() == Qt::RightButton ||
        (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier)))
        Dragging = Drag::Band;
    else if (event->button() == Qt::LeftButton)
        Dragging = Drag::Pan;
}

void LogPlotWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    // A few pixels of wobble keep a click a click.
    if (Dragging != Drag::None && (point - PressPoint).manhattanLength() > ClickSlack)
        PressMoved = true;
    if (Dragging == Drag::Pan && PressMoved) {
        const double perPixel = (End - Start) / PlotsArea().width();
        const double span = End - Start;
        const double start = PressStart - (point.x() - PressPoint.x()) * perPixel;
        SetView(start, start + span);
    } else if (Dragging == Drag::Band) {
        DragPoint = point;
        update();
    }
    const QRect area = PlotsArea();
    if (point.x() >= area.left() && point.x() <= area.right())
        SetCursorTime(TimeAtX(point.x()));
    else
        ClearCursor();
}

void LogPlotWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (Dragging == Drag::Band) {
        const int x0 = std::min(PressPoint.x(), event->position().toPoint().x());
        const int x1 = std::max(PressPoint.x(), event->position().toPoint().x());
        Dragging = Drag::None;
        // A click without a band is no zoom; a right click on a marker removes it.
        if (PressMoved && x1 - x0 >= 3)
            SetView(TimeAtX(x0), TimeAtX(x1));
        else if (event->button() == Qt::RightButton)
            RemoveMarker(MarkerNear(event->position().toPoint().x()));
        update();
        return;
    }
    const QRect area = PlotsArea();
    const int x = event->position().toPoint().x();
    if (Dragging == Drag::Pan && !PressMoved && event->button() == Qt::LeftButton && x >= area.left() &&
        x <= area.right()) {
        AddMarker(TimeAtX(x));
        ClickPlacedMarker = true;
    } else {
        ClickPlacedMarker = false;
    }
    Dragging = Drag::None;
}

void LogPlotWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The first click of a double click placed a marker where it was: it was not meant.
    if (ClickPlacedMarker && !MarkerTimes.empty() &&
        std::fabs(XOfTime(MarkerTimes.back()) - event->position().x()) <= ClickSlack)
        RemoveMarker(MarkerTimes.size() - 1);
    ClickPlacedMarker = false;
    ResetView();
}

void LogPlotWidget::leaveEvent(QEvent*)
{
    if (Dragging == Drag::None)
        ClearCursor();
}
