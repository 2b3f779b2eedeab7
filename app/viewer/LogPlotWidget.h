#pragma once
// The plots of a log viewer: the shown channels in one or more stacked plots on a shared time
// axis (seconds from the first time stamp), each channel in its own colour with its y range
// fitted to the visible samples. Drawn with QPainter, each channel one pixel column at a time
// from the data's min/max index, so the work of a picture depends on its width, not on the
// number of samples. The plots are kept in an image that is rebuilt only when the view changes;
// the time cursor and the readout are drawn over it.
//
// Mouse: the wheel zooms around the pointer, dragging pans, dragging with the right button (or
// with Shift) zooms to the band, a double click shows the whole log again.
// Keys: + and - zoom in and out about the cursor (or the middle of the view), Left and Right
// pan a tenth of the view, Page Up and Page Down a whole view, Home shows the whole log.
#include <cstddef>
#include <cstdint>
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
    // channels of one kind); otherwise each is fitted alone and its legend entry gives its range.
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
    void DrawValueAxis(QPainter& painter, const QRect& rect, const ShownRange& range, int decimals) const;
    void DrawChannel(QPainter& painter, const PlotColumns& columns, const QRect& rect, const ShownRange& range,
                     QRgb color);
    void DrawOverlay(QPainter& painter) const;

    const LogPlotData* Data = nullptr;
    std::vector<size_t> Shown;
    std::vector<ShownRange> Ranges; // per shown channel, as last drawn
    std::vector<int> PlotOf;        // per shown channel, its plot
    std::vector<uint8_t> SharedScale; // per plot
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
