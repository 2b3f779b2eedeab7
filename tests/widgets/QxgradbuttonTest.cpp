#include "PixelRows.h"
#include "Qxgradbutton.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Explicit up-face colours, all distinct, so every pixel of a face names its role.
const TColor Border = RGBColor(10, 10, 10);
const TColor Light = RGBColor(250, 250, 0);
const TColor Dark = RGBColor(0, 0, 90);
const TColor FaceTop = RGBColor(0, 100, 0);
const TColor FaceBottom = RGBColor(0, 140, 0);
const TColor Ring = RGBColor(255, 0, 0);

void UseTestColours(TQXGradButton& button, TQXGradButton::Face face)
{
    button.SetStateColor(face, TQXGradButton::RoleBorder, Border);
    button.SetStateColor(face, TQXGradButton::RoleLight, Light);
    button.SetStateColor(face, TQXGradButton::RoleDark, Dark);
    button.SetStateColor(face, TQXGradButton::RoleFace, FaceTop);
    button.SetStateColor(face, TQXGradButton::RoleGrad, FaceBottom);
}

QImage Painted(TQXGradButton& button)
{
    QImage image = FilledImage(button.width(), button.height(), QColor(255, 0, 255));
    QPainter canvas(&image);
    button.Paint(canvas);
    return image;
}

