#include "UpdaterApplication.h"

#include "ApplicationPaths.h"
#include "ExceptionQt.h"
#include "MessageBoxes.h"

#include <QWidget>

UpdaterApplication::UpdaterApplication(int& argc, char** argv)
    : QApplication(argc, argv), title_(applicationTitle(applicationFilePath())) {}

bool UpdaterApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        showError(error);
        return true;
    }
}

void UpdaterApplication::showError(const std::exception& error) {
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    showMessageBox(activeWindow(), title_, withFullStop(mensagem(error)), QMessageBox::Critical,
                   {QMessageBox::Ok}, QMessageBox::Ok);
}

QString withFullStop(const QString& message) {
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}
