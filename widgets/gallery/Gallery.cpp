// Shows a gradient panel and gradient buttons in each of their states.
//   tessaly_widgets_gallery [--screenshot FILE] [--crop X,Y,W,H] [--zoom N]
// With --screenshot the window (or the cropped part of it) is grabbed into FILE (PNG), zoomed N
// times with square pixels, and the program exits.
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

namespace {

void SendMouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held)
{
    const QPointF pos(target->width() / 2.0, target->height() / 2.0);
    QMouseEvent event(type, pos, target->mapToGlobal(pos), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

TQXGradButton* AddButton(QWidget* parent, const QString& caption, int x, int y, int w = 100)
{
    auto* button = new TQXGradButton(parent);
    button->SetCaption(caption);
    button->setGeometry(x, y, w, 25);
    return button;
}

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, 100, 16);
    return label;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString screenshot;
    int zoom = 1;
    QRect crop;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--screenshot") && i + 1 < args.size())
            screenshot = args[++i];
        else if (args[i] == QLatin1String("--zoom") && i + 1 < args.size())
            zoom = qBound(1, args[++i].toInt(), 16);
        else if (args[i] == QLatin1String("--crop") && i + 1 < args.size()) {
            const QStringList parts = args[++i].split(QLatin1Char(','));
            if (parts.size() == 4)
                crop = QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
        }
    }

    // The window's background: the dialogs' look, a raised ring with a lowered one inside it.
    TQXGradPanel window;
    window.setWindowTitle(QStringLiteral("Gradient controls"));
    window.SetBevelInner(bvLowered);
    window.resize(480, 250);
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(13);
    window.setFont(font);

    const char* names[] = {"Up", "Down", "Over", "Disabled", "Focused"};
    TQXGradButton* buttons[5] = {};
    for (int i = 0; i < 5; ++i) {
        AddLabel(&window, QString::fromLatin1(names[i]), 12, 12 + i * 34 + 4);
        buttons[i] = AddButton(&window, QStringLiteral("&Close"), 100, 12 + i * 34);
    }
    buttons[3]->setEnabled(false);
    AddLabel(&window, QStringLiteral("Too wide"), 12, 12 + 5 * 34 + 4);
    AddButton(&window, QStringLiteral("Get Selected Files"), 100, 12 + 5 * 34, 60);

    auto* horizontal = new TQXGradPanel(&window);
    horizontal->setGeometry(230, 12, 110, 100);
    horizontal->SetGradDir(gHorizontal);
    auto* tiled = new TQXGradPanel(&window);
    tiled->setGeometry(350, 12, 120, 120);
    tiled->SetGradDir(gTile);
    auto* small = new TQXGradPanel(&window);
    small->setGeometry(230, 122, 60, 40);
    small->SetBevelInner(bvLowered);
    small->SetBevelWidth(3);

    window.show();
    window.activateWindow();
    QApplication::processEvents();

    SendMouse(buttons[1], QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
    SendMouse(buttons[2], QEvent::MouseMove, Qt::NoButton, Qt::NoButton);
    buttons[4]->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();

    if (screenshot.isEmpty())
        return app.exec();

    QImage image = window.grab().toImage();
    if (!crop.isEmpty())
        image = image.copy(crop);
    if (zoom > 1)
        image = image.scaled(image.size() * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (!image.save(screenshot, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(screenshot));
        return 1;
    }
    return 0;
}
