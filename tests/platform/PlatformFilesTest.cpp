// The POSIX file functions and the launch, on real files and processes.
#include "Exception.h"
#include "Platform.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

namespace {

void writeText(const Path& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::string readText(const Path& path) {
    std::ifstream in(path);
    if (!in)
        return "<missing>";
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

mode_t modeOf(const Path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

bool eventually(const std::function<bool()>& condition, int timeoutMs = 5000) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (condition())
            return true;
        ::usleep(20000);
    }
    return condition();
}

std::u16string createError(const Path& path) {
    try {
        File::createExclusive(path);
    } catch (const Exception& e) {
        return e.message();
    }
    return u"<no error>";
}

} // namespace

class PlatformFilesTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;
    Path dir_;

private slots:
    void init() {
        QVERIFY(tmp_.isValid());
        dir_ = Path(tmp_.path().toStdString()) / QTest::currentTestFunction();
        std::filesystem::create_directory(dir_);
    }

    void backupMoveNeverReplaces() {
        writeText(dir_ / "Vantra.exe", "new");
        writeText(dir_ / "Vantra_old.exe", "old");
        QVERIFY(!moveFile(dir_ / "Vantra.exe", dir_ / "Vantra_old.exe"));
        QCOMPARE(readText(dir_ / "Vantra.exe"), std::string("new"));
        QCOMPARE(readText(dir_ / "Vantra_old.exe"), std::string("old"));

        std::filesystem::remove(dir_ / "Vantra_old.exe");
        QVERIFY(moveFile(dir_ / "Vantra.exe", dir_ / "Vantra_old.exe"));
        QVERIFY(!fileExists(dir_ / "Vantra.exe"));
        QCOMPARE(readText(dir_ / "Vantra_old.exe"), std::string("new"));
        QVERIFY(!moveFile(dir_ / "Vantra.exe", dir_ / "Vantra_old.exe"));
    }

