#include "DesignAnchors.h"

#include <QEvent>
#include <QWidget>

DesignAnchors::DesignAnchors(QWidget* parent, QSize designSize)
    : QObject(parent), Parent(parent), DesignSize(designSize)
{
    parent->installEventFilter(this);
}

void DesignAnchors::Anchor(QWidget* child, QRect designRect, Qt::Edges edges)
{
    Entries.push_back({child, designRect, edges});
    child->setGeometry(Place(designRect, edges, DesignSize, Parent->size()));
}

namespace {

// One axis: start and length of the control, the parent's design and current length.
void PlaceAxis(int& start, int& length, bool nearEdge, bool farEdge, int designParent, int parent)
{
    const int change = parent - designParent;
    if (nearEdge && farEdge) {
        length += change;
    } else if (farEdge) {
        start += change;
    } else if (!nearEdge && designParent > 0) {
        const double centre = (start + length / 2.0) / designParent;
        start = static_cast<int>(centre * parent - length / 2.0 + 0.5);
    }
}

} // namespace

QRect DesignAnchors::Place(QRect designRect, Qt::Edges edges, QSize designSize, QSize size)
{
    int x = designRect.x();
    int w = designRect.width();
    int y = designRect.y();
    int h = designRect.height();
    PlaceAxis(x, w, edges.testFlag(Qt::LeftEdge), edges.testFlag(Qt::RightEdge), designSize.width(), size.width());
    PlaceAxis(y, h, edges.testFlag(Qt::TopEdge), edges.testFlag(Qt::BottomEdge), designSize.height(),
              size.height());
    return QRect(x, y, qMax(0, w), qMax(0, h));
}

void DesignAnchors::KeepBelow(QWidget* child, const QWidget* above, int gap)
{
    for (Entry& entry : Entries) {
        if (entry.Child == child) {
            entry.Above = above;
            entry.Gap = gap;
            Place(entry);
        }
    }
}

void DesignAnchors::Place(const Entry& entry)
{
    QRect rect = Place(entry.Design, entry.Edges, DesignSize, Parent->size());
    if (entry.Above) {
        const int floor = entry.Above->geometry().bottom() + 1 + entry.Gap;
        if (rect.top() < floor)
            rect.moveTop(floor);
    }
    entry.Child->setGeometry(rect);
}

void DesignAnchors::Apply()
{
    // In the order anchored, so a control kept below another one sees that one placed already.
    for (const Entry& entry : Entries)
        Place(entry);
}

bool DesignAnchors::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Parent && event->type() == QEvent::Resize)
        Apply();
    return QObject::eventFilter(watched, event);
}
