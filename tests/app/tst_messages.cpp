// What the user reads: the error display, the boxes' Ctrl+C copy, the
// application title and the language of the buttons.
#include "ApplicationPaths.h"
#include "BoxAnswerer.h"
#include "ExceptionQt.h"
#include "Translations.h"
#include "UpdaterTestMain.h"

#include <QClipboard>
#include <QLibraryInfo>

#include <stdexcept>

namespace {

const QString rule = QStringLiteral("---------------------------\r\n");

// Throws from its event handler, as a window handler of the updater may.
class Thrower : public QObject {
public:
    std::function<void()> action;
    int handled = 0;

protected:
    void customEvent(QEvent*) override {
        ++handled;
        action();
    }
};

} // namespace

class MessagesTest : public QObject {
    Q_OBJECT

private slots:
    void fullStop_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("exclamation") << "Falhou!"
                                     << "Falhou!";
        QTest::newRow("full stop") << "Falhou."
                                   << "Falhou.";
        QTest::newRow("parenthesis") << "Falhou (10054)"
                                     << "Falhou (10054)";
        QTest::newRow("space") << "Falhou "
                               << "Falhou ";
        QTest::newRow("line break") << "Falhou!\r\n\r\n"
                                    << "Falhou!\r\n\r\n";
        QTest::newRow("hyphen, just below") << "a-"
                                            << "a-";
        QTest::newRow("slash, just above") << "a/"
                                           << "a/.";
        QTest::newRow("letter") << "Host not found"
                                << "Host not found.";
        QTest::newRow("digit") << "Error 404"
                               << "Error 404.";
        QTest::newRow("accented letter") << "Não foi possível"
                                         << "Não foi possível.";
        QTest::newRow("surrogate pair")
            << QString::fromUtf8("fim 😀") << QString::fromUtf8("fim 😀.");
    }
    void fullStop() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(withFullStop(message), shown);
    }

    void title_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("the updater") << "/opt/vantra/AtualizadorVantra"
                                     << "Atualizadorvantra";
        QTest::newRow("cut at the first dot") << "/opt/vantra/Atualizador.novo.exe"
                                              << "Atualizador";
        QTest::newRow("dot in a directory") << "/opt/v.1/AtualizadorVantra"
                                            << "Atualizadorvantra";
        QTest::newRow("first keeps its case") << "/x/atualizadorVantra"
                                              << "atualizadorvantra";
        QTest::newRow("non-ASCII lowered") << "/x/ÉLAN.exe"
                                           << "Élan";
        QTest::newRow("no directory") << "AtualizadorVantra"
                                      << "Atualizadorvantra";
        QTest::newRow("nothing before the dot") << "/x/.hidden"
                                                << "";
#ifdef _WIN32
        QTest::newRow("backslashes") << "C:\\Prog\\AtualizadorVantra.exe"
                                     << "Atualizadorvantra";
