#pragma once
// The XY (scatter) view of a log: one channel against another at every instant of a range, each
// point optionally coloured by a third channel, with labelled axes and a colour bar. The points
// are written straight into an image kept until they or the size change, so a picture of
// hundreds of thousands of points takes milliseconds.
#include <QImage>
#include <QString>
#include <QWidget>

#include "LogXYPoints.h"

// What one axis shows: the channel's name and the decimals of its CSV column.
struct XYAxis {
    QString Name;
    int Decimals = 3;
};

class LogXYWidget : public QWidget {
    Q_OBJECT

public:
    explicit LogXYWidget(QWidget* parent = nullptr);

    // The points to draw (taken), the axes they belong to, and a line under the picture saying
    // what they are (the range and the grid); colour is used when points.Colour is not empty.
    void SetPoints(XYPoints points, const XYAxis& x, const XYAxis& y, const XYAxis& colour, const QString& caption);
    // Shown instead of points: why there are none.
    void SetMessage(const QString& text);
    void SetDecimalSeparator(char separator);
    [[nodiscard]] const XYPoints& Points() const { return Data; }

    // The area the points are drawn in.
    [[nodiscard]] QRect PlotRect() const;
    // Rebuilds the picture at the widget's size and gives it.
    const QImage& RenderLayer();

    // The colour of a value at `fraction` (0 to 1) of the colour channel's range: dark blue
    // through green to yellow.
    [[nodiscard]] static QRgb ColourAt(double fraction);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildLayer();
    void DrawAxes(QPainter& painter, const QRect& rect, double lowX, double highX, double lowY, double highY) const;
    void DrawColourBar(QPainter& painter, const QRect& rect) const;
    [[nodiscard]] bool Coloured() const { return !Data.Colour.empty() && Data.HasColourValue; }

    XYPoints Data;
    XYAxis AxisX;
    XYAxis AxisY;
    XYAxis AxisColour;
    QString Caption;
    QString Message;
    char Separator = '.';
    QImage Layer;
    bool LayerValid = false;
};
