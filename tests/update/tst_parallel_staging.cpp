// Staging on several threads: the same files as on one, and the same message
// and untouched Product directory whichever thread fails first.

#include "Exception.h"
#include "ExceptionQt.h"
#include "StagedExtraction.h"
#include "ZipFixture.h"
#include "ZipPackage.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

namespace {

constexpr int KiB = 1024;

// Half noise, half text: deflate leaves it large enough that the compressed
// bytes also cross the read buffers.
QByteArray content(int size, std::uint32_t seed) {
    QByteArray out(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = (i / 4096) % 2 ? char('a' + (x >> 16) % 4) : char(x >> 24);
    }
    return out;
}

FixtureEntry file(const QByteArray& name, const QByteArray& data, Codec codec) {
    FixtureEntry e;
    e.name = name;
    e.data = data;
    e.codec = codec;
    return e;
}

// Sizes on each side of the decoders' 256 KiB and 1 MiB blocks, in the
// methods read straight from the file, through the library and through a
// decoder of ours, with many small entries between them.
QList<FixtureEntry> manyEntries() {
    const int sizes[] = {0,
                         1,
                         256 * KiB - 1,
                         256 * KiB,
                         256 * KiB + 1,
                         1024 * KiB - 1,
                         1024 * KiB,
                         1024 * KiB + 1,
                         1536 * KiB + 7};
    const Codec codecs[] = {Codec::Deflate, Codec::Store, Codec::Bzip2, Codec::Zstd};
    QList<FixtureEntry> entries;
    std::uint32_t seed = 1;
    for (Codec codec : codecs)
        for (int size : sizes) {
            QByteArray name = "grande/" + QByteArray::number(int(codec)) + "-" +
                              QByteArray::number(size) + ".bin";
            entries << file(name, content(size, seed++), codec);
            entries << file("pequeno/" + QByteArray::number(seed) + ".txt",
                            content(int(seed % 3000), seed), Codec::Deflate);
        }
    return entries << file("Vantra.exe", content(5000, seed), Codec::Deflate);
}

struct Root {
    QTemporaryDir dir;
    QString product() const { return dir.filePath(QStringLiteral("Produto")); }
};

void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
}

// Every file below the root, temporaries included.
QMap<QString, QByteArray> contents(const QString& root) {
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QString path = it.next();
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            files.insert(QDir(root).relativeFilePath(path), f.readAll());
    }
    return files;
}

// The message of the extraction with `workers` threads; empty on success.
QString extract(const QString& product, const QByteArray& zip, unsigned workers,
                int* keptAliveOnThisThread = nullptr) {
    const QString package = QDir(product).filePath(QStringLiteral("pacote.zip"));
    writeFile(package, zip);
    const std::thread::id self = std::this_thread::get_id();
    QString message;
    try {
        ZipPackage opened(platform::Path(package.toStdU16String()),
                          platform::Path(product.toStdU16String()));
        StagingOptions options;
        options.workers = workers;
        options.keepAlive = [&] {
            if (keptAliveOnThisThread && std::this_thread::get_id() == self)
                ++*keptAliveOnThisThread;
        };
        extractStaged(opened, platform::Path(product.toStdU16String()), options);
    } catch (const Exception& e) {
        message = mensagem(e);
    }
    QFile::remove(package);
    return message;
}

} // namespace

class ParallelStagingTest : public QObject {
    Q_OBJECT

private slots:
    void sameFilesWithOneOrManyWorkers();
    void firstBadEntryInDirectoryOrder_data();
    void firstBadEntryInDirectoryOrder();
};

void ParallelStagingTest::sameFilesWithOneOrManyWorkers() {
    const QList<FixtureEntry> entries = manyEntries();
    const QByteArray zip = buildZip(entries);
    QMap<QString, QByteArray> expected;
    for (const FixtureEntry& e : entries)
        expected.insert(QString::fromUtf8(e.name), e.data);

    for (unsigned workers : {1u, 2u, 5u}) {
        Root root;
        QVERIFY(QDir().mkpath(root.product()));
        int keptAlive = 0;
        QCOMPARE(extract(root.product(), zip, workers, &keptAlive), QString());
        QCOMPARE(contents(root.product()), expected);
        QVERIFY2(keptAlive > 0, "the calling thread handles events while the workers run");
    }
}

void ParallelStagingTest::firstBadEntryInDirectoryOrder_data() {
    QTest::addColumn<QList<int>>("bad");  // entries whose CRC is wrong
    QTest::addColumn<QString>("message"); // names the first of them in the directory
    QTest::newRow("one bad entry among many") << QList<int>{17} << QStringLiteral("017.bin");
    // The large one is handed out first and fails first; the small one
    // earlier in the directory is still the one named.
    QTest::newRow("a small bad entry before a large one")
        << QList<int>{3, 30} << QStringLiteral("003.bin");
}

void ParallelStagingTest::firstBadEntryInDirectoryOrder() {
    QFETCH(QList<int>, bad);
    QFETCH(QString, message);
    QList<FixtureEntry> entries;
    for (int i = 0; i < 40; ++i) {
        int size = i == 30 ? 3 * 1024 * KiB : 20 * KiB + i * 999;
        entries << file(QByteArray::number(i).rightJustified(3, '0') + ".bin",
                        content(size, std::uint32_t(i)), i % 2 ? Codec::Deflate : Codec::Store);
    }
    entries << file("Vantra.exe", "versão nova", Codec::Deflate);
    QByteArray zip = buildZip(entries);
    ZipPatcher patcher(zip);
    for (int i : bad)
        patcher.setCrc(i, patcher.crc(i) ^ 0x10);

    Root root;
    writeFile(root.product() + QStringLiteral("/Vantra.exe"), "versão antiga");
    writeFile(root.product() + QStringLiteral("/017.bin"), "antigo");
    const QMap<QString, QByteArray> before = contents(root.product());
    for (int run = 0; run < 8; ++run) {
        QCOMPARE(extract(root.product(), zip, 4), QStringLiteral("CRC error in entry ") + message);
        QCOMPARE(contents(root.product()), before);
    }
}

QTEST_GUILESS_MAIN(ParallelStagingTest)
#include "tst_parallel_staging.moc"