// Counts the paint events a widget receives, to see that a face change is painted at once.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Pointer moves without a held button (QTest would move the real cursor for those).
void Hover(QWidget* widget, QPoint pos, Qt::MouseButtons held = Qt::NoButton)
{
    QMouseEvent event(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void Leave(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

void Focus(QWidget* widget, QEvent::Type type)
{
    QFocusEvent event(type, Qt::TabFocusReason);
    QCoreApplication::sendEvent(widget, &event);
}

// A shown button on a form, with its clicks counted.
struct ShownButton {
    QWidget form;
    TQXGradButton* button = new TQXGradButton(&form);
    int clicks = 0;
    ShownButton()
    {
        form.resize(200, 100);
        button->setGeometry(10, 10, 40, 20);
        QObject::connect(button, &TQXGradButton::clicked, [this] { ++clicks; });
        form.show();
        QCoreApplication::processEvents();
    }
};

const QPoint Centre(20, 10);
const QPoint Outside(60, 10);

} // namespace

// A 6 x 5 face without caption or focus: border, then highlight/shadow ring, gradient inside.
TEST(TQXGradButtonFace, SixByFive)
{
    TQXGradButton button;
    UseTestColours(button, TQXGradButton::FaceUp);
    button.resize(6, 5);
    const QImage image = Painted(button);

    QImage gradient = FilledImage(6, 5, Qt::white);
    {
        QPainter canvas(&gradient);
        DrawGradientVert(canvas, TRect{0, 0, 6, 5}, FaceTop, FaceBottom);
    }
    ColorLetters letters = {
        {ToQColor(Border).rgb(), 'B'}, {ToQColor(Light).rgb(), 'L'}, {ToQColor(Dark).rgb(), 'D'}};
    letters[gradient.pixel(2, 2)] = 'g';
    EXPECT_EQ(PixelRows(image, letters),
              (std::vector<std::string>{"BBBBBB", "BLLLLB", "BLggDB", "BLDDDB", "BBBBBB"}));
}

// The focus ring is in the up, down and over faces only: the outline of (3, 3, w - 3, h - 3)
// without its corner pixels.
TEST(TQXGradButtonFace, FocusRingInUpDownOverOnly)
{
    TQXGradButton button;
    button.resize(12, 10);
    button.SetColorFocusRect(Ring);
    UseTestColours(button, TQXGradButton::FaceUp);
    Focus(&button, QEvent::FocusIn);
    ASSERT_TRUE(button.HasFocus());

    ColorLetters letters = {{ToQColor(Ring).rgb(), 'o'}};
    auto ringOnly = [&](const QImage& face) {
        std::vector<std::string> rows = PixelRows(face, letters);
        for (auto& row : rows)
            for (char& c : row)
                c = c == 'o' ? 'o' : '.';
        return rows;
    };
    const std::vector<std::string> ring = {"............", "............", "............",
                                           "....oooo....", "...o....o...", "...o....o...",
                                           "....oooo....", "............", "............",
                                           "............"};
    EXPECT_EQ(ringOnly(button.FaceImage(TQXGradButton::FaceUp)), ring);
    EXPECT_EQ(ringOnly(button.FaceImage(TQXGradButton::FaceDown)), ring);
    EXPECT_EQ(ringOnly(button.FaceImage(TQXGradButton::FaceOver)), ring);
    EXPECT_EQ(ringOnly(button.FaceImage(TQXGradButton::FaceDisabled)),
              std::vector<std::string>(10, "............"));

    // Disabling a focused button shows the disabled face, without a ring.
    button.setEnabled(false);
    EXPECT_EQ(Painted(button), button.FaceImage(TQXGradButton::FaceDisabled));

    Focus(&button, QEvent::FocusOut);
    EXPECT_EQ(ringOnly(button.FaceImage(TQXGradButton::FaceUp)), std::vector<std::string>(10, "............"));
}

// A new ring colour shows at once while focused; unfocused it waits for the next rebuild.
TEST(TQXGradButtonFace, FocusRingColourShowsAtOnce)
{
    TQXGradButton button;
    button.resize(12, 10);
    Focus(&button, QEvent::FocusIn);
    const int before = button.RebuildCount();
    button.SetColorFocusRect(Ring);
    EXPECT_EQ(button.RebuildCount(), before + 3);
    EXPECT_EQ(Painted(button).pixel(4, 3), ToQColor(Ring).rgb());

    Focus(&button, QEvent::FocusOut);
    const int unfocused = button.RebuildCount();
    button.SetColorFocusRect(RGBColor(0, 0, 255));
    EXPECT_EQ(button.RebuildCount(), unfocused);
}

// An ampersand vanishes from the face: "&Close" looks exactly like "Close".
TEST(TQXGradButtonCaption, AmpersandIsNotDrawn)
{
    TQXGradButton plain;
    plain.SetCaption(QStringLiteral("Close"));
    TQXGradButton marked;
    marked.SetCaption(QStringLiteral("&Close"));
    const QImage withoutMark = Painted(plain);
    EXPECT_EQ(Painted(marked), withoutMark);

    TQXGradButton empty;
    EXPECT_NE(Painted(empty), withoutMark);
}

// A caption wider than the button starts left of it and is clipped on both sides.
TEST(TQXGradButtonCaption, WideCaptionIsCentredAndClipped)
{
    TQXGradButton empty;
    empty.resize(16, 30);
    TQXGradButton wide;
    wide.resize(16, 30);
    wide.SetCaption(QStringLiteral("WWWWWWWWWWWWWWWWWWWW"));
    const QImage bare = Painted(empty);
    const QImage text = Painted(wide);
    auto columnChanged = [&](int x) {
        for (int y = 0; y < 30; ++y)
            if (bare.pixel(x, y) != text.pixel(x, y))
                return true;
        return false;
    };
    EXPECT_TRUE(columnChanged(0));
    EXPECT_TRUE(columnChanged(15));
}

// Press, drag out and back, release inside: down, up, down, over, and one click.
TEST(TQXGradButtonMouse, DragOutAndBackThenReleaseInside)
{
    ShownButton s;
    PaintCounter counter;
    s.button->installEventFilter(&counter);

    QTest::mousePress(s.button, Qt::LeftButton, {}, Centre);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceDown);
    EXPECT_TRUE(s.button->MousePressed());
    // Painted before the next event is handled, not merely scheduled.
    EXPECT_EQ(counter.paints, 1);

    Hover(s.button, Outside, Qt::LeftButton);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceUp);
    EXPECT_EQ(counter.paints, 2);
    Hover(s.button, Centre, Qt::LeftButton);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceDown);

    QTest::mouseRelease(s.button, Qt::LeftButton, {}, Centre);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceOver);
    EXPECT_FALSE(s.button->MousePressed());
    EXPECT_EQ(s.clicks, 1);
    EXPECT_EQ(counter.paints, 4);
}

// Releasing outside shows up and does not click.
TEST(TQXGradButtonMouse, ReleaseOutsideDoesNotClick)
{
    ShownButton s;
    QTest::mousePress(s.button, Qt::LeftButton, {}, Centre);
    Hover(s.button, Outside, Qt::LeftButton);
    QTest::mouseRelease(s.button, Qt::LeftButton, {}, Outside);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceUp);
    EXPECT_EQ(s.clicks, 0);
}

