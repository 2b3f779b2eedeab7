#pragma once
// The plots of a log viewer: the shown channels in one or more stacked plots on a shared time
// axis (seconds from the first time stamp), each channel in its own colour with its y range
// fitted to the visible samples. Drawn with QPainter, each channel one pixel column at a time
// from the data's min/max index, so the work of a picture depends on its width, not on the
// number of samples. The plots are kept in an image that is rebuilt only when the view changes;
// the time cursor and the readout are drawn over it.
//
// Each plot's legend sits in a column right of the plots (it folds away when the widget is too
// narrow for it), the cursor's time above them, so neither covers a trace or an axis.
//
// Mouse: the wheel zooms around the pointer, dragging pans, dragging with the right button (or
// with Shift) zooms to the band, a double click shows the whole log again; a click places a
// marker, a right click on a marker removes it.
// Keys: + and - zoom in and out about the cursor (or the middle of the view), Left and Right
// pan a tenth of the view, Page Up and Page Down a whole view, Home shows the whole log; M places
// a marker at the cursor, Delete removes the newest marker.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <QImage>
#include <QWidget>

class LogPlotData;
struct PlotColumns;

class LogPlotWidget : public QWidget {
    Q_OBJECT

public:
    explicit LogPlotWidget(QWidget* parent = nullptr);

    // The data is not owned and must outlive the widget (or be replaced first).
    void SetData(const LogPlotData* data);
    // Channel indexes to show, in the order they are stacked.
    void SetShownChannels(std::vector<size_t> channels);
    [[nodiscard]] const std::vector<size_t>& ShownChannels() const { return Shown; }
    // Number of stacked plots, the channels split among them in their order; 0 (automatic) puts
    // each kind of channel (ChannelGroups.h) in plots of its own, at most six channels to a plot.
    void SetPlotCount(int count);
    [[nodiscard]] int PlotCount() const;
    // The plot a shown channel is drawn in (its position among the shown channels).
    [[nodiscard]] int PlotOfShown(size_t position) const;
    // True when the plot's channels share one scale, shown on its y axis (one channel, or
    // channels of one kind); otherwise each is fitted alone, its legend entry gives its range,
    // and the y axis is the first channel's, labelled in its colour.
    [[nodiscard]] bool PlotSharesScale(int plot) const;
    // Numbers are written with this decimal separator (the CSV's).
    void SetDecimalSeparator(char separator);

    [[nodiscard]] double ViewStart() const { return Start; }
    [[nodiscard]] double ViewEnd() const { return End; }
    // The whole log: from its earliest to its latest sample, at least MinimumSpan wide.
    [[nodiscard]] double FullStart() const;
    [[nodiscard]] double FullEnd() const;
    // Shows [start, end], kept inside the whole log and at least MinimumSpan wide.
    void SetView(double start, double end);
    void ResetView();
    // Zooms by factor (below 1 zooms in) keeping time t at its place.
    void ZoomAt(double t, double factor);
    void PanBy(double seconds);
    // What the keys do: zooms by factor about the cursor (or the middle of the view); pans by a
    // number of view widths; places a marker at the cursor, if there is one.
    void ZoomAboutCursor(double factor);
    void PanViews(double views);
    void MarkCursor();

    // A second log drawn over the first for comparison: each shown channel's namesake in it, in
    // the same colour but dashed, on the same scale, its times moved on by `offset` seconds (at 0
    // the two logs' starts coincide, as both count from their first time stamp). Not owned; it
    // must outlive the widget or be replaced first. Null ends the comparison.
    void SetSecondLog(const LogPlotData* second, double offset = 0.0);
    [[nodiscard]] const LogPlotData* SecondLog() const { return Second; }
    [[nodiscard]] double SecondOffset() const { return Offset; }
    // The second log's channel drawn with the shown channel at `position`; NoChannel when it has
    // none of that name (or there is no second log).
    [[nodiscard]] size_t SecondChannelOfShown(size_t position) const;
    // Its value at the cursor as the CSV writes it; empty without a cursor or a namesake.
    [[nodiscard]] QString SecondReadoutText(size_t position) const;
    static constexpr size_t NoChannel = static_cast<size_t>(-1);

