// The update procedure as the user lives it: the questions, stopping the
// product, the steps with the window busy, the launch and the end, against a
// scripted process table and recorded pauses.
#include "BoxAnswerer.h"
#include "ExceptionQt.h"
#include "InstallLabel.h"
#include "ProgressBar.h"
#include "ScriptedProcessTable.h"
#include "UFormAtualizador.h"
#include "UpdaterTestMain.h"

#include <QPushButton>

#include <memory>

using B = QMessageBox::StandardButton;
Q_DECLARE_METATYPE(std::vector<bool>)

namespace {

const QString confirmStop = QStringLiteral("O Vantra será finalizado após o download do "
                                           "atualizador.\r\n\r\nDeseja realmente atualizar o "
                                           "executável?");
const QString confirm = QStringLiteral("Deseja realmente atualizar o executável?");
const QString stillOpen =
    QStringLiteral("O Vantra está aberto.\r\n\r\nFeche-o e tente atualizar novamente!");
const QStringList threeLines{QStringLiteral("1 - Download do executável."),
                             QStringLiteral("2 - Descompactando o executável."),
                             QStringLiteral("3 - Executável atualizado com sucesso.")};

// One window with everything it does outside itself written to `log`.
struct Procedure {
    QStringList log;
    ScriptedProcessTable table;
    BoxAnswerer answerer;
    // What the steps do; by default they write the three lines.
    std::function<void(TfrmPrincipal&)> steps = [](TfrmPrincipal& f) {
        for (const QString& l : threeLines)
            f.lblEtapa->AdicionarLinha(l);
    };
    std::function<void()> quit;
    std::unique_ptr<TfrmPrincipal> form;

    Procedure(std::vector<bool> script, std::deque<B> answers)
        : table(std::move(script), log), answerer(std::move(answers)) {
        answerer.onOpen = [this](UpdaterMessageBox& box) {
            log << QStringLiteral("box ") + box.windowTitle();
        };
        UpdateSystem s;
        s.processes = &table;
        s.pause = [this](unsigned ms) { log << QStringLiteral("pause %1").arg(ms); };
        s.runSteps = [this](TAtualizador&) {
            log << QStringLiteral("steps");
            steps(*form);
        };
        s.launch = [this](const QString& file, void*) {
            log << QStringLiteral("launch %1 after %2 lines")
                       .arg(file)
                       .arg(form->lblEtapa->lines().size());
        };
        s.quit = [this] {
            log << QStringLiteral("quit");
            if (quit)
                quit();
        };
        form = std::make_unique<TfrmPrincipal>(s);
    }

    // Shows the window; its first activation starts the procedure.
    bool start() {
        form->show();
        return QTest::qWaitForWindowActive(form.get());
    }
};

QString launchLine() {
    return QStringLiteral("launch %1/Vantra.exe after 3 lines")
        .arg(QCoreApplication::applicationDirPath());
}

} // namespace

class ProcedureTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // The product is started from the Product directory, not from here.
        static QTemporaryDir elsewhere;
        QVERIFY(QDir::setCurrent(elsewhere.path()));
    }

    void flows_data() {
        QTest::addColumn<std::vector<bool>>("running");
        QTest::addColumn<QList<B>>("answers");
        QTest::addColumn<QStringList>("expected");
        // Every walk of the table is a look, the one that terminates included.
        const QString look = QStringLiteral("look: running"), gone = QStringLiteral("look: gone");
        const QString kill = QStringLiteral("terminate %1").arg(ScriptedProcessTable::ProductId);
        const QStringList done{"steps", "pause 3000", launchLine(), "quit"};
        QTest::newRow("not running, No")
            << std::vector<bool>{false} << QList<B>{B::No} << QStringList{gone, "box Atualização"};
        QTest::newRow("running, No")
            << std::vector<bool>{true} << QList<B>{B::No} << QStringList{look, "box Atualização"};
        QTest::newRow("not running, Yes") << std::vector<bool>{false} << QList<B>{B::Yes}
                                          << QStringList{gone, "box Atualização", gone} + done;
        QTest::newRow("gone at the first look")
            << std::vector<bool>{true, true, false} << QList<B>{B::Yes}
            << QStringList{look, "box Atualização", look, kill, gone, gone} + done;
        QTest::newRow("gone after one wait")
            << std::vector<bool>{true, true, true, false} << QList<B>{B::Yes}
            << QStringList{look, "box Atualização", look, kill, look, "pause 1000", gone, gone} +
                   done;
        QTest::newRow("never ends")
            << std::vector<bool>{true} << QList<B>{B::Yes, B::Ok}
            << QStringList{look, "box Atualização", look, kill,         look, "pause 1000",
                           look, "pause 1000",      look, "pause 1000", look, "box Atenção"};
        QTest::newRow("started while the question was open")
            << std::vector<bool>{false, true} << QList<B>{B::Yes, B::Ok}
            << QStringList{gone, "box Atualização", look, "box Atenção"};
    }
    void flows() {
        QFETCH(std::vector<bool>, running);
        QFETCH(QList<B>, answers);
        QFETCH(QStringList, expected);
        Procedure p(running, {answers.begin(), answers.end()});
        QVERIFY(p.start());
        QTRY_COMPARE(p.log, expected);
        QTest::qWait(50);
        QCOMPARE(p.log, expected); // and nothing after
        QVERIFY(p.form->isEnabled());
    }

    void boxes_data() {
        QTest::addColumn<std::vector<bool>>("running");
        QTest::addColumn<QList<B>>("answers");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QList<B>>("buttons");
        QTest::addColumn<int>("defaultButton");
        QTest::newRow("confirm and stop")
            << std::vector<bool>{true} << QList<B>{B::No} << 0 << "Atualização" << confirmStop
            << int(QMessageBox::Question) << QList<B>{B::Yes, B::No} << int(B::Yes);
        QTest::newRow("confirm") << std::vector<bool>{false} << QList<B>{B::No} << 0
                                 << "Atualização" << confirm << int(QMessageBox::Question)
                                 << QList<B>{B::Yes, B::No} << int(B::Yes);
        QTest::newRow("still open")
            << std::vector<bool>{false, true} << QList<B>{B::Yes, B::Ok} << 1 << "Atenção"
            << stillOpen << int(QMessageBox::Warning) << QList<B>{B::Ok} << int(B::Ok);
    }
    void boxes() {
        QFETCH(std::vector<bool>, running);
        QFETCH(QList<B>, answers);
        QFETCH(int, index);
        QFETCH(QString, caption);
        QFETCH(QString, text);
        QFETCH(int, icon);
        QFETCH(QList<B>, buttons);
        QFETCH(int, defaultButton);
        Procedure p(running, {answers.begin(), answers.end()});
        QVERIFY(p.start());
        QTRY_COMPARE(int(p.answerer.seen().size()), index + 1);
        const BoxAnswerer::Seen& s = p.answerer.seen()[index];
        QCOMPARE(s.caption, caption);
        QCOMPARE(s.text, text);
        QCOMPARE(int(s.icon), icon);
        QList<B> shown = s.buttons;
        std::sort(shown.begin(), shown.end());
        std::sort(buttons.begin(), buttons.end());
        QCOMPARE(shown, buttons);
        QCOMPARE(int(s.defaultButton), defaultButton);
    }

    // The error is shown, the window stays usable, and the button asks again;
    // the new attempt starts from an empty Step list.
    void failureThenRetry() {
        Procedure p({false}, {B::Yes, B::Ok, B::Yes});
        p.steps = [](TfrmPrincipal& f) {
            f.lblEtapa->AdicionarLinha(threeLines[0]);
            f.IdHTTP1.OnWorkBegin(TWorkMode::wmRead, 1000);
            f.IdHTTP1.OnWork(TWorkMode::wmRead, 400);
            throw erro(
                QStringLiteral("Não foi possível atualizar o aplicativo!\r\n\r\nfalha de teste"));
        };
        QVERIFY(p.start());
        const QString title = static_cast<UpdaterApplication*>(qApp)->title();
        QTRY_COMPARE(p.log.value(4), QStringLiteral("box ") + title);
        QTRY_VERIFY(p.form->isEnabled());
        QCOMPARE(p.answerer.seen()[1].text,
                 QStringLiteral("Não foi possível atualizar o aplicativo!\r\n\r\nfalha de teste."));
        QCOMPARE(int(p.answerer.seen()[1].icon), int(QMessageBox::Critical));
        QCOMPARE(p.answerer.seen()[1].buttons, QList<B>{B::Ok});
        QCOMPARE(p.form->lblEtapa->lines(), QStringList{threeLines[0]});
        QCOMPARE(p.form->pbProgresso->value(), 400);
        QVERIFY(!p.log.contains(QStringLiteral("pause 3000")));

        QStringList atStart;
        p.steps = [&](TfrmPrincipal& f) {
            atStart = f.lblEtapa->lines();
            for (const QString& l : threeLines)
                f.lblEtapa->AdicionarLinha(l);
        };
        p.log.clear();
        QTest::mouseClick(p.form->btnAtualizar, Qt::LeftButton);
        QTRY_COMPARE(p.log.value(p.log.size() - 1), QStringLiteral("quit"));
        QCOMPARE(atStart, QStringList());
        QVERIFY(p.log.contains(launchLine()));
    }

    void declineLeavesTheWindowAsItWas() {
        Procedure p({false}, {B::No, B::No});
        QVERIFY(p.start());
        QTRY_COMPARE(p.log.size(), 2);
        p.form->lblEtapa->AdicionarLinha(threeLines[0]);
        p.form->IdHTTP1.OnWorkBegin(TWorkMode::wmRead, 1000);
        p.form->IdHTTP1.OnWork(TWorkMode::wmRead, 300);
        QTest::mouseClick(p.form->btnAtualizar, Qt::LeftButton);
        QTRY_COMPARE(p.log.size(), 4);
        QCOMPARE(p.form->lblEtapa->lines(), QStringList{threeLines[0]});
        QCOMPARE(p.form->pbProgresso->maximum(), 1000);
        QCOMPARE(p.form->pbProgresso->value(), 300);
    }

    // Coming back to the window does not start the procedure again.
    void onlyTheFirstActivationStarts() {
        Procedure p({false}, {B::No});
        QVERIFY(p.start());
        QTRY_COMPARE(p.log.size(), 2);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        p.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
        QTest::qWait(50);
        QCOMPARE(p.log.size(), 2);
    }

    // While the steps run the window takes no input and refuses to close.
    void busyWindow() {
        Procedure p({false}, {B::Yes});
        bool enabled = true, closed = true;
        p.steps = [&](TfrmPrincipal& f) {
            enabled = f.isEnabled();
            QTest::mouseClick(f.btnAtualizar, Qt::LeftButton);
            closed = f.close();
            f.lblEtapa->AdicionarLinha(threeLines[0]);
            f.lblEtapa->ProcessarMensagens();
        };
        QVERIFY(p.start());
        QTRY_COMPARE(p.log.value(p.log.size() - 1), QStringLiteral("quit"));
        QVERIFY(!enabled);
        QVERIFY(!closed);
        QCOMPARE(p.log.count(QStringLiteral("steps")), 1);
        QCOMPARE(p.log.count(QStringLiteral("box Atualização")), 1);
    }

    // The success path's end request ends the event loop with code 0.
    void successEndsTheProgram() {
        Procedure p({false}, {B::No, B::Yes});
        p.quit = [] { QCoreApplication::quit(); };
        QVERIFY(p.start());
        QTRY_COMPARE(p.log.size(), 2);
        QTimer::singleShot(0, [&] { QTest::mouseClick(p.form->btnAtualizar, Qt::LeftButton); });
        QTimer::singleShot(5000, [] { QCoreApplication::exit(3); });
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(p.log.value(p.log.size() - 1), QStringLiteral("quit"));
    }

    void closingTheIdleWindowEndsWithZero() {
        Procedure p({false}, {B::No});
        QVERIFY(p.start());
        QTRY_COMPARE(p.log.size(), 2);
        QTimer::singleShot(0, [&] { p.form->close(); });
        QTimer::singleShot(5000, [] { QCoreApplication::exit(3); });
        QCOMPARE(QApplication::exec(), 0);
    }
};

UPDATER_TEST_MAIN(ProcedureTest)
#include "tst_procedure.moc"
