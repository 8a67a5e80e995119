#pragma once

#include "MessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

// Answers the updater's modal message boxes as they open, from a timer, and
// keeps what each one showed.
class BoxAnswerer : public QObject {
public:
    struct Seen {
        QString caption;
        QString text; // as given, line breaks included
        QMessageBox::Icon icon;
        QList<QMessageBox::StandardButton> buttons;
        QMessageBox::StandardButton defaultButton;
        QString copied; // what Ctrl+C would put on the clipboard
    };

    explicit BoxAnswerer(std::deque<QMessageBox::StandardButton> answers = {})
        : answers_(std::move(answers)) {
        connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::poll);
        timer_.start(10);
    }

    void answer(QMessageBox::StandardButton a) { answers_.push_back(a); }
    const std::vector<Seen>& seen() const { return seen_; }
    // Called while a box is open, before it is answered.
    std::function<void(MessageBox&)> onOpen;

private:
    void poll() {
        auto* box = qobject_cast<MessageBox*>(QApplication::activeModalWidget());
        if (!box || box == last_ || !box->isVisible())
            return;
        last_ = box;
        Seen s{box->windowTitle(),    box->rawText(), box->icon(), {},
               QMessageBox::NoButton, box->copyText()};
        for (QAbstractButton* b : box->buttons())
            s.buttons << box->standardButton(b);
        if (box->defaultButton())
            s.defaultButton = box->standardButton(box->defaultButton());
        seen_.push_back(s);
        if (onOpen)
            onOpen(*box);
        QMessageBox::StandardButton a = QMessageBox::Ok;
        if (!answers_.empty()) {
            a = answers_.front();
            answers_.pop_front();
        }
        if (QAbstractButton* b = box->button(a))
            b->click();
        else
            box->reject();
    }

    QTimer timer_;
    QPointer<MessageBox> last_;
    std::deque<QMessageBox::StandardButton> answers_;
    std::vector<Seen> seen_;
};