    // Markers, in the order they were placed; at most MaxMarkers, a further one replaces the
    // oldest.
    void AddMarker(double t);
    void RemoveMarker(size_t index);
    void ClearMarkers();
    [[nodiscard]] const std::vector<double>& Markers() const { return MarkerTimes; }
    static constexpr size_t MaxMarkers = 8;

    // Width of the legend column right of the plots; 0 when it is folded away.
    [[nodiscard]] int LegendWidth() const;

    void SetCursorTime(double t);
    void ClearCursor();
    [[nodiscard]] bool HasCursor() const { return CursorShown; }
    [[nodiscard]] double CursorTime() const { return Cursor; }
    // The channel's value at the cursor as the CSV writes it ("NAN" without a value); empty
    // without a cursor.
    [[nodiscard]] QString ReadoutText(size_t channel) const;

    // The area of the stacked plots, and the time at an x position inside it and back.
    [[nodiscard]] QRect PlotsArea() const;
    [[nodiscard]] QRect PlotRect(int plot) const;
    [[nodiscard]] double TimeAtX(double x) const;
    [[nodiscard]] double XOfTime(double t) const;

    // Rebuilds the plot image at the widget's size (what a change of view costs) and gives it.
    const QImage& RenderLayer();
    [[nodiscard]] int LayerBuilds() const { return Builds; }

    [[nodiscard]] static QColor ChannelColor(size_t channel);
    // Narrowest view, in seconds.
    static constexpr double MinimumSpan = 1e-3;

signals:
    void ViewChanged();
    void CursorMoved();
    void MarkersChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct ShownRange {
        bool HasValue = false;
        double Low = 0.0;
        double High = 1.0;
    };
    enum class Drag { None, Pan, Band };

    void Invalidate();
    void BuildLayer();
    void Arrange();
    void DrawTimeAxis(QPainter& painter, const QRect& area) const;
    void DrawValueAxis(QPainter& painter, const QRect& rect, const ShownRange& range, int decimals,
                       const QColor& labelColor) const;
    // shift: seconds added to the data's times; dashed: every other few pixel columns left out.
    void DrawChannel(QPainter& painter, const PlotColumns& columns, const QRect& rect, const ShownRange& range,
                     QRgb color, double shift, bool dashed);
    void DrawOverlay(QPainter& painter) const;
    void DrawLegends(QPainter& painter) const;
    [[nodiscard]] int TopMargin() const;
    // The marker within a few pixels of x, or NoChannel.
    [[nodiscard]] size_t MarkerNear(int x) const;

    const LogPlotData* Data = nullptr;
    std::vector<size_t> Shown;
    std::vector<ShownRange> Ranges; // per shown channel, as last drawn
    std::vector<int> PlotOf;        // per shown channel, its plot
    std::vector<uint8_t> SharedScale; // per plot
    int LegendNeed = 0;               // width the legends ask for
    const LogPlotData* Second = nullptr;
    double Offset = 0.0;
    std::unordered_map<std::string, size_t> SecondByName; // first channel of each name
    std::vector<size_t> SecondOf;     // per shown channel, its namesake in Second
    std::vector<double> MarkerTimes;
    bool PressMoved = false;
    bool ClickPlacedMarker = false;
    int Plots = 1;
    int PlotSetting = 0;
    char Separator = '.';
    double Start = 0.0;
    double End = 1.0;
    bool CursorShown = false;
    double Cursor = 0.0;
    Drag Dragging = Drag::None;
    QPoint PressPoint;
    QPoint DragPoint;
    double PressStart = 0.0;
    QImage Layer;
    bool LayerValid = false;
    int Builds = 0;
};
