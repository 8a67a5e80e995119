#pragma once

#include <QObject>
#include <QRect>
#include <QSize>

#include <vector>

class QWidget;

// Keeps a child's distances to the chosen edges of its parent when the parent
// is resized: both edges of a direction stretch the child, one edge moves it.
class Anchors : public QObject {
    Q_OBJECT
public:
    // Anchors `child` to `edges` of its parent as the two stand now.
    static void set(QWidget* child, Qt::Edges edges);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit Anchors(QWidget* parent);

    struct Anchored {
        QWidget* child;
        Qt::Edges edges;
        QRect designed;
    };
    QSize designedParent_;
    std::vector<Anchored> children_;
};
