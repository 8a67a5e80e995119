#include "Anchors.h"

#include <QEvent>
#include <QWidget>

namespace {

// One direction: the child's start and length for the parent's new length.
std::pair<int, int> follow(int start, int length, int designedParent, int parent, bool near,
                           bool far) {
    const int farDistance = designedParent - (start + length);
    if (near && far)
        return {start, parent - start - farDistance};
    if (far)
        return {parent - farDistance - length, length};
    return {start, length};
}

} // namespace

Anchors::Anchors(QWidget* parent) : QObject(parent), designedParent_(parent->size()) {
    parent->installEventFilter(this);
}

void Anchors::set(QWidget* child, Qt::Edges edges) {
    QWidget* parent = child->parentWidget();
    auto* anchors = parent->findChild<Anchors*>(QString(), Qt::FindDirectChildrenOnly);
    if (!anchors)
        anchors = new Anchors(parent);
    anchors->children_.push_back({child, edges, child->geometry()});
}

bool Anchors::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        const QSize now = static_cast<QWidget*>(watched)->size();
        for (const Anchored& a : children_) {
            auto [x, w] = follow(a.designed.x(), a.designed.width(), designedParent_.width(),
                                 now.width(), a.edges & Qt::LeftEdge, a.edges & Qt::RightEdge);
            auto [y, h] = follow(a.designed.y(), a.designed.height(), designedParent_.height(),
                                 now.height(), a.edges & Qt::TopEdge, a.edges & Qt::BottomEdge);
            a.child->setGeometry(x, y, w, h);
        }
    }
    return QObject::eventFilter(watched, event);
}
