#include "ProcessControl.h"

#include <QTest>

#include <vector>

using namespace platform;

namespace {

// A snapshot given by the test, recording the terminations asked for.
class ListedTable : public ProcessTable {
public:
    explicit ListedTable(std::vector<ProcessEntry> entries) : entries_(std::move(entries)) {}
    void forEachProcess(const std::function<void(const ProcessEntry&)>& visit) override {
        ++snapshots;
        for (const auto& entry : entries_)
            visit(entry);
    }
    void terminate(std::uint32_t processId) override { terminated.push_back(processId); }

    int snapshots = 0;
    std::vector<std::uint32_t> terminated;

private:
    std::vector<ProcessEntry> entries_;
};

} // namespace

class MatchRuleTest : public QObject {
    Q_OBJECT
private slots:
    void matchRule_data() {
        QTest::addColumn<QString>("exeFile");
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<bool>("matches");
        QTest::newRow("exact") << "Vantra.exe"
                               << "Vantra.exe" << true;
        QTest::newRow("capitals") << "VANTRA.EXE"
                                  << "Vantra.exe" << true;
        QTest::newRow("lower case") << "vantra.exe"
                                    << "Vantra.exe" << true;
        QTest::newRow("asked in capitals") << "Vantra.exe"
                                           << "VANTRA.EXE" << true;
        QTest::newRow("backup") << "Vantra_old.exe"
                                << "Vantra.exe" << false;
        QTest::newRow("no extension") << "Vantra"
                                      << "Vantra.exe" << false;
        QTest::newRow("further extension") << "Vantra.exe.bak"
                                           << "Vantra.exe" << false;
        QTest::newRow("prefix") << "xVantra.exe"
                                << "Vantra.exe" << false;
        QTest::newRow("empty") << ""
                               << "Vantra.exe" << false;
        QTest::newRow("backslash path") << "C:\\Program Files\\Vantra\\Vantra.exe"
                                        << "Vantra.exe" << true;
        QTest::newRow("path in capitals") << "C:\\APP\\VANTRA.EXE"
                                          << "Vantra.exe" << true;
        QTest::newRow("drive only") << "C:Vantra.exe"
                                    << "Vantra.exe" << true;
        QTest::newRow("forward slash") << "C:/Program Files/Vantra.exe"
                                       << "Vantra.exe" << false;
        QTest::newRow("unix path") << "/opt/vantra/Vantra.exe"
                                   << "Vantra.exe" << false;
        QTest::newRow("trailing backslash") << "C:\\Vantra.exe\\"
                                            << "Vantra.exe" << false;
        QTest::newRow("path asked, same path") << "C:\\App\\Vantra.exe"
                                               << "c:\\app\\VANTRA.exe" << true;
        QTest::newRow("path asked, other path") << "D:\\App\\Vantra.exe"
                                                << "C:\\App\\Vantra.exe" << false;
        QTest::newRow("path asked, bare entry") << "Vantra.exe"
                                                << "C:\\App\\Vantra.exe" << false;
        QTest::newRow("non-ASCII case")
            << QString::fromUtf8("Vantrá.exe") << QString::fromUtf8("VantrÁ.exe") << false;
        QTest::newRow("non-ASCII same")
            << QString::fromUtf8("VANTRÁ.EXE") << QString::fromUtf8("vantrÁ.exe") << true;
        QTest::newRow("dotless i is not i")
            << QString::fromUtf8("Vantra.exı") << "Vantra.exe" << false;
    }
    void matchRule() {
        QFETCH(QString, exeFile);
        QFETCH(QString, wanted);
        QFETCH(bool, matches);
        QCOMPARE(executableNameMatches(exeFile.toStdU16String(), wanted.toStdU16String()), matches);
    }

    void everyMatchTerminatedInSnapshotOrderFromOneSnapshot() {
        ListedTable table({{7, u"VANTRA.EXE"},
                           {3, u"Vantra_old.exe"},
                           {9, u"C:\\x\\vantra.exe"},
                           {1, u"explorer.exe"},
                           {5, u"Vantra.exe"}});
        terminateProcesses(table, u"Vantra.exe");
        QCOMPARE(table.snapshots, 1);
        QCOMPARE(table.terminated, (std::vector<std::uint32_t>{7, 9, 5}));
        QVERIFY(processRunning(table, u"Vantra.exe"));
        QCOMPARE(table.snapshots, 2);
    }

    void noMatchAndEmptySnapshot() {
        ListedTable others({{3, u"Vantra_old.exe"}, {4, u"Vantra"}});
        QVERIFY(!processRunning(others, u"Vantra.exe"));
        terminateProcesses(others, u"Vantra.exe");
        QVERIFY(others.terminated.empty());

        ListedTable empty({});
        QVERIFY(!processRunning(empty, u"Vantra.exe"));
        terminateProcesses(empty, u"Vantra.exe");
        QVERIFY(empty.terminated.empty());
    }
};

QTEST_GUILESS_MAIN(MatchRuleTest)
#include "MatchRuleTest.moc"
