#pragma once

#include <QApplication>

#include <exception>

// The application object. An error that escapes the handling of any event is
// shown here, in one box, and the program goes on.
class UpdaterApplication : public QApplication {
    Q_OBJECT
public:
    UpdaterApplication(int& argc, char** argv);

    // Derived once from the executable's name; the caption of the error box.
    const QString& title() const { return title_; }

    bool notify(QObject* receiver, QEvent* event) override;

    // Caption the title, stop icon, OK; the text with a full stop appended
    // when it ends in a character after ".".
    void showError(const std::exception& error);

private:
    QString title_;
};

// The message with a full stop appended when its last UTF-16 code unit comes
// after the full stop ("!", ".", ")", a space or a line break keep it as it is).
QString withFullStop(const QString& message);
