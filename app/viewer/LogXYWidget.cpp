#include "LogXYWidget.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <QPainter>

#include "AxisTicks.h"
#include "Drawingutils.h"

namespace {

constexpr int MarginLeft = 70;
constexpr int MarginTop = 10;
constexpr int MarginBottom = 52;
constexpr int MarginRightPlain = 16;
constexpr int ColourBarRoom = 110; // the bar, its ticks and its name
constexpr int ColourBarWidth = 16;
const QRgb PlainPoint = qRgb(0x1f, 0x4e, 0xc8);
const QRgb NoColourPoint = qRgb(0xa0, 0xa0, 0xa0);

struct Span {
    double Low;
    double High;
};

// A range with room around it, never empty.
Span Padded(double low, double high)
{
    if (!(high > low)) {
        const double pad = std::max(1.0, std::fabs(low) * 0.05);
        return {low - pad, high + pad};
    }
    const double pad = (high - low) * 0.03;
    return {low - pad, high + pad};
}

} // namespace

LogXYWidget::LogXYWidget(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 240);
}

void LogXYWidget::SetPoints(XYPoints points, const XYAxis& x, const XYAxis& y, const XYAxis& colour,
                            const QString& caption)
{
    Data = std::move(points);
    AxisX = x;
    AxisY = y;
    AxisColour = colour;
    Caption = caption;
    Message.clear();
    if (Data.Count() == 0)
        Message = QStringLiteral("No instant of the range has values of both channels.");
    LayerValid = false;
    update();
}

void LogXYWidget::SetMessage(const QString& text)
{
    Data = XYPoints{};
    Message = text;
    LayerValid = false;
    update();
}

void LogXYWidget::SetDecimalSeparator(char separator)
{
    Separator = separator;
    LayerValid = false;
    update();
}

QRect LogXYWidget::PlotRect() const
{
    const int right = Coloured() ? ColourBarRoom : MarginRightPlain;
    return QRect(MarginLeft, MarginTop, std::max(1, width() - MarginLeft - right),
                 std::max(1, height() - MarginTop - MarginBottom));
}

QRgb LogXYWidget::ColourAt(double fraction)
{
    // A perceptually even ramp, dark blue to yellow.
    static constexpr std::array<QRgb, 5> Stops = {0xff440154, 0xff3b528b, 0xff21918c, 0xff5ec962, 0xfffde725};
    if (!std::isfinite(fraction))
        return NoColourPoint;
    const double at = std::clamp(fraction, 0.0, 1.0) * (Stops.size() - 1);
    const size_t below = std::min(static_cast<size_t>(at), Stops.size() - 2);
    const double part = at - static_cast<double>(below);
    auto mix = [part](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * part)); };
    const QRgb a = Stops[below];
    const QRgb b = Stops[below + 1];
    return qRgb(mix(qRed(a), qRed(b)), mix(qGreen(a), qGreen(b)), mix(qBlue(a), qBlue(b)));
}

const QImage& LogXYWidget::RenderLayer()
{
    BuildLayer();
    return Layer;
}

void LogXYWidget::BuildLayer()
{
    if (Layer.size() != size())
        Layer = QImage(size(), QImage::Format_RGB32);
    QPainter painter(&Layer);
    painter.setFont(font());
    DrawGradientVert(painter, TRect{0, 0, width(), height()}, clGradientInactiveCaption, clInactiveCaption);
    const QRect rect = PlotRect();
    painter.fillRect(rect, QColor(0xfc, 0xfc, 0xfa));
    DrawFrameLines(painter, TRect{rect.left() - 1, rect.top() - 1, rect.right() + 2, rect.bottom() + 2},
                   clInactiveCaptionText, SystemColorBase | 20);
    LayerValid = true;
    if (Data.Count() == 0) {
        painter.setPen(ToQColor(clCaptionText));
        painter.drawText(rect, Qt::AlignCenter | Qt::TextWordWrap, Message);
        return;
    }
    const Span x = Padded(Data.MinX, Data.MaxX);
    const Span y = Padded(Data.MinY, Data.MaxY);
    DrawAxes(painter, rect, x.Low, x.High, y.Low, y.High);
    painter.end();

    // Each point a 2 x 2 dot written straight into the image, inside the plot's rectangle.
    auto* bits = reinterpret_cast<QRgb*>(Layer.bits());
    const qsizetype stride = Layer.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    const double scaleX = (rect.width() - 2) / (x.High - x.Low);
    const double scaleY = (rect.height() - 2) / (y.High - y.Low);
    const bool coloured = Coloured();
    const double colourLow = Data.MinColour;
    const double colourSpan = Data.MaxColour > Data.MinColour ? Data.MaxColour - Data.MinColour : 1.0;
    // The colours of a 256-step ramp, looked up rather than mixed per point.
    std::array<QRgb, 256> ramp{};
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = ColourAt(static_cast<double>(i) / (ramp.size() - 1));
    const size_t count = Data.Count();
    for (size_t i = 0; i < count; ++i) {
        const int px = rect.left() + static_cast<int>((Data.X[i] - x.Low) * scaleX);
        const int py = rect.bottom() - 1 - static_cast<int>((Data.Y[i] - y.Low) * scaleY);
        if (px < rect.left() || px + 1 > rect.right() || py < rect.top() || py + 1 > rect.bottom())
            continue;
        QRgb colour = PlainPoint;
        if (coloured) {
            const float c = Data.Colour[i];
            colour = std::isnan(c) ? NoColourPoint
                                   : ramp[static_cast<size_t>(std::clamp((c - colourLow) / colourSpan, 0.0, 1.0) * 255.0)];
        }
        QRgb* pixel = bits + py * stride + px;
        pixel[0] = colour;
        pixel[1] = colour;
        pixel[stride] = colour;
        pixel[stride + 1] = colour;
    }
    if (coloured) {
        QPainter bar(&Layer);
        bar.setFont(font());
        DrawColourBar(bar, rect);
    }
}