// Column 0 is in the client rectangle (a click) but outside for the face (up after release).
TEST(TQXGradButtonMouse, LeftMostColumnClicksButShowsUp)
{
    ShownButton s;
    QTest::mousePress(s.button, Qt::LeftButton, {}, QPoint(0, 10));
    QTest::mouseRelease(s.button, Qt::LeftButton, {}, QPoint(0, 10));
    EXPECT_EQ(s.clicks, 1);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceUp);
}

// A double click runs one click, whether or not the second press comes before the double click.
TEST(TQXGradButtonMouse, DoubleClickRunsOneClick)
{
    ShownButton s;
    QTest::mousePress(s.button, Qt::LeftButton, {}, Centre);
    QTest::mouseRelease(s.button, Qt::LeftButton, {}, Centre);
    QTest::mousePress(s.button, Qt::LeftButton, {}, Centre);
    QTest::mouseDClick(s.button, Qt::LeftButton, {}, Centre);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceDown);
    QTest::mouseRelease(s.button, Qt::LeftButton, {}, Centre);
    EXPECT_EQ(s.clicks, 1);

    QTest::mouseClick(s.button, Qt::LeftButton, {}, Centre);
    QTest::mouseDClick(s.button, Qt::LeftButton, {}, Centre);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceDown);
    QTest::mouseRelease(s.button, Qt::LeftButton, {}, Centre);
    EXPECT_EQ(s.clicks, 2);
}

// Hover shows over, leaving shows up; right and middle buttons change nothing.
TEST(TQXGradButtonMouse, HoverLeaveAndOtherButtons)
{
    ShownButton s;
    Hover(s.button, Centre);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceOver);
    QTest::mousePress(s.button, Qt::RightButton, {}, Centre);
    QTest::mouseRelease(s.button, Qt::RightButton, {}, Centre);
    QTest::mousePress(s.button, Qt::MiddleButton, {}, Centre);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceOver);
    EXPECT_FALSE(s.button->MousePressed());
    QTest::mouseRelease(s.button, Qt::MiddleButton, {}, Centre);
    Hover(s.button, QPoint(10, 0));
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceUp);
    Hover(s.button, Centre);
    Leave(s.button);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceUp);
    EXPECT_EQ(s.clicks, 0);
}

// Hovering and pressing back and forth copy faces; they rebuild none.
TEST(TQXGradButtonMouse, StateChangesRebuildNoFace)
{
    ShownButton s;
    for (int i = 0; i < 3; ++i) {
        Hover(s.button, Centre);
        QTest::mousePress(s.button, Qt::LeftButton, {}, Centre);
        QTest::mouseRelease(s.button, Qt::LeftButton, {}, Centre);
        Leave(s.button);
    }
    const int warm = s.button->RebuildCount();
    for (int i = 0; i < 10; ++i) {
        Hover(s.button, Centre);
        QTest::mousePress(s.button, Qt::LeftButton, {}, Centre);
        QTest::mouseRelease(s.button, Qt::LeftButton, {}, Centre);
        Hover(s.button, Outside);
    }
    EXPECT_EQ(s.button->RebuildCount(), warm);
}

// A disabled button ignores the mouse, shows the disabled face and keeps its state for later.
TEST(TQXGradButtonMouse, DisabledKeepsItsState)
{
    ShownButton s;
    Hover(s.button, Centre);
    s.button->setEnabled(false);
    QTest::mousePress(s.button, Qt::LeftButton, {}, Centre);
    QTest::mouseRelease(s.button, Qt::LeftButton, {}, Centre);
    Leave(s.button);
    EXPECT_EQ(s.clicks, 0);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceOver);
    EXPECT_EQ(Painted(*s.button), s.button->FaceImage(TQXGradButton::FaceDisabled));
    s.button->setEnabled(true);
    EXPECT_EQ(Painted(*s.button), s.button->FaceImage(TQXGradButton::FaceOver));
}

