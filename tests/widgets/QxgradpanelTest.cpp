#include "PixelRows.h"
#include "Qxgradpanel.h"

#include <QCoreApplication>
#include <QPainter>
#include <QResizeEvent>

#include <gtest/gtest.h>

namespace {

const TColor Light = RGBColor(250, 250, 0);
const TColor Dark = RGBColor(0, 0, 90);
const TColor Fill = RGBColor(0, 160, 0);

// A panel with distinct explicit colours and a flat fill, so every pixel names its source.
void UseTestColours(TQXGradPanel& panel)
{
    panel.SetColorLight(Light);
    panel.SetColorDark(Dark);
    panel.SetColorFace(Fill);
    panel.SetColorGrad(Fill);
}

const ColorLetters Letters = {
    {ToQColor(Light).rgb(), 'L'}, {ToQColor(Dark).rgb(), 'D'}, {ToQColor(Fill).rgb(), 'g'}};

QImage Painted(TQXGradPanel& panel)
{
    QImage image = FilledImage(panel.width(), panel.height(), QColor(255, 0, 255));
    QPainter canvas(&image);
    panel.Paint(canvas);
    return image;
}

} // namespace

// Raised outer ring, lowered inner ring one pixel further in; no gradient pixel remains.
TEST(TQXGradPanelBevels, FiveByFourRaisedThenLowered)
{
    TQXGradPanel panel;
    UseTestColours(panel);
    panel.SetBevelInner(bvLowered);
    panel.resize(5, 4);
    panel.Loaded();
    EXPECT_EQ(PixelRows(Painted(panel), Letters),
              (std::vector<std::string>{"LLLLL", "LDDDD", "LDLLD", "LDDDD"}));
}

// With no outer bevel the lowered inner ring is the outermost one (k = 0).
TEST(TQXGradPanelBevels, InnerRingMovesOutWhenOuterIsNone)
{
    TQXGradPanel panel;
    UseTestColours(panel);
    panel.SetBevelOuter(bvNone);
    panel.SetBevelInner(bvLowered);
    panel.resize(5, 4);
    panel.Loaded();
    EXPECT_EQ(PixelRows(Painted(panel), Letters),
              (std::vector<std::string>{"DDDDD", "DgggL", "DgggL", "DLLLL"}));
}

// BevelWidth 3 draws three nested raised rings at k = 0, 1, 2.
TEST(TQXGradPanelBevels, WidthThreeGivesThreeRings)
{
    TQXGradPanel panel;
    UseTestColours(panel);
    panel.SetBevelWidth(3);
    panel.resize(8, 7);
    panel.Loaded();
    EXPECT_EQ(PixelRows(Painted(panel), Letters),
              (std::vector<std::string>{"LLLLLLLL", "LLLLLLLD", "LLLLLLDD", "LLLggDDD", "LLLDDDDD",
                                        "LLDDDDDD", "LDDDDDDD"}));
}

// Children are laid out inside the rings; bevel changes take effect at once.
TEST(TQXGradPanelBevels, ChangeRebuildsAndInsetsChildren)
{
    TQXGradPanel panel;
    UseTestColours(panel);
    panel.resize(6, 6);
    panel.Loaded();
    EXPECT_EQ(panel.contentsMargins().left(), 1);
    const int before = panel.RebuildCount();
    panel.SetBevelInner(bvRaised);
    EXPECT_EQ(panel.RebuildCount(), before + 1);
    EXPECT_EQ(panel.contentsMargins().top(), 2);
    EXPECT_EQ(panel.BackImage().pixel(1, 1), ToQColor(Light).rgb());
    panel.SetBevelOuter(bvNone);
    panel.SetBevelInner(bvNone);
    EXPECT_EQ(panel.contentsMargins().right(), 0);
    EXPECT_EQ(panel.BackImage().pixel(0, 0), ToQColor(Fill).rgb());
}

// The tool's panel: clBtnFace to clInactiveCaption inside a raised ring of the initial colours.
TEST(TQXGradPanelLook, InitialValues)
{
    TQXGradPanel panel;
    panel.resize(160, 344);
    panel.Loaded();
    const QImage image = Painted(panel);
    const QRgb light = ToQColor(clGradientInactiveCaption).rgb();
    const QRgb dark = ToQColor(clActiveCaption).rgb();
    for (int x = 0; x < 160; ++x) {
        EXPECT_EQ(image.pixel(x, 0), light);
        if (x >= 1) {
            EXPECT_EQ(image.pixel(x, 343), dark);
        }
    }
    for (int y = 0; y < 344; ++y) {
        EXPECT_EQ(image.pixel(0, y), light);
        if (y >= 1) {
            EXPECT_EQ(image.pixel(159, y), dark);
        }
    }
    EXPECT_EQ(image.pixel(1, 1), ToQColor(clBtnFace).rgb());
    // The end colour is never painted: the last band stops one step short of it.
#ifndef _WIN32
    EXPECT_EQ(image.pixel(1, 342), Rgb(192, 206, 219));
#endif
}

// The tile is drawn at x = 0, 100, 200; the last column is clipped to 50 pixels.
TEST(TQXGradPanelLook, TileCoversTheRightEdge)
{
    TQXGradPanel panel;
    panel.SetBevelOuter(bvNone);
    panel.SetGradDir(gTile);
    panel.resize(250, 100);
    panel.Loaded();
    const QImage image = Painted(panel);
    const QRgb black = Rgb(0, 0, 0);
    const QRgb interior = Rgb(52, 69, 75);
    for (int x : {0, 99, 100, 199, 200})
        EXPECT_EQ(image.pixel(x, 50), black) << "column " << x;
    for (int x : {1, 150, 201, 249})
        EXPECT_EQ(image.pixel(x, 50), interior) << "column " << x;
    EXPECT_EQ(image.pixel(150, 99), black);
}