void LogXYWidget::DrawAxes(QPainter& painter, const QRect& rect, double lowX, double highX, double lowY,
                           double highY) const
{
    const QFontMetrics metrics(font());
    const QColor grid(0xe4, 0xe4, 0xe4);
    const QColor text = ToQColor(clCaptionText);
    // x: ticks about 110 pixels apart, labelled under the plot.
    const double stepX = NiceStep((highX - lowX) / std::max(1.0, rect.width() / 110.0));
    for (int k = 0; k < 64; ++k) {
        const double value = std::ceil(lowX / stepX) * stepX + k * stepX;
        if (value > highX)
            break;
        const int px = rect.left() + static_cast<int>(std::lround((value - lowX) * (rect.width() - 2) / (highX - lowX)));
        painter.setPen(grid);
        painter.drawLine(px, rect.top(), px, rect.bottom());
        painter.setPen(text);
        const QString label = TickText(value, stepX, AxisX.Decimals, Separator);
        painter.drawText(px - metrics.horizontalAdvance(label) / 2, rect.bottom() + 4 + metrics.ascent(), label);
    }
    // y: ticks about two and a half lines apart, labelled left of the plot.
    const double stepY = NiceStep((highY - lowY) / std::max(1.0, rect.height() / (metrics.height() * 2.5)));
    for (int k = 0; k < 64; ++k) {
        const double value = std::ceil(lowY / stepY) * stepY + k * stepY;
        if (value > highY)
            break;
        const int py = rect.bottom() - 1 - static_cast<int>(std::lround((value - lowY) * (rect.height() - 2) / (highY - lowY)));
        painter.setPen(grid);
        painter.drawLine(rect.left(), py, rect.right(), py);
        painter.setPen(text);
        const QString label = TickText(value, stepY, AxisY.Decimals, Separator);
        painter.drawText(rect.left() - 6 - metrics.horizontalAdvance(label), py + metrics.ascent() / 2 - 1, label);
    }
    painter.setPen(text);
    // The axes' names: x centred under its labels, y upright beside its labels.
    painter.drawText(QRect(rect.left(), rect.bottom() + 4 + metrics.height(), rect.width(), metrics.height()),
                     Qt::AlignHCenter, AxisX.Name);
    painter.save();
    painter.translate(12, rect.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-rect.height() / 2, -metrics.ascent(), rect.height(), metrics.height()), Qt::AlignHCenter,
                     AxisY.Name);
    painter.restore();
    painter.drawText(QRect(rect.left(), height() - metrics.height() - 2, rect.width(), metrics.height()),
                     Qt::AlignLeft, metrics.elidedText(Caption, Qt::ElideRight, rect.width()));
}

void LogXYWidget::DrawColourBar(QPainter& painter, const QRect& rect) const
{
    const QFontMetrics metrics(font());
    const QRect bar(rect.right() + 14, rect.top() + metrics.height() + 4, ColourBarWidth,
                    std::max(10, rect.height() - metrics.height() - 8));
    for (int row = 0; row < bar.height(); ++row) {
        painter.setPen(QColor(ColourAt(1.0 - static_cast<double>(row) / std::max(1, bar.height() - 1))));
        painter.drawLine(bar.left(), bar.top() + row, bar.right(), bar.top() + row);
    }
    painter.setPen(ToQColor(clCaptionText));
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    painter.drawText(QRect(rect.right() + 4, rect.top(), width() - rect.right() - 6, metrics.height()), Qt::AlignLeft,
                     metrics.elidedText(AxisColour.Name, Qt::ElideRight, width() - rect.right() - 6));
    const double low = Data.MinColour;
    const double high = Data.MaxColour > Data.MinColour ? Data.MaxColour : Data.MinColour + 1.0;
    const double step = NiceStep((high - low) / std::max(1.0, bar.height() / (metrics.height() * 2.5)));
    for (int k = 0; k < 64; ++k) {
        const double value = std::ceil(low / step) * step + k * step;
        if (value > high)
            break;
        const int py = bar.bottom() - static_cast<int>(std::lround((value - low) * (bar.height() - 1) / (high - low)));
        painter.drawLine(bar.right() + 1, py, bar.right() + 4, py);
        painter.drawText(bar.right() + 7, py + metrics.ascent() / 2 - 1, TickText(value, step, AxisColour.Decimals, Separator));
    }
}

void LogXYWidget::paintEvent(QPaintEvent*)
{
    if (!LayerValid || Layer.size() != size())
        BuildLayer();
    QPainter painter(this);
    painter.drawImage(0, 0, Layer);
}

void LogXYWidget::resizeEvent(QResizeEvent*)
{
    LayerValid = false;
    update();
}