    void stagedFileReplacesTargetUnlessRefused_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("writable file") << "file" << true;
        QTest::newRow("missing") << "absent" << true;
        QTest::newRow("read-only file") << "readonly" << true; // it gets the staged file's mode
        QTest::newRow("directory") << "folder" << false;
    }
    void stagedFileReplacesTargetUnlessRefused() {
        QFETCH(QString, target);
        QFETCH(bool, replaced);
        writeText(dir_ / "file", "old");
        writeText(dir_ / "readonly", "old");
        ::chmod((dir_ / "readonly").c_str(), 0444);
        std::filesystem::create_directory(dir_ / "folder");
        writeText(dir_ / "staged", "new");
        Path path = dir_ / target.toStdString();

        QCOMPARE(replaceFile(dir_ / "staged", path), replaced);
        if (replaced) {
            QCOMPARE(readText(path), std::string("new"));
            QVERIFY(!std::filesystem::exists(dir_ / "staged"));
        } else {
            QCOMPARE(readText(dir_ / "staged"), std::string("new"));
            if (target == "folder")
                QVERIFY(std::filesystem::is_directory(path));
            else
                QCOMPARE(readText(path), std::string("old"));
        }
    }

    // Any mode moves; what would lose a directory or take a name does not.
    void moveAsideRefusesOnlyWhatCannotMove_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<int>("error"); // 0: moved
        QTest::newRow("writable file") << "file"
                                       << "aside" << 0;
        QTest::newRow("read-only file") << "readonly"
                                        << "aside" << 0;
        QTest::newRow("mode 0000") << "nomode"
                                   << "aside" << 0;
        QTest::newRow("directory") << "folder"
                                   << "aside" << EISDIR;
        QTest::newRow("name taken") << "file"
                                    << "readonly" << EEXIST;
        QTest::newRow("missing") << "absent"
                                 << "aside" << ENOENT;
        QTest::newRow("name too long") << "file" << QString(256, u'n') << ENAMETOOLONG;
    }
    void moveAsideRefusesOnlyWhatCannotMove() {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(int, error);
        std::filesystem::remove_all(dir_); // the rows share the directory
        std::filesystem::create_directory(dir_);
        writeText(dir_ / "file", "old");
        writeText(dir_ / "readonly", "ro");
        ::chmod((dir_ / "readonly").c_str(), 0444);
        writeText(dir_ / "nomode", "none");
        ::chmod((dir_ / "nomode").c_str(), 0);
        std::filesystem::create_directory(dir_ / "folder");
        const Path source = dir_ / from.toStdString(), target = dir_ / to.toStdString();
        const std::string content = readText(source);
        const mode_t mode = modeOf(source);

        std::u16string message;
        try {
            moveAside(source, target);
        } catch (const Exception& e) {
            message = e.message();
        }
        if (error == 0) {
            QVERIFY(message.empty());
            QVERIFY(!std::filesystem::exists(source));
            QCOMPARE(readText(target), content);
            QCOMPARE(modeOf(target), mode);
            return;
        }
        QCOMPARE(QString::fromStdU16String(message),
                 QString::fromStdU16String(systemErrorMessage(error)));
        if (from != "absent")
            QVERIFY(std::filesystem::exists(source));
        if (to == "readonly")
            QCOMPARE(readText(target), std::string("ro"));
    }

    void discardDeletesAnyModeAndTakesAbsenceAsDone() {
        writeText(dir_ / "readonly", "ro");
        ::chmod((dir_ / "readonly").c_str(), 0444);
        QVERIFY(discardFile(dir_ / "readonly"));
        QVERIFY(!std::filesystem::exists(dir_ / "readonly"));
        QVERIFY(discardFile(dir_ / "readonly"));
    }

    void flushesNameTheReason() {
        writeText(dir_ / "a", "a");
        std::filesystem::create_directory(dir_ / "sub");
        writeText(dir_ / "sub" / "b", "b");
        flushFiles({(dir_ / "a").native(), (dir_ / "sub" / "b").native()});
        flushDirectories({dir_, dir_ / "sub"});
        for (const std::function<void()>& flush : std::vector<std::function<void()>>{
                 [&] {
                     flushFiles({(dir_ / "a").native(), (dir_ / "missing").native()});
                 },
                 [&] { flushDirectories({dir_ / "missing"}); }}) {
            std::u16string message;
            try {
                flush();
            } catch (const Exception& e) {
                message = e.message();
            }
            QCOMPARE(QString::fromStdU16String(message),
                     QString::fromStdU16String(systemErrorMessage(ENOENT)));
        }
    }

    // Another handle stands for another process: flock locks belong to the
    // open file, not to the process.
    void lockedFileTellsALiveHolderFromALeftover() {
        const Path journal = dir_ / "journal";
        bool held = true;
        QVERIFY(!File::openLocked(journal, held) && !held);
        QVERIFY(!lockedByAnother(journal));
        {
            File live = File::createLocked(journal);
            live.write("x\n", 2);
            QVERIFY(lockedByAnother(journal));
            QVERIFY(!File::openLocked(journal, held));
            QVERIFY(held);
            std::u16string message;
            try {
                File::createLocked(journal);
            } catch (const Exception& e) {
                message = e.message();
            }
            QCOMPARE(QString::fromStdU16String(message),
                     QString::fromStdU16String(systemErrorMessage(EEXIST)));
        } // the holder is gone; its file stays
        QVERIFY(!lockedByAnother(journal));
        std::optional<File> leftover = File::openLocked(journal, held);
        QVERIFY(leftover && !held);
        QCOMPARE(leftover->readToEnd(), std::string("x\n"));
        QVERIFY(lockedByAnother(journal));
        leftover->deleteAndClose(journal);
        QVERIFY(!std::filesystem::exists(journal));
    }

    void packageFileIsLockedBeforeItIsEmptied() {
        Path package = dir_ / "Vantra.zip";
        writeText(package, "previous");
        {
            File held = File::createExclusive(package);
            held.write("abc", 3);
            QCOMPARE(createError(package), u"Cannot create file \"" + package.u16string() +
                                               u"\". " + systemErrorMessage(EWOULDBLOCK));
            QCOMPARE(readText(package),
                     std::string("abc")); // the refused second open emptied nothing
            // Read back through the held handle, as the signature check does.
            held.seek(1);
            char back[8] = {};
            QCOMPARE(held.read(back, sizeof back), std::size_t(2));
            QCOMPARE(std::string(back), std::string("bc"));
            QCOMPARE(held.read(back, sizeof back), std::size_t(0));
        }
        File again = File::createExclusive(package);
        QCOMPARE(readText(package), std::string(""));
    }

    void packageFileErrorsNameThePathAndTheReason() {
        Path missingDir = dir_ / "missing" / "Vantra.zip";
        QCOMPARE(createError(missingDir), u"Cannot create file \"" + missingDir.u16string() +
                                              u"\". " + systemErrorMessage(ENOENT));
        Path readOnly = dir_ / "Vantra.zip";
        writeText(readOnly, "kept");
        ::chmod(readOnly.c_str(), 0444);
        QCOMPARE(createError(readOnly), u"Cannot create file \"" + readOnly.u16string() + u"\". " +
                                            systemErrorMessage(EACCES));
        QCOMPARE(readText(readOnly), std::string("kept"));
        QVERIFY(!systemErrorMessage(ENOENT).empty());
    }

    void newFileMustNotExist() {
        writeText(dir_ / "there", "kept");
        QVERIFY_THROWS_EXCEPTION(Exception, File::createNew(dir_ / "there"));
        QCOMPARE(readText(dir_ / "there"), std::string("kept"));
        File fresh = File::createNew(dir_ / "fresh");
        fresh.write("x", 1);
        fresh.close();
        QCOMPARE(readText(dir_ / "fresh"), std::string("x"));
    }

    void reserveSetsTheSizeAndKeepsThePosition() {
        Path path = dir_ / "Vantra.zip";
        {
            File file = File::createExclusive(path);
            file.write("ab", 2);
            file.reserve(1000);
            QCOMPARE(std::filesystem::file_size(path), std::uintmax_t(1000));
            file.write("cd", 2);
            file.reserve(4); // never more than asked
            QCOMPARE(std::filesystem::file_size(path), std::uintmax_t(4));
        }
        QCOMPARE(readText(path), std::string("abcd"));
    }

    void reserveOnAFullFileSystemFails() {
        if (::geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        Path small = dir_ / "small";
        std::filesystem::create_directory(small);
        if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("tmpfs cannot be mounted here");
        bool refused = false;
        {
            File file = File::createExclusive(small / "Vantra.zip");
            try {
                file.reserve(16 * 1024 * 1024);
            } catch (const Exception& e) {
                refused = e.message() == systemErrorMessage(ENOSPC);
            }
        }
        ::umount(small.c_str());
        QVERIFY(refused);
    }

    void existenceAndDeletion() {
        writeText(dir_ / "file", "");
        std::filesystem::create_directory(dir_ / "folder");
        std::filesystem::create_symlink(dir_ / "file", dir_ / "link");
        QVERIFY(fileExists(dir_ / "file"));
        QVERIFY(fileExists(dir_ / "link"));
        QVERIFY(!fileExists(dir_ / "folder"));
        QVERIFY(!fileExists(dir_ / "missing"));
        QVERIFY(deleteFile(dir_ / "file"));
        QVERIFY(!fileExists(dir_ / "file"));
        QVERIFY(!deleteFile(dir_ / "file"));
    }

    void attributesFromTheArchive_data() {
        QTest::addColumn<int>("host");
        QTest::addColumn<uint>("external");
        QTest::addColumn<uint>("mode");
        // The file starts as 0666: others' write goes on every path.
        QTest::newRow("MS-DOS read-only: the owner still writes") << 0 << 0x21u << 0644u;
        QTest::newRow("MS-DOS writable") << 0 << 0x20u << 0644u;
        QTest::newRow("Unix mode") << 3 << (0100750u << 16) << 0750u;
        QTest::newRow("Unix set-user-ID dropped") << 3 << (0104755u << 16) << 0755u;
        QTest::newRow("Unix world-writable") << 3 << (0100777u << 16) << 0755u;
        QTest::newRow("Unix 0000: the owner reads and writes") << 3 << (0100000u << 16) << 0600u;
        QTest::newRow("Unix read-only for the owner") << 3 << (0100544u << 16) << 0744u;
        QTest::newRow("Unix without a mode") << 3 << 0x01u << 0644u;
    }
    void attributesFromTheArchive() {
        QFETCH(int, host);
        QFETCH(uint, external);
        QFETCH(uint, mode);
        Path file = dir_ / "file";
        writeText(file, "x");
        ::chmod(file.c_str(), 0666);
        setAttributesFromZip(file, static_cast<std::uint8_t>(host), external);
        QCOMPARE(uint(modeOf(file)), mode);
    }

    void lastWriteTimeFromDosLocalTime() {
        Path file = dir_ / "file";
        writeText(file, "x");
        const std::uint16_t date = ((2021 - 1980) << 9) | (6 << 5) | 15;
        const std::uint16_t time = (13 << 11) | (45 << 5) | 15;
        setLastWriteTimeFromDos(file, date, time);
        struct stat st {};
        ::stat(file.c_str(), &st);
        std::tm local{};
        ::localtime_r(&st.st_mtime, &local);
        QCOMPARE(local.tm_year + 1900, 2021);
        QCOMPARE(local.tm_mon + 1, 6);
        QCOMPARE(local.tm_mday, 15);
        QCOMPARE(local.tm_hour, 13);
        QCOMPARE(local.tm_min, 45);
        QCOMPARE(local.tm_sec, 30);

        // February 30th: left alone rather than rolled over into March.
        setLastWriteTimeFromDos(file, ((2021 - 1980) << 9) | (2 << 5) | 30, time);
        struct stat after {};
        ::stat(file.c_str(), &after);
        QCOMPARE(after.st_mtime, st.st_mtime);
    }

    void shellOpenStartsAnExecutableDetachedInTheCurrentDirectory() {
        Path script = dir_ / "Vantra.exe";
        Path out = dir_ / "out";
        writeText(script, "#!/bin/sh\npwd > '" + out.string() +
                              ".tmp'\n"
                              "ps -o sid= -p $$ >> '" +
                              out.string() +
                              ".tmp'\n"
                              "echo \"$#\" >> '" +
                              out.string() +
                              ".tmp'\n"
                              "sleep 1\nmv '" +
                              out.string() + ".tmp' '" + out.string() + "'\n");
        ::chmod(script.c_str(), 0755);
        auto before = std::chrono::steady_clock::now();
        shellOpen(script);
        QVERIFY(std::chrono::steady_clock::now() - before < std::chrono::milliseconds(900));
        QVERIFY(!fileExists(out)); // not waited for
        QVERIFY(eventually([&] { return fileExists(out); }));

        std::istringstream lines(readText(out));
        std::string cwd, sid, arguments;
        std::getline(lines, cwd);
        std::getline(lines, sid);
        std::getline(lines, arguments);
        QCOMPARE(cwd, std::filesystem::current_path().string());
        QVERIFY(std::atoi(sid.c_str()) != ::getsid(0));
        QCOMPARE(arguments, std::string("0"));
    }

    void shellOpenHandsOtherFilesToTheDesktopOpener() {
        Path bin = dir_ / "bin";
        std::filesystem::create_directory(bin);
        Path opened = dir_ / "opened";
        writeText(bin / "xdg-open", "#!/bin/sh\necho \"$1\" > '" + opened.string() + "'\n");
        ::chmod((bin / "xdg-open").c_str(), 0755);
        std::string oldPath = std::getenv("PATH");
        ::setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1);

        Path document = dir_ / "notes.txt";
        writeText(document, "not a program");
        shellOpen(document);
        shellOpen(dir_ / "missing.exe"); // nothing to open: nothing started
        bool openedDocument = eventually([&] { return fileExists(opened); });
        ::usleep(200000);
        ::setenv("PATH", oldPath.c_str(), 1);
        QVERIFY(openedDocument);
        QCOMPARE(readText(opened), document.string() + "\n");
    }
};

QTEST_GUILESS_MAIN(PlatformFilesTest)
#include "PlatformFilesTest.moc"
