// The /proc walk and SIGKILL with real processes: copies of /bin/sleep under
// the names the updater looks at.
#include "ProcessControl.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

namespace {

// The system's table seen through the processes this test started, so that
// other programs named Vantra.exe on the machine are neither seen nor killed.
class OwnProcesses : public ProcessTable {
public:
    void forEachProcess(const std::function<void(const ProcessEntry&)>& visit) override {
        systemProcessTable().forEachProcess([&](const ProcessEntry& entry) {
            if (pids.count(entry.processId))
                visit(entry);
        });
    }
    void terminate(std::uint32_t processId) override {
        if (pids.count(processId))
            systemProcessTable().terminate(processId);
    }
    std::set<std::uint32_t> pids;
};

pid_t startAs(const std::string& executable, uid_t uid = 0) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (uid != 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        const char* name = std::strrchr(executable.c_str(), '/') + 1;
        ::execl(executable.c_str(), name, "60", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// How the process ended: the signal that ended it, or -1 when still running.
int endingSignal(pid_t pid, int waitMs = 5000) {
    for (int waited = 0; waited <= waitMs; waited += 20) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        ::usleep(20000);
    }
    return -1;
}

bool eventually(const std::function<bool()>& condition) {
    for (int waited = 0; waited < 5000; waited += 20) {
        if (condition())
            return true;
        ::usleep(20000);
    }
    return condition();
}

} // namespace

class ProcessControlTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    OwnProcesses table_;
    std::set<pid_t> started_;

    std::string product(const char* name) {
        std::string path = dir_.filePath(name).toStdString();
        if (!std::filesystem::exists(path))
            std::filesystem::copy_file("/bin/sleep", path);
        return path;
    }
    pid_t start(const char* name, uid_t uid = 0) {
        pid_t pid = startAs(product(name), uid);
        table_.pids.insert(static_cast<std::uint32_t>(pid));
        started_.insert(pid);
        // Until exec has happened the child still bears the test's name.
        bool named = eventually([&] {
            bool found = false;
            OwnProcesses one;
            one.pids = {static_cast<std::uint32_t>(pid)};
            one.forEachProcess(
                [&](const ProcessEntry& e) { found = e.exeFile == Path(name).u16string(); });
            return found;
        });
        if (!named)
            qWarning("process %s did not start", name);
        return pid;
    }

private slots:
    void init() {
        QVERIFY(dir_.isValid());
        // Readable by the other accounts of the test below.
        std::filesystem::permissions(dir_.path().toStdString(), std::filesystem::perms(0755));
    }
    void cleanup() {
        for (pid_t pid : started_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        started_.clear();
        table_.pids.clear();
    }

    void productFoundInAnyCaseAndKilled() {
        pid_t pid = start("Vantra.exe");
        for (const char16_t* asked : {u"Vantra.exe", u"VANTRA.EXE", u"vantra.exe"})
            QVERIFY(processRunning(table_, asked));
        terminateProcesses(table_, u"Vantra.exe");
        QCOMPARE(endingSignal(pid), SIGKILL);
        started_.erase(pid);
        QVERIFY(!processRunning(table_, u"Vantra.exe"));
    }

    void killedButUnreapedIsNotRunning() {
        pid_t pid = start("Vantra.exe");
        terminateProcesses(table_, u"Vantra.exe");
        // Not reaped: a zombie still has its /proc entry and its name.
        QVERIFY(eventually([&] { return !processRunning(table_, u"Vantra.exe"); }));
        QCOMPARE(endingSignal(pid), SIGKILL);
        started_.erase(pid);
    }

    void everyInstanceKilled() {
        pid_t first = start("Vantra.exe");
        pid_t second = start("Vantra.exe");
        pid_t capitals = start("VANTRA.EXE");
        terminateProcesses(table_, u"Vantra.exe");
        QCOMPARE(endingSignal(first), SIGKILL);
        QCOMPARE(endingSignal(second), SIGKILL);
        QCOMPARE(endingSignal(capitals), SIGKILL);
        started_.clear();
    }

    void namesThatOnlyContainTheProductsAreLeftAlone() {
        std::vector<pid_t> others;
        for (const char* name : {"Vantra_old.exe", "Vantra", "Vantra.exe.bak", "xVantra.exe"}) {
            others.push_back(start(name));
            QVERIFY(processRunning(table_, Path(name).u16string()));
        }
        QVERIFY(!processRunning(table_, u"Vantra.exe"));
        terminateProcesses(table_, u"Vantra.exe");
        for (pid_t pid : others)
            QCOMPARE(endingSignal(pid, 200), -1);
    }

    void processOfAnotherUserStaysReported() {
        if (::geteuid() != 0)
            QSKIP("needs root to run processes under two other accounts");
        // Two accounts by number alone: the kernel needs no entry in /etc/passwd.
        const uid_t owner = 60402, updater = 60401;
        pid_t victim = start("Vantra.exe", owner);

        pid_t checker = ::fork();
        if (checker == 0) {
            if (::setgid(updater) != 0 || ::setuid(updater) != 0)
                ::_exit(3);
            terminateProcesses(table_, u"Vantra.exe");
            ::usleep(300000);
            ::_exit(processRunning(table_, u"Vantra.exe") ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(checker, &status, 0), checker);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0); // still reported running after the refused kill
        QCOMPARE(endingSignal(victim, 200), -1);
    }
};

QTEST_GUILESS_MAIN(ProcessControlTest)
#include "ProcessControlTest.moc"
