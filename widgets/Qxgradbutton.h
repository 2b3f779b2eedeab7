#pragma once
// Gradient push button: draws itself entirely from four cached faces (up, down, over, disabled),
// tracks the mouse itself to switch faces, can be linked to a QAction and, on a click, sets the
// modal result of its window. It has no keyboard activation.
#include "Drawingutils.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>

class QAction;
class QPainter;

class TQXGradButton : public QWidget {
    Q_OBJECT

public:
    // Face index; also the values of FaceState (0 up, 1 down, 2 over).
    enum Face : int { FaceUp = 0, FaceDown = 1, FaceOver = 2, FaceDisabled = 3 };
    enum ColorRole : int { RoleFace = 0, RoleGrad, RoleDark, RoleLight, RoleBorder, RoleText };

    // Name of the window property that receives ModalResult on a click.
    static constexpr const char* ModalResultProperty = "ModalResult";

    explicit TQXGradButton(QWidget* owner = nullptr);
    ~TQXGradButton() override = default;

    // Copies the face of the current state to (0, 0), rebuilding it first only when its size no
    // longer matches the button's.
    void Paint(QPainter& canvas);

    // Sets the window's modal result, then runs the click handler (or the linked action).
    void Click();
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void CMMouseLeave();

    void BuildBmpUp(QImage& image);
    void BuildBmpDown(QImage& image);
    void BuildBmpOver(QImage& image);
    void BuildBmpDisabled(QImage& image);
    void DrawCaption(QImage& image, const QString& text, TColor textColor, TColor shadowColor);

    TColor StateColor(Face face, ColorRole role) const { return FColors[face][role]; }
    // The caption colour of the disabled face as drawn: its own colour unless that equals the
    // enabled caption's, so a disabled button always looks it.
    TColor DisabledTextColor() const;
    void SetStateColor(Face face, ColorRole role, TColor value);

#define TQX_FACE_COLOR(S, R)                                                                      \
    TColor Color##S##R() const { return StateColor(Face##S, Role##R); }                           \
    void SetColor##S##R(TColor value) { SetStateColor(Face##S, Role##R, value); }
    TQX_FACE_COLOR(Up, Face) TQX_FACE_COLOR(Up, Grad) TQX_FACE_COLOR(Up, Dark)
    TQX_FACE_COLOR(Up, Light) TQX_FACE_COLOR(Up, Border) TQX_FACE_COLOR(Up, Text)
    TQX_FACE_COLOR(Down, Face) TQX_FACE_COLOR(Down, Grad) TQX_FACE_COLOR(Down, Dark)
    TQX_FACE_COLOR(Down, Light) TQX_FACE_COLOR(Down, Border) TQX_FACE_COLOR(Down, Text)
    TQX_FACE_COLOR(Over, Face) TQX_FACE_COLOR(Over, Grad) TQX_FACE_COLOR(Over, Dark)
    TQX_FACE_COLOR(Over, Light) TQX_FACE_COLOR(Over, Border) TQX_FACE_COLOR(Over, Text)
    TQX_FACE_COLOR(Disabled, Face) TQX_FACE_COLOR(Disabled, Grad) TQX_FACE_COLOR(Disabled, Dark)
    TQX_FACE_COLOR(Disabled, Light) TQX_FACE_COLOR(Disabled, Border) TQX_FACE_COLOR(Disabled, Text)
#undef TQX_FACE_COLOR

    TColor ColorFocusRect() const { return FColorFocusRect; }
    // Shows at once: while focused the ringed faces are rebuilt and the button repainted.
    void SetColorFocusRect(TColor value);

    int ModalResult() const { return FModalResult; }
    void SetModalResult(int value) { FModalResult = value; }

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& value);

    // Links the button to an action: caption, enabled state, hint and visibility follow it, and a
    // click without a handler of its own triggers it.
    QAction* Action() const { return FAction; }
    void SetAction(QAction* action);

    int FaceState() const { return FFaceState; }
    bool MousePressed() const { return FMousePressed; }
    bool HasFocus() const { return FHasFocus; }
    const QImage& FaceImage(Face face) const { return FImages[face]; }
    // How many faces were built so far; hovering and pressing must never raise it.
    int RebuildCount() const { return FRebuildCount; }

signals:
    // The click handler.
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool Inside(int x, int y) const { return x > 0 && x < width() && y > 0 && y < height(); }
    void SetFaceState(int value);
    void BuildFace(QImage& image, Face face, bool withFocusRing);
    void BuildAllFaces();
    void RepaintNow();
    void ActionChanged();

    int FFaceState = FaceUp;
    std::array<std::array<TColor, 6>, 4> FColors{};
    TColor FColorFocusRect = clCaptionText;
    int FModalResult = 0;
    std::array<QImage, 4> FImages;
    bool FMousePressed = false;
    bool FHasFocus = false;
    // Set by a single press and cleared by a double click, so a double click gives one click.
    bool FClickArmed = false;
    QString FCaption;
    QPointer<QAction> FAction;
    int FRebuildCount = 0;
};
