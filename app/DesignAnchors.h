#pragma once
// Keeps child controls where the window design anchors them while their parent is resized: an
// edge anchored to the parent keeps its distance to that edge; with both edges of an axis the
// control stretches; with neither, its centre keeps its relative place in the parent.
#include <QObject>
#include <QRect>
#include <QSize>

#include <vector>

class QWidget;

class DesignAnchors : public QObject {
public:
    // `designSize`: the parent's size in the design, which the design rectangles refer to.
    DesignAnchors(QWidget* parent, QSize designSize);

    void Anchor(QWidget* child, QRect designRect, Qt::Edges edges);
    // Keeps `child` at least `gap` pixels below `above` however small the parent gets, so two
    // controls anchored to opposite edges never overlap at the minimum size.
    void KeepBelow(QWidget* child, const QWidget* above, int gap);
    // Places every anchored child for the parent's current size.
    void Apply();

    // The rectangle a control of the design gets in a parent of `size`.
    static QRect Place(QRect designRect, Qt::Edges edges, QSize designSize, QSize size);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QWidget* Child;
        QRect Design;
        Qt::Edges Edges;
        const QWidget* Above = nullptr;
        int Gap = 0;
    };
    void Place(const Entry& entry);
    QWidget* Parent;
    QSize DesignSize;
    std::vector<Entry> Entries;
};
