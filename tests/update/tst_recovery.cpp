// The start-up recovery on real files: an update killed at each of its
// instants, a live updater's journal, a download cut short.

#include "Exception.h"
#include "ExceptionQt.h"
#include "InstallJournal.h"
#include "InstallRecovery.h"
#include "InstallTransaction.h"
#include "Platform.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <optional>

namespace {

using Tree = QMap<QString, QByteArray>; // a directory's content is "<dir>"

Tree tree(const QString& root) {
    Tree found;
    QDirIterator it(root, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QString path = it.next();
        QFile file(path);
        QByteArray content = "<dir>";
        if (!QFileInfo(path).isDir() && file.open(QIODevice::ReadOnly))
            content = file.readAll();
        found.insert(QDir(root).relativeFilePath(path), content);
    }
    return found;
}

void write(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

platform::Path p(const QString& path) {
    return platform::Path(path.toStdU16String());
}

const Tree oldTree = {{"AtualizadorVantra", "updater"},
                      {"Vantra_old.exe", "old exe"},
                      {"dados", "<dir>"},
                      {"dados/a.txt", "old a"}};
const Tree newTree = {{"AtualizadorVantra", "updater"}, {"Vantra_old.exe", "old exe"},
                      {"Vantra.exe", "new exe"},        {"dados", "<dir>"},
                      {"dados/a.txt", "new a"},         {"novo", "<dir>"},
                      {"novo/b.txt", "new b"}};

// One attempt's changes, in the order the updater makes them. The download
// moved Vantra.exe aside already; a previous update had left a Vantra.exe
// that reappeared, so that both replacing and adding are covered.
struct Attempt {
    QString dir;
    std::optional<InstallJournal> journal;
    std::vector<std::function<void()>> actions;
    std::size_t installedAt = 0; // actions from here on leave the new tree

    explicit Attempt(const QString& product) : dir(product) {
        auto tmp = [this](const QString& name, const QByteArray& content) {
            actions.push_back([this, name] { journal->temporary(p(dir + name)); });
            actions.push_back([this, name, content] { write(dir + name, content); });
        };
        actions.push_back([this] { journal.emplace(p(dir)); });
        tmp(".vz0-0.tmp", "new exe");
        tmp("dados/.vz1-0.tmp", "new a");
        actions.push_back([this] { journal->directory(p(dir + "novo")); });
        actions.push_back([this] { QDir().mkdir(dir + "novo"); });
        tmp("novo/.vz2-0.tmp", "new b");
        const std::vector<InstallJournal::Move> plan = {
            {p(dir + "Vantra.exe"), p(dir + ".vz0-0.tmp"), {}},
            {p(dir + "dados/a.txt"), p(dir + "dados/.vz1-0.tmp"), p(dir + "dados/.a.txt.vzold")},
            {p(dir + "novo/b.txt"), p(dir + "novo/.vz2-0.tmp"), {}}};
        actions.push_back([this, plan] { journal->beginMoves(plan); });
        for (const InstallJournal::Move& move : plan) {
            if (!move.backup.empty())
                actions.push_back([move] { platform::moveAside(move.target, move.backup); });
            actions.push_back([move] { platform::moveAside(move.staged, move.target); });
        }
        actions.push_back([this] { journal->installed(); });
        installedAt = actions.size();
        actions.push_back([this] { platform::discardFile(p(dir + "dados/.a.txt.vzold")); });
    }
};

QString productIn(const QTemporaryDir& root) {
    const QString product = root.filePath(QStringLiteral("produto")) + u'/';
    for (auto it = oldTree.begin(); it != oldTree.end(); ++it)
        if (it.value() != "<dir>")
            write(product + it.key(), it.value());
    return product;
}

void recover(const QString& product) {
    RecuperarAtualizacao(product, product + QStringLiteral("AtualizadorVantra"));
}

QString recoveryError(const QString& product) {
    try {
        recover(product);
    } catch (const Exception& e) {
        return mensagem(e);
    }
    return {};
}

const QString sentence =
    QStringLiteral("Não foi possível recuperar a atualização interrompida!\r\n\r\n");

} // namespace

class RecoveryTest : public QObject {
    Q_OBJECT

private slots:
    void killedAtEveryInstant_data() {
        QTest::addColumn<int>("done");
        QTemporaryDir root;
        Attempt attempt(productIn(root));
        for (std::size_t i = 1; i <= attempt.actions.size(); ++i)
            QTest::addRow("after %zu of %zu changes", i, attempt.actions.size()) << int(i);
    }
    // The journal object goes without removing its file, as a killed process's does.
    void killedAtEveryInstant() {
        QFETCH(int, done);
        QTemporaryDir root;
        const QString product = productIn(root);
        {
            Attempt attempt(product);
            for (int i = 0; i < done; ++i)
                attempt.actions[std::size_t(i)]();
            const bool installed = std::size_t(done) > attempt.installedAt - 1;
            attempt.journal.reset();

            QCOMPARE(recoveryError(product), QString());
            Tree expected = installed ? newTree : oldTree;
            // Nothing was moved yet: Vantra_old.exe is given back as after a download.
            if (!installed) {
                expected.remove("Vantra_old.exe");
                expected.insert("Vantra.exe", "old exe");
            }
            QCOMPARE(tree(product), expected);
        }
        recover(product); // a second start has nothing left to do
    }

