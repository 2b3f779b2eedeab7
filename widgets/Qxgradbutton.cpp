#include "Qxgradbutton.h"

#include <QAction>
#include <QDialog>
#include <QFontMetrics>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>

TQXGradButton::TQXGradButton(QWidget* owner) : QWidget(owner)
{
    // Rows: up, down, over, disabled; columns: Face, Grad, Dark, Light, Border, Text.
    FColors = {{
        {clGradientInactiveCaption, clActiveCaption, cl3DDkShadow, clGradientActiveCaption,
         cl3DDkShadow, clCaptionText},
        {clActiveCaption, clGradientInactiveCaption, clGradientActiveCaption, cl3DDkShadow,
         cl3DDkShadow, clCaptionText},
        {clBtnFace, clActiveCaption, cl3DDkShadow, clGradientActiveCaption, cl3DDkShadow,
         clCaptionText},
        {clGradientInactiveCaption, clInactiveCaption, clGradientInactiveCaption, clInactiveCaption,
         clInactiveBorder, clInactiveCaptionText},
    }};
    resize(100, 25);
    // Tabbing gives the focus; clicking does not.
    setFocusPolicy(Qt::TabFocus);
    // Hover faces need the pointer's moves while no button is held.
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void TQXGradButton::Paint(QPainter& canvas)
{
    Face face = FaceUp;
    if (!isEnabled())
        face = FaceDisabled;
    else if (FFaceState == FaceDown)
        face = FaceDown;
    else if (FFaceState == FaceOver)
        face = FaceOver;

    QImage& image = FImages[face];
    if (image.width() != width() || image.height() != height()) {
        switch (face) {
        case FaceDown: BuildBmpDown(image); break;
        case FaceOver: BuildBmpOver(image); break;
        case FaceDisabled: BuildBmpDisabled(image); break;
        default: BuildBmpUp(image); break;
        }
    }
    canvas.drawImage(0, 0, image);
}

void TQXGradButton::paintEvent(QPaintEvent*)
{
    QPainter canvas(this);
    Paint(canvas);
}

void TQXGradButton::BuildBmpUp(QImage& image) { BuildFace(image, FaceUp, FHasFocus); }
void TQXGradButton::BuildBmpDown(QImage& image) { BuildFace(image, FaceDown, FHasFocus); }
void TQXGradButton::BuildBmpOver(QImage& image) { BuildFace(image, FaceOver, FHasFocus); }
void TQXGradButton::BuildBmpDisabled(QImage& image) { BuildFace(image, FaceDisabled, false); }

void TQXGradButton::BuildFace(QImage& image, Face face, bool withFocusRing)
{
    ++FRebuildCount;
    const int w = width();
    const int h = height();
    if (!ResizeImage(image, w, h))
        return;
    const auto& colors = FColors[face];
    {
        QPainter canvas(&image);
        DrawGradientVert(canvas, TRect{0, 0, w, h}, colors[RoleFace], colors[RoleGrad]);

        const QColor border = ToQColor(colors[RoleBorder]);
        canvas.fillRect(QRect(0, 0, w, 1), border);
        canvas.fillRect(QRect(0, h - 1, w, 1), border);
        canvas.fillRect(QRect(0, 0, 1, h), border);
        canvas.fillRect(QRect(w - 1, 0, 1, h), border);

        DrawFrameLines(canvas, TRect{1, 1, w - 1, h - 1}, colors[RoleDark], colors[RoleLight]);
    }
    DrawCaption(image, StripAmpersands(FCaption), face == FaceDisabled ? DisabledTextColor() : colors[RoleText],
                colors[RoleGrad]);

    if (withFocusRing) {
        // Outline of the rounded rectangle (3, 3, w - 3, h - 3) with 5 x 5 corner ellipses: at that
        // size each corner ellipse leaves out just the corner pixel of the outline.
        QPainter canvas(&image);
        const QColor ring = ToQColor(FColorFocusRect);
        const int left = 3, top = 3, right = w - 4, bottom = h - 4;
        auto fill = [&](int x0, int y0, int x1, int y1) {
            if (x1 >= x0 && y1 >= y0)
                canvas.fillRect(QRect(x0, y0, x1 - x0 + 1, y1 - y0 + 1), ring);
        };
        fill(left + 1, top, right - 1, top);
        fill(left + 1, bottom, right - 1, bottom);
        fill(left, top + 1, left, bottom - 1);
        fill(right, top + 1, right, bottom - 1);
    }
}

TColor TQXGradButton::DisabledTextColor() const
{
    // The system's default colours give disabled captions the enabled captions' black, so the
    // state would not show; only then is another colour taken: the system's grey text, or, where
    // that is the same colour too, the midpoint between the caption and its face.
    const TColor disabled = FColors[FaceDisabled][RoleText];
    const TColor enabled = FColors[FaceUp][RoleText];
    if ((ColorToRGB(disabled) & 0xFFFFFF) != (ColorToRGB(enabled) & 0xFFFFFF))
        return disabled;
    if ((ColorToRGB(clGrayText) & 0xFFFFFF) != (ColorToRGB(enabled) & 0xFFFFFF))
        return clGrayText;
    const TColor text = ColorToRGB(enabled);
    const TColor face = ColorToRGB(FColors[FaceDisabled][RoleFace]);
    auto mid = [&](int shift) { return static_cast<int>((((text >> shift) & 0xFF) + ((face >> shift) & 0xFF)) / 2); };
    return RGBColor(mid(0), mid(8), mid(16));
}

void TQXGradButton::DrawCaption(QImage& image, const QString& text, TColor textColor,
                                TColor shadowColor)
{
    if (text.isEmpty() || image.isNull())
        return;
    QPainter canvas(&image);
    canvas.setClipRect(QRect(0, 0, image.width(), image.height()));
    canvas.setFont(font());
    const QFontMetrics metrics = canvas.fontMetrics();
    const int tw = metrics.horizontalAdvance(text);
    const int th = metrics.height();
    // Integer halvings cut toward zero, so a caption wider than the face gets a negative x and is
    // clipped on both sides.
    const int x = image.width() / 2 - tw / 2;
    const int y = image.height() / 2 - th / 2;
    const int baseline = metrics.ascent();

    canvas.setPen(ToQColor(shadowColor));
    canvas.drawText(QPoint(x + 1, y + 1 + baseline), text);
    canvas.drawText(QPoint(x + 2, y + 1 + baseline), text);
    canvas.setPen(ToQColor(textColor));
    canvas.drawText(QPoint(x, y + baseline), text);
}

void TQXGradButton::BuildAllFaces()
{
    BuildBmpUp(FImages[FaceUp]);
    BuildBmpDown(FImages[FaceDown]);
    BuildBmpOver(FImages[FaceOver]);
    BuildBmpDisabled(FImages[FaceDisabled]);
}

void TQXGradButton::RepaintNow()
{
    // Synchronous, so every face change is on screen before the next mouse event is handled.
    if (isVisible())
        repaint();
}

void TQXGradButton::SetFaceState(int value)
{
    if (FFaceState == value)
        return;
    FFaceState = value;
    RepaintNow();
}

void TQXGradButton::SetStateColor(Face face, ColorRole role, TColor value)
{
    if (FColors[face][role] == value)
        return;
    FColors[face][role] = value;
    switch (face) {
    case FaceDown: BuildBmpDown(FImages[face]); break;
    case FaceOver: BuildBmpOver(FImages[face]); break;
    case FaceDisabled: BuildBmpDisabled(FImages[face]); break;
    default: BuildBmpUp(FImages[face]); break;
    }
    const bool shown = face == FaceDisabled ? !isEnabled() : FFaceState == face;
    if (shown)
        RepaintNow();
}

void TQXGradButton::SetColorFocusRect(TColor value)
{
    if (FColorFocusRect == value)
        return;
    FColorFocusRect = value;
    if (FHasFocus) {
        BuildBmpUp(FImages[FaceUp]);
        BuildBmpDown(FImages[FaceDown]);
        BuildBmpOver(FImages[FaceOver]);
        RepaintNow();
    }
}

void TQXGradButton::SetCaption(const QString& value)
{
    if (FCaption == value)
        return;
    FCaption = value;
    // Rebuilt whether or not the button is shown yet, so a face built earlier never keeps the old
    // caption.
    BuildAllFaces();
    RepaintNow();
}

void TQXGradButton::SetAction(QAction* action)
{
    if (FAction)
        disconnect(FAction, nullptr, this, nullptr);
    FAction = action;
    if (action) {
        connect(action, &QAction::changed, this, &TQXGradButton::ActionChanged);
        ActionChanged();
    }
}

void TQXGradButton::ActionChanged()
{
    if (!FAction)
        return;
    SetCaption(FAction->text());
    setEnabled(FAction->isEnabled());
    setToolTip(FAction->toolTip());
    // Only a child follows the action's visibility: showing a parentless button would open a window.
    if (parentWidget() && isHidden() == FAction->isVisible())
        setVisible(FAction->isVisible());
}

void TQXGradButton::Click()
{
    QPointer<TQXGradButton> self(this);
    QWidget* form = window();
    if (form == this)
        form = nullptr;
    if (form)
        form->setProperty(ModalResultProperty, FModalResult);

    if (isSignalConnected(QMetaMethod::fromSignal(&TQXGradButton::clicked)) || !FAction)
        emit clicked();
    else
        FAction->trigger();

    // The handler has the last word: it may have changed the property or closed the dialog itself.
    if (!self || !form)
        return;
    auto* dialog = qobject_cast<QDialog*>(form);
    const int result = form->property(ModalResultProperty).toInt();
    if (dialog && dialog->isVisible() && result != 0)
        dialog->done(result);
}

void TQXGradButton::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int, int)
{
    if (!isEnabled() || button != Qt::LeftButton)
        return;
    FMousePressed = true;
    SetFaceState(FaceDown);
}

