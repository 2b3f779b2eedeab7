#include "Drawingutils.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#ifdef _WIN32
#define NOMINMAX
#include <windows.h>
#endif

namespace {

int RedOf(TColor c) { return static_cast<int>(c & 0xFF); }
int GreenOf(TColor c) { return static_cast<int>((c >> 8) & 0xFF); }
int BlueOf(TColor c) { return static_cast<int>((c >> 16) & 0xFF); }

void FillRect(QPainter& canvas, int left, int top, int right, int bottom, const QColor& color)
{
    if (right > left && bottom > top)
        canvas.fillRect(QRect(left, top, right - left, bottom - top), color);
}

enum class Axis { Horizontal, Vertical };

// Both directions share the band computation. Two equal colours give n = 0, which is raised to 1 for
// both axes: the rectangle is filled with that colour instead of keeping stale pixels.
void DrawBands(QPainter& canvas, const TRect& rect, TColor startColor, TColor endColor, Axis axis)
{
    const TColor c1 = ColorToRGB(startColor);
    const TColor c2 = ColorToRGB(endColor);
    const int r1 = RedOf(c1), g1 = GreenOf(c1), b1 = BlueOf(c1);
    const int r2 = RedOf(c2), g2 = GreenOf(c2), b2 = BlueOf(c2);

    int n = std::max({std::abs(r2 - r1), std::abs(g2 - g1), std::abs(b2 - b1)});
    if (n == 0)
        n = 1;
    const int span = axis == Axis::Horizontal ? rect.Right - rect.Left : rect.Bottom - rect.Top;

    // The width and the steps are held in single precision; a step that binary32 rounds down
    // (0.7 becomes 0.699999988...) changes which band rounds up.
    const float w = static_cast<float>(static_cast<double>(span) / n);
    const float dR = static_cast<float>(static_cast<double>(r2 - r1) / n);
    const float dG = static_cast<float>(static_cast<double>(g2 - g1) / n);
    const float dB = static_cast<float>(static_cast<double>(b2 - b1) / n);

    for (int i = 0; i < n; ++i) {
        const int r = static_cast<int>(std::trunc(i * static_cast<double>(dR) + r1 + 0.5));
        const int g = static_cast<int>(std::trunc(i * static_cast<double>(dG) + g1 + 0.5));
        const int b = static_cast<int>(std::trunc(i * static_cast<double>(dB) + b1 + 0.5));
        const int p0 = static_cast<int>(std::trunc(i * static_cast<double>(w) + 0.5));
        const int p1 = static_cast<int>(std::trunc((i + 1) * static_cast<double>(w) + 0.5));
        const QColor band(r, g, b);
        if (axis == Axis::Horizontal)
            FillRect(canvas, rect.Left + p0, rect.Top, rect.Left + p1, rect.Bottom, band);
        else
            FillRect(canvas, rect.Left, rect.Top + p0, rect.Right, rect.Top + p1, band);
    }
}

} // namespace

TColor DefaultSystemColor(int index)
{
    // Windows 7/8/10/11 defaults of GetSysColor for the roles the controls use.
    switch (index) {
    case 2: return RGBColor(153, 180, 209);  // COLOR_ACTIVECAPTION
    case 3: return RGBColor(191, 205, 219);  // COLOR_INACTIVECAPTION
    case 9: return RGBColor(0, 0, 0);        // COLOR_CAPTIONTEXT
    case 11: return RGBColor(244, 247, 252); // COLOR_INACTIVEBORDER
    case 15: return RGBColor(240, 240, 240); // COLOR_BTNFACE
    case 17: return RGBColor(109, 109, 109); // COLOR_GRAYTEXT
    case 19: return RGBColor(0, 0, 0);       // COLOR_INACTIVECAPTIONTEXT
    case 21: return RGBColor(105, 105, 105); // COLOR_3DDKSHADOW
    case 27: return RGBColor(185, 209, 234); // COLOR_GRADIENTACTIVECAPTION
    case 28: return RGBColor(215, 228, 242); // COLOR_GRADIENTINACTIVECAPTION
    default: return RGBColor(0, 0, 0);
    }
}

TColor ColorToRGB(TColor color)
{
    if (static_cast<std::int32_t>(color) >= 0)
        return color;
    const int index = static_cast<int>(color & 0xFF);
#ifdef _WIN32
    return static_cast<TColor>(GetSysColor(index));
#else
    return DefaultSystemColor(index);
#endif
}

QColor ToQColor(TColor color)
{
    const TColor rgb = ColorToRGB(color);
    return QColor(RedOf(rgb), GreenOf(rgb), BlueOf(rgb));
}

void DrawGradientHorz(QPainter& canvas, const TRect& rect, TColor startColor, TColor endColor)
{
    DrawBands(canvas, rect, startColor, endColor, Axis::Horizontal);
}

void DrawGradientVert(QPainter& canvas, const TRect& rect, TColor startColor, TColor endColor)
{
    DrawBands(canvas, rect, startColor, endColor, Axis::Vertical);
}

void DrawLineExclusive(QPainter& canvas, int ax, int ay, int bx, int by, const QColor& color)
{
    if (ax == bx || ay == by) {
        // Axis-aligned: one fill of the pixels from a up to, but not including, b.
        if (ax == bx && ay == by)
            return;
        const int left = ax == bx ? ax : (bx > ax ? ax : bx + 1);
        const int right = ax == bx ? ax + 1 : (bx > ax ? bx : ax + 1);
        const int top = ay == by ? ay : (by > ay ? ay : by + 1);
        const int bottom = ay == by ? ay + 1 : (by > ay ? by : ay + 1);
        FillRect(canvas, left, top, right, bottom, color);
        return;
    }
    // General case: Bresenham from a, stopping before b.
    const int dx = std::abs(bx - ax), sx = ax < bx ? 1 : -1;
    const int dy = -std::abs(by - ay), sy = ay < by ? 1 : -1;
    int err = dx + dy;
    int x = ax, y = ay;
    while (x != bx || y != by) {
        FillRect(canvas, x, y, x + 1, y + 1, color);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void DrawFrameLines(QPainter& canvas, const TRect& rect, TColor shadowColor, TColor highlightColor)
{
    const int l = rect.Left, t = rect.Top, r = rect.Right, b = rect.Bottom;
    const QColor shadow = ToQColor(shadowColor);
    DrawLineExclusive(canvas, l, b - 1, r - 1, b - 1, shadow);
    DrawLineExclusive(canvas, r - 1, b - 1, r - 1, t, shadow);
    const QColor highlight = ToQColor(highlightColor);
    DrawLineExclusive(canvas, l, b - 1, l, t, highlight);
    DrawLineExclusive(canvas, l, t, r, t, highlight);
}

bool ResizeImage(QImage& image, int w, int h)
{
    if (w <= 0 || h <= 0) {
        image = QImage();
        return false;
    }
    if (image.width() != w || image.height() != h || image.format() != QImage::Format_RGB32)
        image = QImage(w, h, QImage::Format_RGB32);
    return true;
}

TRect GrowRect(const TRect& rect, int n)
{
    return TRect{rect.Left - n, rect.Top - n, rect.Right + n, rect.Bottom + n};
}

QString StripAmpersands(const QString& text)
{
    QString result = text;
    result.remove(QLatin1Char('&'));
    return result;
}