    void liveUpdaterIsLeftAlone() {
        QTemporaryDir root;
        const QString product = productIn(root);
        InstallJournal live(p(product));
        live.temporary(p(product + ".vz0-0.tmp"));
        write(product + ".vz0-0.tmp", "staging");
        const Tree before = tree(product);
        QCOMPARE(recoveryError(product), QString());
        QCOMPARE(tree(product), before);
        live.remove();
    }

    void downloadInProgressIsLeftAlone() {
        QTemporaryDir root;
        const QString product = productIn(root);
        platform::File package = platform::File::createExclusive(p(product + "Vantra.zip"));
        const Tree before = tree(product);
        QCOMPARE(recoveryError(product), QString());
        QCOMPARE(tree(product), before); // Vantra.exe stays missing: the download is not over
    }

    void withoutAJournal_data() {
        QTest::addColumn<Tree>("before");
        QTest::addColumn<Tree>("after");
        QTest::newRow("killed during the download: the backup comes back")
            << Tree{{"Vantra_old.exe", "old"}, {"Vantra.zip", "partial"}}
            << Tree{{"Vantra.exe", "old"}, {"Vantra.zip", "partial"}};
        QTest::newRow("both there: nothing moves")
            << Tree{{"Vantra.exe", "new"}, {"Vantra_old.exe", "old"}}
            << Tree{{"Vantra.exe", "new"}, {"Vantra_old.exe", "old"}};
        QTest::newRow("the updater's own backup goes")
            << Tree{{"Vantra.exe", "new"}, {".AtualizadorVantra.vzold", "previous updater"}}
            << Tree{{"Vantra.exe", "new"}};
        QTest::newRow("another file's backup name is not ours")
            << Tree{{"Vantra.exe", "new"}, {".Outro.vzold", "kept"}}
            << Tree{{"Vantra.exe", "new"}, {".Outro.vzold", "kept"}};
    }
    void withoutAJournal() {
        QFETCH(Tree, before);
        QFETCH(Tree, after);
        QTemporaryDir root;
        const QString product = root.filePath(QStringLiteral("produto")) + u'/';
        QVERIFY(QDir().mkpath(product));
        for (auto it = before.begin(); it != before.end(); ++it)
            write(product + it.key(), it.value());
        QCOMPARE(recoveryError(product), QString());
        QCOMPARE(tree(product), after);
    }

    // What is left is named, the journal stays, and a later start finishes.
    void recoveryThatCannotFinish() {
        QTemporaryDir root;
        const QString product = productIn(root);
        {
            InstallJournal journal(p(product));
            journal.beginMoves({{p(product + "dados/a.txt"), p(product + "dados/.vz1-0.tmp"),
                                 p(product + "dados/.a.txt.vzold")}});
            platform::moveAside(p(product + "dados/a.txt"), p(product + "dados/.a.txt.vzold"));
        }
        write(product + "dados/a.txt/in-the-way", "x"); // not this attempt's: not deleted
        QCOMPARE(recoveryError(product),
                 sentence + u'"' + product + "dados/a.txt\" could not be deleted");
        QVERIFY(QFileInfo::exists(product + "AtualizadorVantra.journal"));
        QVERIFY(QFileInfo::exists(product + "dados/.a.txt.vzold"));

        QVERIFY(QDir(product + "dados/a.txt").removeRecursively());
        QCOMPARE(recoveryError(product), QString());
        QCOMPARE(tree(product).value("dados/a.txt"), QByteArray("old a"));
        QVERIFY(!QFileInfo::exists(product + "AtualizadorVantra.journal"));
    }

    // A damaged or planted journal cannot reach outside the Product directory.
    void journalNamesOutsideAreIgnored() {
        QTemporaryDir root;
        const QString product = productIn(root);
        write(root.filePath("fora.txt"), "outside");
        write(product + "AtualizadorVantra.journal",
              "tmp\t../fora.txt\ntmp\t" + QFile::encodeName(root.filePath("fora.txt")) +
                  "\nbegin\n");
        QCOMPARE(recoveryError(product), QString());
        QCOMPARE(tree(root.path()).value("fora.txt"), QByteArray("outside"));
        QVERIFY(!QFileInfo::exists(product + "AtualizadorVantra.journal"));
    }
};

QTEST_GUILESS_MAIN(RecoveryTest)
#include "tst_recovery.moc"
