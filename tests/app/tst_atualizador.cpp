// The update sequence with the real download and extraction, against a server
// that cannot be resolved: what the user sees in the Step list and the error,
// and what is left of the product on disk.
#include "Exception.h"
#include "HttpClient.h"
#include "UAtualizador.h"

#include <QtTest>

namespace {

// A Step list that remembers how many lines were there each time it was told
// to repaint.
struct RecordingSteps : IEtapaAtualizador {
    QStringList lines;
    QList<int> repaintedAt;
    void AdicionarLinha(const QString& linha) override { lines << linha; }
    void ProcessarMensagens() override { repaintedAt << int(lines.size()); }
};

void write(const QString& path, const QByteArray& content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

const QString failed = QStringLiteral("Não foi possível atualizar o aplicativo!\r\n\r\n");
const QString downloadFailed =
    QStringLiteral("Não foi possível realizar o download do aplicativo!\r\n\r\n");

} // namespace

class AtualizadorTest : public QObject {
    Q_OBJECT

private slots:
    // The rule that puts the product back: only into an empty place.
    void restore_data() {
        QTest::addColumn<bool>("exe");
        QTest::addColumn<bool>("old");
        QTest::addColumn<bool>("restored");
        QTest::addColumn<QByteArray>("exeAfter");
        QTest::addColumn<QByteArray>("oldAfter");
        QTest::newRow("backup only")
            << false << true << true << QByteArray("old") << QByteArray("<missing>");
        QTest::newRow("a new executable came")
            << true << true << false << QByteArray("new") << QByteArray("old");
        QTest::newRow("executable only")
            << true << false << false << QByteArray("new") << QByteArray("<missing>");
        QTest::newRow("neither") << false << false << false << QByteArray("<missing>")
                                 << QByteArray("<missing>");
    }
    void restore() {
        QFETCH(bool, exe);
        QFETCH(bool, old);
        QFETCH(bool, restored);
        QFETCH(QByteArray, exeAfter);
        QFETCH(QByteArray, oldAfter);
        QTemporaryDir dir;
        const QString d = dir.path() + u'/';
        if (exe)
            write(d + "Vantra.exe", "new");
        if (old)
            write(d + "Vantra_old.exe", "old");
        QCOMPARE(RestaurarExecutavel(d), restored);
        QCOMPARE(read(d + "Vantra.exe"), exeAfter);
        QCOMPARE(read(d + "Vantra_old.exe"), oldAfter);
    }

    // A failed attempt leaves the product startable, and says why.
    void failedDownload_data() {
        QTest::addColumn<bool>("exe");
        QTest::addColumn<bool>("old");
        QTest::addColumn<bool>("zipIsDirectory");
        QTest::addColumn<QString>("messageStart");
        QTest::addColumn<QByteArray>("exeAfter");
        QTest::addColumn<QByteArray>("oldAfter");
        QTest::newRow("backup moved back") << true << false << false << failed + downloadFailed
                                           << QByteArray("product") << QByteArray("<missing>");
        QTest::newRow("earlier backup kept") << true << true << false << failed + downloadFailed
                                             << QByteArray("product") << QByteArray("earlier");
        QTest::newRow("no product: nothing invented")
            << false << true << false << failed + downloadFailed << QByteArray("<missing>")
            << QByteArray("earlier");
        QTest::newRow("package file cannot be made")
            << true << false << true << failed + "Cannot create file" << QByteArray("product")
            << QByteArray("<missing>");
    }
    void failedDownload() {
        QFETCH(bool, exe);
        QFETCH(bool, old);
        QFETCH(bool, zipIsDirectory);
        QFETCH(QString, messageStart);
        QFETCH(QByteArray, exeAfter);
        QFETCH(QByteArray, oldAfter);
        QTemporaryDir dir;
        const QString d = dir.path() + u'/';
        if (exe)
            write(d + "Vantra.exe", "product");
        if (old)
            write(d + "Vantra_old.exe", "earlier");
        if (zipIsDirectory)
            QVERIFY(QDir(d).mkdir("Vantra.zip"));
        RecordingSteps steps;
        HttpClient client;
        TAtualizador atualizador(steps, client, d);
        QString message;
        try {
            atualizador.Atualizar();
            QFAIL("the update succeeded against an unresolvable server");
        } catch (const Exception& e) {
            message = QString::fromStdU16String(e.message());
        }
        QVERIFY2(message.startsWith(messageStart), qPrintable(message));
        QCOMPARE(steps.lines, QStringList{QStringLiteral("1 - Download do executável.")});
        QCOMPARE(steps.repaintedAt, QList<int>{1});
        QCOMPARE(read(d + "Vantra.exe"), exeAfter);
        QCOMPARE(read(d + "Vantra_old.exe"), oldAfter);
    }
};

QTEST_GUILESS_MAIN(AtualizadorTest)
#include "tst_atualizador.moc"
