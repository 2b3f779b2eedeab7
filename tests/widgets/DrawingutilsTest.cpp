#include "Drawingutils.h"
#include "PixelRows.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace {

const QColor Stale(255, 0, 255);

QImage VertGradient(int w, int h, TColor from, TColor to)
{
    QImage image = FilledImage(w, h, Stale);
    QPainter canvas(&image);
    DrawGradientVert(canvas, TRect{0, 0, w, h}, from, to);
    return image;
}

QImage HorzGradient(int w, int h, TColor from, TColor to)
{
    QImage image = FilledImage(w, h, Stale);
    QPainter canvas(&image);
    DrawGradientHorz(canvas, TRect{0, 0, w, h}, from, to);
    return image;
}

} // namespace

// Ten bands of width 2.5 over 25 rows: edges 0, 3, 5, 8, ... 25, blue 30 to 39, never 40.
TEST(DrawGradientVert, BandEdgesRoundHalfUp)
{
    const QImage image = VertGradient(20, 25, RGBColor(10, 20, 30), RGBColor(10, 20, 40));
    const int edges[] = {0, 3, 5, 8, 10, 13, 15, 18, 20, 23, 25};
    for (int band = 0; band < 10; ++band) {
        for (int y = edges[band]; y < edges[band + 1]; ++y) {
            for (int x : {0, 19}) {
                EXPECT_EQ(image.pixel(x, y), Rgb(10, 20, 30 + band)) << "row " << y << " column " << x;
            }
        }
    }
}

// The step 0.7 is held as binary32 0.699999988..., so band 5 rounds to 3, not to 4.
TEST(DrawGradientVert, SinglePrecisionStepRoundsDown)
{
    // Green spans 10, so n = 10 and each band is one row high.
    const QImage image = VertGradient(1, 10, RGBColor(0, 0, 0), RGBColor(7, 10, 0));
    EXPECT_EQ(image.pixel(0, 5), Rgb(3, 5, 0));
    EXPECT_EQ(image.pixel(0, 4), Rgb(3, 4, 0));
    EXPECT_EQ(image.pixel(0, 6), Rgb(4, 6, 0));
    EXPECT_EQ(image.pixel(0, 9), Rgb(6, 9, 0));
}

// Equal colours leave no stale pixel: the whole rectangle takes the colour.
TEST(DrawGradientVert, EqualColoursFillTheRectangle)
{
    const QImage image = VertGradient(7, 9, RGBColor(1, 2, 3), RGBColor(1, 2, 3));
    const auto rows = PixelRows(image, {{Rgb(1, 2, 3), 'c'}});
    EXPECT_EQ(rows, std::vector<std::string>(9, "ccccccc"));
}

// Only [Top, Bottom) x [Left, Right) is painted, at the rectangle's offset.
TEST(DrawGradientVert, StaysInsideTheRectangle)
{
    QImage image = FilledImage(6, 6, Stale);
    {
        QPainter canvas(&image);
        DrawGradientVert(canvas, TRect{1, 2, 4, 5}, RGBColor(9, 9, 9), RGBColor(9, 9, 9));
    }
    const auto rows = PixelRows(image, {{Rgb(9, 9, 9), 'c'}, {Stale.rgb(), '.'}});
    EXPECT_EQ(rows, (std::vector<std::string>{"......", "......", ".ccc..", ".ccc..", ".ccc..", "......"}));
}

// 255 bands over 100 columns: many bands are empty; each column shows the one band covering it.
TEST(DrawGradientHorz, MoreBandsThanColumns)
{
    const QImage image = HorzGradient(100, 10, RGBColor(0, 0, 0), RGBColor(255, 0, 0));
    // Band 0 ends at trunc(0.39 + 0.5) = 0, so column 0 belongs to band 1; band 254 starts at 100.
    EXPECT_EQ(image.pixel(0, 0), Rgb(1, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), Rgb(3, 0, 0));
    EXPECT_EQ(image.pixel(99, 9), Rgb(253, 0, 0));
    for (int x = 1; x < 100; ++x) {
        EXPECT_GT(qRed(image.pixel(x, 0)), qRed(image.pixel(x - 1, 0))) << "column " << x;
        EXPECT_EQ(image.pixel(x, 0), image.pixel(x, 9));
    }
}

// Two equal colours raise n to 1: one band over the whole width.
TEST(DrawGradientHorz, EqualColoursFillTheRectangle)
{
    const QImage image = HorzGradient(5, 2, RGBColor(4, 5, 6), RGBColor(4, 5, 6));
    EXPECT_EQ(PixelRows(image, {{Rgb(4, 5, 6), 'c'}}), std::vector<std::string>(2, "ccccc"));
}