// No key activates the button, not even while it holds the focus.
TEST(TQXGradButtonKeys, KeysDoNotClick)
{
    ShownButton s;
    s.button->SetCaption(QStringLiteral("&Close"));
    s.form.activateWindow();
    s.button->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_C})
        QTest::keyClick(s.button, key);
    QTest::keyClick(s.button, Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(s.clicks, 0);
    EXPECT_EQ(s.button->FaceState(), TQXGradButton::FaceUp);
}

// A colour change of a face that is not shown rebuilds it without painting; it shows later.
TEST(TQXGradButtonRebuild, HiddenFaceColourShowsLater)
{
    ShownButton s;
    Hover(s.button, Centre);
    PaintCounter counter;
    s.button->installEventFilter(&counter);
    const int before = s.button->RebuildCount();
    s.button->SetColorUpFace(RGBColor(1, 2, 3));
    s.button->SetColorUpGrad(RGBColor(1, 2, 3));
    EXPECT_EQ(s.button->RebuildCount(), before + 2);
    EXPECT_EQ(counter.paints, 0);
    Leave(s.button);
    EXPECT_EQ(counter.paints, 1);
    EXPECT_EQ(Painted(*s.button).pixel(5, 5), Rgb(1, 2, 3));

    // The shown face repaints at once.
    s.button->SetColorUpText(RGBColor(9, 9, 9));
    EXPECT_EQ(counter.paints, 2);
    s.button->SetColorUpText(RGBColor(9, 9, 9));
    EXPECT_EQ(counter.paints, 2);
}

// After a resize only the face shown is rebuilt, at the next paint; the others when next shown.
TEST(TQXGradButtonRebuild, ResizeRebuildsTheShownFace)
{
    TQXGradButton button;
    QImage sink(200, 100, QImage::Format_RGB32);
    QPainter canvas(&sink);
    button.Paint(canvas);
    EXPECT_EQ(button.FaceImage(TQXGradButton::FaceUp).size(), QSize(100, 25));
    const int before = button.RebuildCount();
    button.resize(80, 30);
    button.Paint(canvas);
    button.Paint(canvas);
    EXPECT_EQ(button.RebuildCount(), before + 1);
    EXPECT_EQ(button.FaceImage(TQXGradButton::FaceUp).size(), QSize(80, 30));
    EXPECT_TRUE(button.FaceImage(TQXGradButton::FaceDown).isNull());
}

// Caption and font changes rebuild all four faces.
TEST(TQXGradButtonRebuild, CaptionAndFontRebuildAllFaces)
{
    TQXGradButton button;
    const int before = button.RebuildCount();
    button.SetCaption(QStringLiteral("OK"));
    EXPECT_EQ(button.RebuildCount(), before + 4);
    QFont font = button.font();
    font.setPixelSize(21);
    button.setFont(font);
    EXPECT_EQ(button.RebuildCount(), before + 8);
}

// A click on a dialog with a non-zero ModalResult closes it with that result.
TEST(TQXGradButtonModalResult, ClosesDialogWithResult)
{
    QDialog dialog;
    auto* button = new TQXGradButton(&dialog);
    button->SetModalResult(QDialog::Accepted + 4);
    dialog.show();
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 5);
}

// ModalResult 0 leaves the dialog open unless the handler closes it; the handler has the last word.
TEST(TQXGradButtonModalResult, ZeroKeepsDialogOpenAndHandlerWins)
{
    QDialog dialog;
    auto* button = new TQXGradButton(&dialog);
    dialog.show();
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.property(TQXGradButton::ModalResultProperty).toInt(), 0);

    button->SetModalResult(2);
    QObject::connect(button, &TQXGradButton::clicked, &dialog, [&] { dialog.done(7); });
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 7);
}

// On a window that is no dialog the result is kept in the window's ModalResult property.
TEST(TQXGradButtonModalResult, PlainWindowGetsProperty)
{
    ShownButton s;
    s.button->SetModalResult(3);
    QTest::mouseClick(s.button, Qt::LeftButton, {}, Centre);
    EXPECT_EQ(s.form.property(TQXGradButton::ModalResultProperty).toInt(), 3);
    EXPECT_TRUE(s.form.isVisible());
}