#endif
    }
    void title() {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(applicationTitle(path), title);
    }

    void productDirectory() {
#ifdef _WIN32
        QCOMPARE(directoryOf("C:/Prog/AtualizadorVantra.exe"), QStringLiteral("C:\\Prog\\"));
        QCOMPARE(directoryOf("C:/AtualizadorVantra.exe"), QStringLiteral("C:\\"));
#else
        QCOMPARE(directoryOf("/opt/vantra/AtualizadorVantra"), QStringLiteral("/opt/vantra/"));
        QCOMPARE(directoryOf("/AtualizadorVantra"), QStringLiteral("/"));
#endif
    }

    void mnemonics_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("plain");
        QTest::newRow("marker") << "&Sim"
                                << "Sim";
        QTest::newRow("inside") << "N&ão"
                                << "Não";
        QTest::newRow("doubled") << "A && B"
                                 << "A & B";
        QTest::newRow("trailing") << "OK&"
                                  << "OK";
        QTest::newRow("none") << "OK"
                              << "OK";
    }
    void mnemonics() {
        QFETCH(QString, caption);
        QFETCH(QString, plain);
        QCOMPARE(withoutMnemonic(caption), plain);
    }

    void windowsLayout() {
        QCOMPARE(windowsCopyText("Atenção", "O Vantra está aberto.\r\n\r\nFeche-o!", {"OK"}),
                 rule + "Atenção\r\n" + rule + "O Vantra está aberto.\r\n\r\nFeche-o!\r\n" + rule +
                     "OK   \r\n" + rule);
        QCOMPARE(windowsCopyText("A", "B", {"Sim", "Não"}),
                 rule + "A\r\n" + rule + "B\r\n" + rule + "Sim   Não   \r\n" + rule);
    }

    // Debian ships Portuguese for Brazil only; Portugal gets it too.
    void translationFile_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("file");
        QTest::newRow("Brazil") << "pt_BR"
                                << "qtbase_pt_BR.qm";
        QTest::newRow("Portugal") << "pt_PT"
                                  << "qtbase_pt_BR.qm";
        QTest::newRow("Germany") << "de_DE"
                                 << "qtbase_de.qm";
        QTest::newRow("no catalogue") << "kl_GL"
                                      << "";
    }
    void translationFile() {
        QFETCH(QString, locale);
        QFETCH(QString, file);
        const QString found =
            qtTranslationFile(QLocale(locale), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
        QCOMPARE(QFileInfo(found).fileName(), file);
    }

    // Ctrl+C on a box, in Portuguese, as the user presses it.
    void copyOfABox() {
        QVERIFY(installQtTranslations(*qApp, QLocale(QStringLiteral("pt_PT"))));
        BoxAnswerer answerer({QMessageBox::No});
        QString copied;
        answerer.onOpen = [&](UpdaterMessageBox& box) {
            QWidget* target = box.focusWidget() ? box.focusWidget() : &box;
            QTest::keyClick(target, Qt::Key_C, Qt::ControlModifier);
            copied = QGuiApplication::clipboard()->text();
        };
        const auto answer = showMessageBox(
            nullptr, "Atualização", "Deseja realmente atualizar o executável?",
            QMessageBox::Question, {QMessageBox::Yes, QMessageBox::No}, QMessageBox::Yes);
        QCOMPARE(answer, QMessageBox::No);
        QCOMPARE(copied, rule + "Atualização\r\n" + rule +
                             "Deseja realmente atualizar o executável?\r\n" + rule +
                             "Sim   Não   \r\n" + rule);
    }

    // An error escaping an event handler: one box, and the program goes on.
    void errorDisplay_data() {
        QTest::addColumn<bool>("ours");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("wrapped error")
            << true << "Não foi possível atualizar o aplicativo!\r\n\r\nHost not found"
            << "Não foi possível atualizar o aplicativo!\r\n\r\nHost not found.";
        QTest::newRow("empty cause") << true << "Não foi possível atualizar o aplicativo!\r\n\r\n"
                                     << "Não foi possível atualizar o aplicativo!\r\n\r\n";
        QTest::newRow("library error") << false << "bad things"
                                       << "bad things.";
    }
    void errorDisplay() {
        QFETCH(bool, ours);
        QFETCH(QString, message);
        QFETCH(QString, shown);
        BoxAnswerer answerer;
        QString copied;
        answerer.onOpen = [&](UpdaterMessageBox& box) {
            QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
            copied = QGuiApplication::clipboard()->text();
        };
        Thrower thrower;
        thrower.action = [&] {
            if (ours)
                throw erro(message);
            throw std::runtime_error(message.toStdString());
        };
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QTRY_COMPARE(int(answerer.seen().size()), 1);
        const BoxAnswerer::Seen& s = answerer.seen()[0];
        const QString title = static_cast<UpdaterApplication*>(qApp)->title();
        QCOMPARE(title, applicationTitle(QCoreApplication::applicationFilePath()));
        QCOMPARE(s.caption, title);
        QCOMPARE(s.text, shown);
        QCOMPARE(int(s.icon), int(QMessageBox::Critical));
        QCOMPARE(s.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
        QCOMPARE(copied, rule + title + "\r\n" + rule + shown + "\r\n" + rule + "OK   \r\n" + rule);

        thrower.action = [] {};
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QTRY_COMPARE(thrower.handled, 2);
        QCOMPARE(int(answerer.seen().size()), 1);
    }
};

UPDATER_TEST_MAIN(MessagesTest)
#include "tst_messages.moc"
