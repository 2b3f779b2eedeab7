#pragma once
// Gradient panel: a container that paints a vertical or horizontal gradient (or a tiled picture)
// inside raised or lowered bevel rings. The background is kept in a cached image of the panel's size,
// rebuilt only when one of its inputs changes; every paint is one copy of that image.
#include "Drawingutils.h"

#include <QImage>
#include <QWidget>

class QPainter;

enum GradDir : std::int32_t { gVertical = 0, gHorizontal = 1, gTile = 2 };

enum TBevelCut : std::int32_t { bvNone = 0, bvLowered = 1, bvRaised = 2, bvSpace = 3 };

class TQXGradPanel : public QWidget {
    Q_OBJECT

public:
    explicit TQXGradPanel(QWidget* owner = nullptr);
    ~TQXGradPanel() override = default;

    // The holder has finished setting the properties: build the background and paint it once.
    void Loaded();

    // Copies the cached background to (0, 0), or paints nothing at all when transparent.
    void Paint(QPainter& canvas);

    // Paints the background into image, resized to the panel's size.
    void BuildBmp(QImage& image);

    TColor ColorFace() const { return FColorFace; }
    TColor ColorGrad() const { return FColorGrad; }
    TColor ColorDark() const { return FColorDark; }
    TColor ColorLight() const { return FColorLight; }
    GradDir GradientDirection() const { return FGradientDirection; }
    bool Transparent() const { return FTransparent; }
    const QImage& Bitmap() const { return FBitmap; }
    TBevelCut BevelOuter() const { return FBevelOuter; }
    TBevelCut BevelInner() const { return FBevelInner; }
    int BevelWidth() const { return FBevelWidth; }

    void SetColorFace(TColor value);
    void SetColorGrad(TColor value);
    void SetColorDark(TColor value);
    void SetColorLight(TColor value);
    void SetGradDir(GradDir value);
    void SetTransparent(bool value);
    // The panel keeps its own copy of the picture.
    void SetBitmap(const QImage& value);
    // Bevel changes rebuild at once, so new rings never wait for an unrelated rebuild.
    void SetBevelOuter(TBevelCut value);
    void SetBevelInner(TBevelCut value);
    void SetBevelWidth(int value);

    const QImage& BackImage() const { return FBackImage; }
    // How many times the background was built; painting must never raise it.
    int RebuildCount() const { return FRebuildCount; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void SetColor(TColor& field, TColor value);
    void Rebuild();
    void UpdateInsets();
    void BevelChanged();

    QImage FBackImage;
    QImage FBitmap;
    TColor FColorFace = clBtnFace;
    TColor FColorGrad = clInactiveCaption;
    TColor FColorDark = clActiveCaption;
    TColor FColorLight = clGradientInactiveCaption;
    GradDir FGradientDirection = gVertical;
    bool FTransparent = false;
    TBevelCut FBevelOuter = bvRaised;
    TBevelCut FBevelInner = bvNone;
    int FBevelWidth = 1;
    int FRebuildCount = 0;
};
