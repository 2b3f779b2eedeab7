#include "Qxgradpanel.h"

#include <QPainter>
#include <QResizeEvent>

namespace {

// The tile a new panel has: 100 x 100, interior RGB (52, 69, 75) inside a one-pixel black border.
QImage InitialTile()
{
    QImage tile(100, 100, QImage::Format_RGB32);
    tile.fill(QColor(0, 0, 0));
    QPainter canvas(&tile);
    canvas.fillRect(QRect(1, 1, 98, 98), QColor(52, 69, 75));
    return tile;
}

} // namespace

TQXGradPanel::TQXGradPanel(QWidget* owner) : QWidget(owner), FBitmap(InitialTile())
{
    // The panel covers its whole area, so nothing behind it needs painting or erasing.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    resize(100, 100);
    UpdateInsets();
}

void TQXGradPanel::Loaded()
{
    Rebuild();
    repaint();
}

void TQXGradPanel::Paint(QPainter& canvas)
{
    if (FTransparent)
        return;
    canvas.drawImage(0, 0, FBackImage);
}

void TQXGradPanel::paintEvent(QPaintEvent*)
{
    QPainter canvas(this);
    Paint(canvas);
}

void TQXGradPanel::resizeEvent(QResizeEvent* event)
{
    if (FBackImage.width() != width() || FBackImage.height() != height())
        Rebuild();
    QWidget::resizeEvent(event);
}

void TQXGradPanel::BuildBmp(QImage& image)
{
    ++FRebuildCount;
    const int w = width();
    const int h = height();
    if (!ResizeImage(image, w, h))
        return;

    QPainter canvas(&image);
    const TRect client{0, 0, w, h};
    switch (FGradientDirection) {
    case gVertical:
        DrawGradientVert(canvas, client, FColorFace, FColorGrad);
        break;
    case gHorizontal:
        DrawGradientHorz(canvas, client, FColorFace, FColorGrad);
        break;
    default:
        if (FBitmap.width() <= 0 || FBitmap.height() <= 0) {
            // An empty tile cannot be counted across the panel: show the face colour rather than
            // whatever the image held before.
            canvas.fillRect(QRect(0, 0, w, h), ToQColor(FColorFace));
            break;
        }
        {
            const int tw = FBitmap.width();
            const int th = FBitmap.height();
            const int cx = w / tw;
            const int cy = h / th;
            for (int i = 0; i <= cx; ++i)
                for (int j = 0; j <= cy; ++j)
                    canvas.drawImage(i * tw, j * th, FBitmap);
        }
        break;
    }

    int k = 0;
    auto drawRings = [&](TBevelCut cut) {
        for (int n = 0; n < FBevelWidth; ++n) {
            const TRect ring{k, k, w - k, h - k};
            if (cut == bvRaised)
                DrawFrameLines(canvas, ring, FColorDark, FColorLight);
            else if (cut == bvLowered)
                DrawFrameLines(canvas, ring, FColorLight, FColorDark);
            else
                continue;
            ++k;
        }
    };
    drawRings(FBevelOuter);
    drawRings(FBevelInner);
}

void TQXGradPanel::Rebuild()
{
    BuildBmp(FBackImage);
}

void TQXGradPanel::SetColor(TColor& field, TColor value)
{
    if (field == value)
        return;
    field = value;
    Rebuild();
    update();
}

void TQXGradPanel::SetColorFace(TColor value) { SetColor(FColorFace, value); }
void TQXGradPanel::SetColorGrad(TColor value) { SetColor(FColorGrad, value); }
void TQXGradPanel::SetColorDark(TColor value) { SetColor(FColorDark, value); }
void TQXGradPanel::SetColorLight(TColor value) { SetColor(FColorLight, value); }

void TQXGradPanel::SetGradDir(GradDir value)
{
    FGradientDirection = value;
    Rebuild();
    update();
}

void TQXGradPanel::SetTransparent(bool value)
{
    FTransparent = value;
    // A transparent panel paints nothing, so whatever lies behind it must be painted first.
    setAttribute(Qt::WA_OpaquePaintEvent, !value);
    update();
}

void TQXGradPanel::SetBitmap(const QImage& value)
{
    FBitmap = value.copy();
    Rebuild();
    update();
}

void TQXGradPanel::SetBevelOuter(TBevelCut value)
{
    FBevelOuter = value;
    BevelChanged();
}

void TQXGradPanel::SetBevelInner(TBevelCut value)
{
    FBevelInner = value;
    BevelChanged();
}

void TQXGradPanel::SetBevelWidth(int value)
{
    FBevelWidth = value < 0 ? 0 : value;
    BevelChanged();
}

void TQXGradPanel::BevelChanged()
{
    UpdateInsets();
    Rebuild();
    update();
}

void TQXGradPanel::UpdateInsets()
{
    // Children are laid out inside the bevels: one BevelWidth for each bevel that is not none.
    int inset = 0;
    if (FBevelOuter != bvNone)
        inset += FBevelWidth;
    if (FBevelInner != bvNone)
        inset += FBevelWidth;
    setContentsMargins(inset, inset, inset, inset);
}
