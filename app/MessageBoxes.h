#pragma once

#include <QMessageBox>
#include <QStringList>

// Every message box of the updater: a modal Qt box whose Ctrl+C copies it the
// way Windows' own boxes do, which users paste into their support requests.
class MessageBox : public QMessageBox {
    Q_OBJECT
public:
    MessageBox(QWidget* owner, const QString& caption, const QString& text, Icon icon,
               const QList<StandardButton>& buttons, StandardButton defaultButton);

    // The text as given, line breaks included.
    const QString& rawText() const { return rawText_; }
    // What Ctrl+C puts on the clipboard.
    QString copyText() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString rawText_;
    QList<StandardButton> order_;
};

// Shows a box and waits for the answer. The owner is the active window when
// there is one.
QMessageBox::StandardButton showMessageBox(QWidget* owner, const QString& caption,
                                           const QString& text, QMessageBox::Icon icon,
                                           const QList<QMessageBox::StandardButton>& buttons,
                                           QMessageBox::StandardButton defaultButton);

// The Windows clipboard layout of a message box: dashed lines around the
// caption and the text, then each button caption followed by three spaces.
QString windowsCopyText(const QString& caption, const QString& text, const QStringList& buttons);

// A caption without its mnemonic markers: "&Sim" -> "Sim", "&&" -> "&".
QString withoutMnemonic(const QString& caption);