// A linked action gives caption, enabled state, hint and visibility, and a click without a handler
// triggers it.
TEST(TQXGradButtonAction, FollowsAndTriggersAction)
{
    QWidget form;
    auto* button = new TQXGradButton(&form);
    QAction action(QStringLiteral("&Get Selected Files"));
    int triggered = 0;
    QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
    action.setEnabled(false);
    button->SetAction(&action);
    EXPECT_EQ(button->Caption(), QStringLiteral("&Get Selected Files"));
    EXPECT_FALSE(button->isEnabled());

    const int before = button->RebuildCount();
    action.setText(QStringLiteral("Delete"));
    action.setEnabled(true);
    EXPECT_EQ(button->Caption(), QStringLiteral("Delete"));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(button->RebuildCount(), before + 4);
    action.setToolTip(QStringLiteral("Delete the selected files"));
    EXPECT_EQ(button->toolTip(), QStringLiteral("Delete the selected files"));
    action.setVisible(false);
    EXPECT_TRUE(button->isHidden());
    action.setVisible(true);
    EXPECT_FALSE(button->isHidden());

    form.show();
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(triggered, 1);

    // A click handler of its own takes precedence over the action.
    int handled = 0;
    QObject::connect(button, &TQXGradButton::clicked, [&] { ++handled; });
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(triggered, 1);
}

// Tiny faces keep to the line rule and stay inside the image: on a 3 x 2 face the inner ring's
// rectangle (1, 1, 2, 1) is empty, and its lines from (1, 0) colour the middle column in Light.
TEST(TQXGradButtonFace, DegenerateSizes)
{
    TQXGradButton button;
    UseTestColours(button, TQXGradButton::FaceUp);
    Focus(&button, QEvent::FocusIn);
    button.resize(0, 25);
    QImage screen = FilledImage(4, 4, QColor(1, 1, 1));
    {
        QPainter canvas(&screen);
        button.Paint(canvas);
    }
    EXPECT_EQ(screen.pixel(0, 0), Rgb(1, 1, 1));
    EXPECT_TRUE(button.FaceImage(TQXGradButton::FaceUp).isNull());

    button.resize(3, 2);
    EXPECT_EQ(PixelRows(Painted(button), {{ToQColor(Border).rgb(), 'B'}, {ToQColor(Light).rgb(), 'L'}}),
              (std::vector<std::string>{"BLB", "BLB"}));
}

// The default colours give disabled and enabled captions the same black; the disabled caption is
// then drawn in the system's grey text, so the state shows. Colours of its own are kept.
TEST(TQXGradButtonCaption, DisabledCaptionDiffersFromEnabled)
{
    TQXGradButton button;
    button.SetCaption(QStringLiteral("Send"));
    ASSERT_EQ(ColorToRGB(button.StateColor(TQXGradButton::FaceDisabled, TQXGradButton::RoleText)),
              ColorToRGB(button.StateColor(TQXGradButton::FaceUp, TQXGradButton::RoleText)));
    EXPECT_EQ(button.DisabledTextColor(), clGrayText);
    const QRgb grey = ToQColor(clGrayText).rgb();
    auto hasGrey = [&](const QImage& face) {
        for (int y = 0; y < face.height(); ++y)
            for (int x = 0; x < face.width(); ++x)
                if (face.pixel(x, y) == grey)
                    return true;
        return false;
    };
    EXPECT_TRUE(hasGrey(button.FaceImage(TQXGradButton::FaceDisabled)));
    EXPECT_FALSE(hasGrey(button.FaceImage(TQXGradButton::FaceUp)));

    button.SetStateColor(TQXGradButton::FaceDisabled, TQXGradButton::RoleText, RGBColor(200, 0, 0));
    EXPECT_EQ(button.DisabledTextColor(), RGBColor(200, 0, 0));
    // Where grey text is the enabled caption's colour too, the midpoint to the face is taken.
    button.SetStateColor(TQXGradButton::FaceDisabled, TQXGradButton::RoleText, clGrayText);
    button.SetStateColor(TQXGradButton::FaceUp, TQXGradButton::RoleText, clGrayText);
    button.SetStateColor(TQXGradButton::FaceDisabled, TQXGradButton::RoleFace, RGBColor(255, 255, 255));
    EXPECT_EQ(button.DisabledTextColor(), RGBColor(182, 182, 182));
}