// The panel keeps its own copy of the tile; an empty tile shows the face colour, never stale pixels.
TEST(TQXGradPanelLook, TileIsCopiedAndEmptyTileFillsFace)
{
    TQXGradPanel panel;
    UseTestColours(panel);
    panel.SetBevelOuter(bvNone);
    panel.SetGradDir(gTile);
    panel.resize(10, 10);
    QImage tile = FilledImage(4, 4, QColor(1, 2, 3));
    panel.SetBitmap(tile);
    tile.fill(QColor(9, 9, 9));
    EXPECT_EQ(panel.BackImage().pixel(9, 9), Rgb(1, 2, 3));

    panel.SetBitmap(QImage());
    EXPECT_EQ(PixelRows(panel.BackImage(), Letters), std::vector<std::string>(10, "gggggggggg"));
}

// Equal colours on a vertical panel leave no stale pixel.
TEST(TQXGradPanelLook, EqualColoursFillTheBackground)
{
    TQXGradPanel panel;
    panel.SetBevelOuter(bvNone);
    panel.resize(3, 40);
    panel.SetColorFace(RGBColor(7, 7, 7));
    panel.SetColorGrad(RGBColor(7, 7, 7));
    EXPECT_EQ(PixelRows(panel.BackImage(), {{Rgb(7, 7, 7), 'c'}}), std::vector<std::string>(40, "ccc"));
}

// A colour set to its current value rebuilds nothing; the direction rebuilds even when unchanged.
TEST(TQXGradPanelRebuild, OnlyRealChangesRebuild)
{
    TQXGradPanel panel;
    panel.resize(20, 20);
    const int start = panel.RebuildCount();
    panel.SetColorFace(panel.ColorFace());
    panel.SetColorLight(panel.ColorLight());
    EXPECT_EQ(panel.RebuildCount(), start);
    panel.SetGradDir(panel.GradientDirection());
    EXPECT_EQ(panel.RebuildCount(), start + 1);
    panel.SetColorGrad(RGBColor(1, 1, 1));
    EXPECT_EQ(panel.RebuildCount(), start + 2);
}

// One rebuild per size change; a resize message with the same size rebuilds nothing.
TEST(TQXGradPanelRebuild, ResizeRebuildsOncePerSize)
{
    TQXGradPanel panel;
    panel.resize(30, 30);
    panel.show();
    QCoreApplication::processEvents();
    const int start = panel.RebuildCount();
    panel.resize(40, 30);
    EXPECT_EQ(panel.RebuildCount(), start + 1);
    EXPECT_EQ(panel.BackImage().size(), QSize(40, 30));
    QResizeEvent same(panel.size(), panel.size());
    QCoreApplication::sendEvent(&panel, &same);
    EXPECT_EQ(panel.RebuildCount(), start + 1);
}

// Painting, however often, copies the cached image and never rebuilds it.
TEST(TQXGradPanelRebuild, PaintIsOneCopy)
{
    TQXGradPanel panel;
    panel.resize(50, 60);
    panel.SetGradDir(gHorizontal);
    panel.Loaded();
    const int start = panel.RebuildCount();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Painted(panel), panel.BackImage());
    panel.show();
    for (int i = 0; i < 5; ++i)
        panel.repaint();
    EXPECT_EQ(panel.RebuildCount(), start);
}

// A transparent panel draws neither gradient nor rings; what lies behind it and its children show.
TEST(TQXGradPanelTransparent, ParentAndChildrenShow)
{
    TQXGradPanel parent;
    parent.SetBevelOuter(bvNone);
    parent.SetColorFace(RGBColor(200, 0, 0));
    parent.SetColorGrad(RGBColor(200, 0, 0));
    parent.resize(40, 40);
    auto* glass = new TQXGradPanel(&parent);
    glass->setGeometry(5, 5, 30, 30);
    glass->SetTransparent(true);
    auto* child = new TQXGradPanel(glass);
    child->SetBevelOuter(bvNone);
    child->SetColorFace(RGBColor(0, 0, 200));
    child->SetColorGrad(RGBColor(0, 0, 200));
    child->setGeometry(10, 10, 5, 5);

    EXPECT_EQ(Painted(*glass).pixel(0, 0), Rgb(255, 0, 255));
    const QImage shot = parent.grab().toImage();
    EXPECT_EQ(shot.pixel(5, 5), Rgb(200, 0, 0));
    EXPECT_EQ(shot.pixel(20, 20), Rgb(200, 0, 0));
    EXPECT_EQ(shot.pixel(16, 16), Rgb(0, 0, 200));
}

// A panel without area has no image to paint; one pixel high still gets its ring's highlight.
TEST(TQXGradPanelLook, DegenerateSizes)
{
    TQXGradPanel panel;
    panel.resize(0, 5);
    panel.Loaded();
    EXPECT_TRUE(panel.BackImage().isNull());
    QImage screen = FilledImage(3, 3, QColor(1, 1, 1));
    {
        QPainter canvas(&screen);
        panel.Paint(canvas);
    }
    EXPECT_EQ(screen.pixel(0, 0), Rgb(1, 1, 1));

    UseTestColours(panel);
    panel.resize(4, 1);
    panel.Loaded();
    EXPECT_EQ(PixelRows(panel.BackImage(), Letters), std::vector<std::string>{"LLLL"});
}
