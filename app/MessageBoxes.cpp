#include "MessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>

UpdaterMessageBox::UpdaterMessageBox(QWidget* owner, const QString& caption, const QString& text,
                                     Icon icon, const QList<StandardButton>& buttons,
                                     StandardButton defaultButton)
    : QMessageBox(owner), rawText_(text), order_(buttons) {
    setWindowTitle(caption);
    setIcon(icon);
    // Messages come from libraries and servers too: never read them as markup.
    setTextFormat(Qt::PlainText);
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setText(shown);
    for (StandardButton b : buttons)
        addButton(b);
    if (defaultButton != NoButton)
        setDefaultButton(defaultButton);
}

QString UpdaterMessageBox::copyText() const {
    QStringList captions;
    // In the order the box was asked for (Yes before No), as Windows lists them.
    for (StandardButton b : order_)
        captions << withoutMnemonic(button(b)->text());
    return windowsCopyText(windowTitle(), rawText_, captions);
}

void UpdaterMessageBox::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        // Not passed on: QMessageBox's own copy on Windows would replace ours,
        // with the captions' "&" markers in it.
        QGuiApplication::clipboard()->setText(copyText());
        event->accept();
        return;
    }
    QMessageBox::keyPressEvent(event);
}

QMessageBox::StandardButton showMessageBox(QWidget* owner, const QString& caption,
                                           const QString& text, QMessageBox::Icon icon,
                                           const QList<QMessageBox::StandardButton>& buttons,
                                           QMessageBox::StandardButton defaultButton) {
    if (QWidget* active = QApplication::activeWindow())
        owner = active;
    UpdaterMessageBox box(owner, caption, text, icon, buttons, defaultButton);
    box.exec();
    return box.standardButton(box.clickedButton());
}

QString windowsCopyText(const QString& caption, const QString& text, const QStringList& buttons) {
    const QString rule = QStringLiteral("---------------------------\r\n");
    QString copy =
        rule + caption + QStringLiteral("\r\n") + rule + text + QStringLiteral("\r\n") + rule;
    for (const QString& b : buttons)
        copy += b + QStringLiteral("   ");
    copy += QStringLiteral("\r\n") + rule;
    return copy;
}

QString withoutMnemonic(const QString& caption) {
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        // A marker stands before the character it underlines; "&&" is one "&".
        if (caption[i] == u'&' && ++i == caption.size())
            break;
        plain += caption[i];
    }
    return plain;
}
