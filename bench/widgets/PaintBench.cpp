// Painting a gradient control is one image copy: its cost does not depend on the gradient, and
// moving the pointer over a button rebuilds no face. Rebuilding is timed beside it for scale.
#include "Qxgradbutton.h"
#include "Qxgradpanel.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

// 0: one band (equal colours); 1: 255 vertical bands; 2: 255 horizontal bands; 3: tiles.
void Configure(TQXGradPanel& panel, int kind)
{
    panel.resize(400, 300);
    panel.SetGradDir(kind == 2 ? gHorizontal : kind == 3 ? gTile : gVertical);
    panel.SetColorFace(RGBColor(0, 0, 0));
    panel.SetColorGrad(kind == 0 ? RGBColor(0, 0, 0) : RGBColor(255, 255, 255));
    panel.Loaded();
}

const char* KindName(int kind)
{
    static const char* const names[] = {"one band", "255 vertical bands", "255 horizontal bands", "tiles"};
    return names[kind];
}

void BM_PanelPaint(benchmark::State& state)
{
    TQXGradPanel panel;
    Configure(panel, static_cast<int>(state.range(0)));
    QImage screen(400, 300, QImage::Format_RGB32);
    QPainter canvas(&screen);
    const int before = panel.RebuildCount();
    for (auto _ : state) {
        panel.Paint(canvas);
        benchmark::ClobberMemory();
    }
    state.counters["rebuilds"] = panel.RebuildCount() - before;
    state.SetLabel(KindName(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_PanelPaint)->DenseRange(0, 3);

void BM_PanelRebuild(benchmark::State& state)
{
    TQXGradPanel panel;
    Configure(panel, static_cast<int>(state.range(0)));
    QImage image;
    for (auto _ : state) {
        panel.BuildBmp(image);
        benchmark::ClobberMemory();
    }
    state.SetLabel(KindName(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_PanelRebuild)->DenseRange(0, 3);

// Each face (0 up, 1 down, 2 over, 3 disabled) costs the same single copy.
void BM_ButtonPaint(benchmark::State& state)
{
    TQXGradButton button;
    button.SetCaption(QStringLiteral("Get Selected Files"));
    const int face = static_cast<int>(state.range(0));
    if (face == TQXGradButton::FaceDown)
        button.MouseDown(Qt::LeftButton, Qt::NoModifier, 50, 12);
    else if (face == TQXGradButton::FaceOver)
        button.MouseMove(Qt::NoModifier, 50, 12);
    else if (face == TQXGradButton::FaceDisabled)
        button.setEnabled(false);
    QImage screen(100, 25, QImage::Format_RGB32);
    QPainter canvas(&screen);
    button.Paint(canvas);
    const int before = button.RebuildCount();
    for (auto _ : state) {
        button.Paint(canvas);
        benchmark::ClobberMemory();
    }
    state.counters["rebuilds"] = button.RebuildCount() - before;
}
BENCHMARK(BM_ButtonPaint)->DenseRange(0, 3);

void BM_ButtonBuildFace(benchmark::State& state)
{
    TQXGradButton button;
    button.SetCaption(QStringLiteral("Get Selected Files"));
    QImage face;
    for (auto _ : state) {
        button.BuildBmpUp(face);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ButtonBuildFace);

void SendMove(QWidget* widget, QPoint pos)
{
    QMouseEvent event(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

// Pointer in and out of a shown button: each move switches face and repaints at once.
void BM_ButtonHover(benchmark::State& state)
{
    QWidget form;
    form.resize(200, 60);
    auto* button = new TQXGradButton(&form);
    button->setGeometry(10, 10, 100, 25);
    button->SetCaption(QStringLiteral("Close"));
    form.show();
    QCoreApplication::processEvents();
    SendMove(button, QPoint(50, 12));
    SendMove(button, QPoint(150, 12));
    const int before = button->RebuildCount();
    std::int64_t moves = 0;
    for (auto _ : state) {
        SendMove(button, QPoint(50, 12));
        SendMove(button, QPoint(150, 12));
        moves += 2;
    }
    state.counters["rebuilds"] = button->RebuildCount() - before;
    state.counters["moves"] = static_cast<double>(moves);
}
BENCHMARK(BM_ButtonHover);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