// Descending channels round the same way: the last band is start + (n - 1)/n of the difference.
TEST(DrawGradientHorz, FallingChannelNeverReachesTheEnd)
{
    const QImage image = HorzGradient(4, 1, RGBColor(0, 200, 0), RGBColor(0, 196, 0));
    EXPECT_EQ(PixelRows(image, {{Rgb(0, 200, 0), 'a'}, {Rgb(0, 199, 0), 'b'}, {Rgb(0, 198, 0), 'c'},
                                {Rgb(0, 197, 0), 'd'}}),
              std::vector<std::string>{"abcd"});
}

// Highlight on the top row and left column, shadow on the bottom row and right column.
TEST(DrawFrameLines, FourByThree)
{
    QImage image = FilledImage(4, 3, Stale);
    {
        QPainter canvas(&image);
        DrawFrameLines(canvas, TRect{0, 0, 4, 3}, RGBColor(0, 0, 200), RGBColor(200, 200, 0));
    }
    const auto rows =
        PixelRows(image, {{Rgb(0, 0, 200), 'S'}, {Rgb(200, 200, 0), 'H'}, {Stale.rgb(), '.'}});
    EXPECT_EQ(rows, (std::vector<std::string>{"HHHH", "H..S", "HSSS"}));
}

// Each call on a rectangle shrunk by k draws exactly one ring.
TEST(DrawFrameLines, NestedRingsWithGrowRect)
{
    QImage image = FilledImage(6, 5, Stale);
    {
        QPainter canvas(&image);
        const TRect outer{0, 0, 6, 5};
        DrawFrameLines(canvas, outer, RGBColor(0, 0, 200), RGBColor(200, 200, 0));
        DrawFrameLines(canvas, GrowRect(outer, -1), RGBColor(200, 200, 0), RGBColor(0, 0, 200));
    }
    const auto rows =
        PixelRows(image, {{Rgb(0, 0, 200), 'S'}, {Rgb(200, 200, 0), 'H'}, {Stale.rgb(), '.'}});
    EXPECT_EQ(rows, (std::vector<std::string>{"HHHHHH", "HSSSSS", "HS..HS", "HSHHHS", "HSSSSS"}));
}

// A line colours its start point and not its end point, in either direction.
TEST(DrawLineExclusive, EndPointIsNotColoured)
{
    QImage image = FilledImage(5, 3, Stale);
    {
        QPainter canvas(&image);
        DrawLineExclusive(canvas, 0, 0, 4, 0, Qt::black);
        DrawLineExclusive(canvas, 4, 2, 1, 2, Qt::black);
        DrawLineExclusive(canvas, 2, 1, 2, 1, Qt::black);
        DrawLineExclusive(canvas, 0, 2, 2, 0, Qt::white);
    }
    const auto rows =
        PixelRows(image, {{Rgb(0, 0, 0), 'x'}, {Rgb(255, 255, 255), 'w'}, {Stale.rgb(), '.'}});
    EXPECT_EQ(rows, (std::vector<std::string>{"xxxx.", ".w...", "w.xxx"}));
}

TEST(GrowRect, GrowsAndShrinksEverySide)
{
    EXPECT_EQ(GrowRect(TRect{10, 20, 30, 40}, 2), (TRect{8, 18, 32, 42}));
    EXPECT_EQ(GrowRect(TRect{10, 20, 30, 40}, -3), (TRect{13, 23, 27, 37}));
}

// Every '&' goes; a doubled one is not a literal ampersand.
TEST(StripAmpersands, RemovesEveryAmpersand)
{
    EXPECT_EQ(StripAmpersands(QStringLiteral("&Close")), QStringLiteral("Close"));
    EXPECT_EQ(StripAmpersands(QStringLiteral("Save && Exit")), QStringLiteral("Save  Exit"));
    EXPECT_EQ(StripAmpersands(QStringLiteral("a&&b")), QStringLiteral("ab"));
    EXPECT_EQ(StripAmpersands(QString()), QString());
}

// Explicit values pass through; system references resolve through the default role table.
TEST(ColorToRGB, ResolvesOnlySystemReferences)
{
    EXPECT_EQ(ColorToRGB(RGBColor(1, 2, 3)), 0x030201u);
    EXPECT_EQ(ToQColor(0x00332211).rgb(), Rgb(0x11, 0x22, 0x33));
#ifndef _WIN32
    EXPECT_EQ(ColorToRGB(clBtnFace), RGBColor(240, 240, 240));
    EXPECT_EQ(ColorToRGB(cl3DDkShadow), RGBColor(105, 105, 105));
    EXPECT_EQ(ToQColor(clActiveCaption).rgb(), Rgb(153, 180, 209));
    EXPECT_EQ(ToQColor(clGradientInactiveCaption).rgb(), Rgb(215, 228, 242));
#endif
}