void TQXGradButton::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y)
{
    if (!isEnabled() || button != Qt::LeftButton)
        return;
    FMousePressed = false;
    SetFaceState(Inside(x, y) ? FaceOver : FaceUp);
}

void TQXGradButton::MouseMove(Qt::KeyboardModifiers, int x, int y)
{
    if (!isEnabled())
        return;
    if (Inside(x, y))
        SetFaceState(FMousePressed ? FaceDown : FaceOver);
    else
        SetFaceState(FaceUp);
}

void TQXGradButton::CMMouseLeave()
{
    if (isEnabled() && FFaceState != FaceUp)
        SetFaceState(FaceUp);
}

void TQXGradButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        FClickArmed = true;
    const QPoint p = event->position().toPoint();
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TQXGradButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click never leads to a click, but it still shows the down face.
    if (event->button() == Qt::LeftButton)
        FClickArmed = false;
    const QPoint p = event->position().toPoint();
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TQXGradButton::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        const bool click = FClickArmed && rect().contains(p);
        FClickArmed = false;
        if (click) {
            // The click runs before the release is handled, and its handler may delete the button.
            QPointer<TQXGradButton> self(this);
            Click();
            if (!self)
                return;
        }
    }
    MouseUp(event->button(), event->modifiers(), p.x(), p.y());
}

void TQXGradButton::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    MouseMove(event->modifiers(), p.x(), p.y());
}

void TQXGradButton::leaveEvent(QEvent* event)
{
    CMMouseLeave();
    QWidget::leaveEvent(event);
}

void TQXGradButton::focusInEvent(QFocusEvent* event)
{
    FHasFocus = true;
    BuildAllFaces();
    RepaintNow();
    QWidget::focusInEvent(event);
}

void TQXGradButton::focusOutEvent(QFocusEvent* event)
{
    FHasFocus = false;
    BuildAllFaces();
    RepaintNow();
    QWidget::focusOutEvent(event);
}

void TQXGradButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        RepaintNow();
    } else if (event->type() == QEvent::FontChange) {
        BuildAllFaces();
        RepaintNow();
    }
    QWidget::changeEvent(event);
}
