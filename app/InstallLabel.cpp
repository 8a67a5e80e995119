#include "InstallLabel.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>

InstallLabel::InstallLabel(QWidget* parent) : QWidget(parent) {
    // The parent's background shows between the lines.
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
}

void InstallLabel::clear() {
    lines_.clear();
    update();
}

QRect InstallLabel::lineRect(int index) const {
    const QFontMetrics metrics(font());
    const int height = metrics.ascent() + metrics.descent();
    return QRect(TextOffset, LineSpacing + index * (height + LineSpacing),
                 metrics.horizontalAdvance(lines_.value(index)), height);
}

void InstallLabel::AdicionarLinha(const QString& linha) {
    lines_.append(linha);
    update();
}

void InstallLabel::ProcessarMensagens() {
    QCoreApplication::processEvents();
}

void InstallLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const int ascent = QFontMetrics(font()).ascent();
    // Drawing at a point: one line, no mnemonic, nothing behind the text.
    for (int i = 0; i < lines_.size(); ++i)
        painter.drawText(QPoint(TextOffset, lineRect(i).top() + ascent), lines_[i]);
}
