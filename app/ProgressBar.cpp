#include "ProgressBar.h"

#include <QStyleOptionProgressBar>

#include <algorithm>

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    setFocusPolicy(Qt::NoFocus);
    setValue(0);
}

void ProgressBar::setPosition(int position) {
    setValue(std::clamp(position, minimum(), maximum()));
}

void ProgressBar::setMaximumHeld(int maximum) {
    // Qt resets a position that falls outside the new range; hold it instead.
    const int position = std::max(value(), 0);
    setRange(0, std::max(maximum, 0));
    setPosition(position);
}

void ProgressBar::initStyleOption(QStyleOptionProgressBar* option) const {
    QProgressBar::initStyleOption(option);
    if (option->minimum == option->maximum) {
        option->maximum = option->minimum + 1;
        option->progress = option->minimum;
    }
}
