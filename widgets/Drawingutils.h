#pragma once
// Drawing routines shared by the gradient controls: banded gradients, two-colour frames, rectangle
// growing, caption cleaning and colour resolution. They hold no state.
//
// Pixel rules every routine follows (the controls' exact look depends on them):
//  - a filled rectangle (Left, Top, Right, Bottom) covers x in [Left, Right) and y in [Top, Bottom);
//  - a line from A to B colours A and every pixel up to B, but not B itself.
#include <QColor>
#include <QImage>
#include <QString>

#include <cstdint>

class QPainter;

// A colour value: either an explicit colour 0x00BBGGRR (red in the lowest byte) or a reference to a
// system colour role, 0xFF000000 plus the Windows system colour index. Kept as set; resolved only
// when drawn, so an image built later uses the system colours of that moment.
using TColor = std::uint32_t;

constexpr TColor SystemColorBase = 0xFF000000u;
constexpr TColor clActiveCaption = SystemColorBase | 2;
constexpr TColor clInactiveCaption = SystemColorBase | 3;
constexpr TColor clCaptionText = SystemColorBase | 9;
constexpr TColor clInactiveBorder = SystemColorBase | 11;
constexpr TColor clBtnFace = SystemColorBase | 15;
constexpr TColor clGrayText = SystemColorBase | 17;
constexpr TColor clInactiveCaptionText = SystemColorBase | 19;
constexpr TColor cl3DDkShadow = SystemColorBase | 21;
constexpr TColor clGradientActiveCaption = SystemColorBase | 27;
constexpr TColor clGradientInactiveCaption = SystemColorBase | 28;
constexpr TColor clBlack = 0x000000;

// An explicit colour from its channels.
constexpr TColor RGBColor(int r, int g, int b)
{
    return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// Rectangle with exclusive right and bottom edges.
struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

// RGB value (0x00BBGGRR) of a system colour role where the platform has no such roles: the
// Windows defaults of those roles, so the tool looks as it does there. Unknown indices give black.
TColor DefaultSystemColor(int index);

// Resolves a colour value: a system colour reference (negative as a signed 32-bit number) becomes the
// current RGB of that role; any other value is returned unchanged. Only the low three bytes of the
// result are meaningful.
TColor ColorToRGB(TColor color);

// The resolved colour as a Qt colour.
QColor ToQColor(TColor color);

// Vertical bands from start (left) towards end (right); the end colour itself is never painted.
void DrawGradientHorz(QPainter& canvas, const TRect& rect, TColor startColor, TColor endColor);

// Horizontal bands from start (top) towards end (bottom).
void DrawGradientVert(QPainter& canvas, const TRect& rect, TColor startColor, TColor endColor);

// One-pixel frame just inside rect: highlight on the top row and left column, shadow on the bottom
// row and right column (the bottom-right corner is shadow).
void DrawFrameLines(QPainter& canvas, const TRect& rect, TColor shadowColor, TColor highlightColor);

// (Left - n, Top - n, Right + n, Bottom + n); a negative n shrinks.
TRect GrowRect(const TRect& rect, int n);

// The text with every '&' removed; a doubled ampersand vanishes completely.
QString StripAmpersands(const QString& text);

// Makes image a 32-bit image of w x h (its old pixels are not kept when the size changes). A size
// of zero leaves a null image and returns false: there is nothing to draw on.
bool ResizeImage(QImage& image, int w, int h);

// Draws a line from a to b under the rule above: a is coloured, b is not. Only horizontal and
// vertical lines are needed by the controls; a == b colours nothing.
void DrawLineExclusive(QPainter& canvas, int ax, int ay, int bx, int by, const QColor& color);
