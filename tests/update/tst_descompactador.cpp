// Extraction of real packages over a real Product directory: what the user
// gets on disk, and the message when the update stops.

#include "Descompactador.h"
#include "Exception.h"
#include "ExceptionQt.h"
#include "Platform.h"
#include "ZipFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <list>

#include <sys/mount.h>
#include <sys/stat.h>

namespace {

const QString frase = QStringLiteral("Não foi possível descompactar o arquivo!\r\n\r\n");

struct Existing {
    QString path;
    QByteArray content; // a directory when null
    int mode = 0644;
};

struct Expected {
    QString path;
    QByteArray content;
    int mode = -1; // -1: not checked
};

struct Case {
    const char* tag;
    std::function<QByteArray()> package;
    QString error = {};            // the inner message; empty when the step succeeds
    QList<Expected> files = {};    // on success: what was written (everything else unchanged)
    QStringList directories = {};  // on success: directories that must exist
    QList<Existing> existing = {}; // besides the product's usual files
    const char* locale = nullptr;  // LC_ALL while the step runs
    bool noPackage = false;        // no Vantra.zip at all
};

struct FileState {
    QByteArray content;
    int mode = 0;
    bool directory = false;
    bool operator==(const FileState&) const = default;
};
using Snapshot = QMap<QString, FileState>;

const QList<Existing> productFiles = {
    {QStringLiteral("Vantra.exe"), "versão antiga do produto"},
    {QStringLiteral("dados/config.ini"), "config antiga"},
};

int modeOf(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Every file, link, temporary, backup and journal below the test's root, so
// that a write outside the Product directory shows up as well; and every
// directory unless `directories` is false.
Snapshot snapshot(const QString& root, bool directories = true) {
    Snapshot files;
    QDir::Filters filter = QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;
    if (directories)
        filter |= QDir::Dirs;
    QDirIterator it(root, filter, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QString path = it.next();
        QFile file(path);
        FileState state;
        state.directory = QFileInfo(path).isDir() && !QFileInfo(path).isSymLink();
        if (!state.directory && file.open(QIODevice::ReadOnly))
            state.content = file.readAll();
        state.mode = modeOf(path);
        files.insert(QDir(root).relativeFilePath(path), state);
    }
    return files;
}

void writeFile(const QString& path, const QByteArray& content, int mode = 0644) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

FixtureEntry file(const char* name, const QByteArray& data, Codec codec = Codec::Deflate) {
    FixtureEntry e;
    e.name = name;
    e.data = data;
    e.codec = codec;
    return e;
}

FixtureEntry directory(const char* name) {
    FixtureEntry e;
    e.name = name;
    e.directory = true;
    return e;
}

FixtureEntry withAttributes(FixtureEntry e, int hostSystem, std::uint32_t attributes) {
    e.hostSystem = hostSystem;
    e.externalAttributes = attributes;
    return e;
}

constexpr int msDos = 0;
constexpr int unixHost = 3;
std::uint32_t unixMode(std::uint32_t mode) {
    return mode << 16;
}

// Large and repetitive enough to be deflated rather than stored.
QByteArray text(int lines, const char* word = "linha") {
    QByteArray out;
    for (int i = 0; i < lines; ++i)
        out += QByteArray(word) + ' ' + QByteArray::number(i * 7919 % 1000) + '\n';
    return out;
}

// Good entries that replace a product file and add a new one; a failing
// case that came after them must still leave both untouched.
QList<FixtureEntry> good() {
    return {file("Vantra.exe", "versão nova do produto"), file("dados/novo.txt", "novo")};
}

// Compressible, but not to nothing.
QByteArray sample(int size) {
    QByteArray out = text(size / 8 + 1);
    for (int i = 0; i < out.size(); i += 7)
        out[i] = static_cast<char>((i * 2654435761u) >> 24);
    return out.left(size);
}

QByteArray zipOf(QList<FixtureEntry> entries, const QByteArray& comment = {}) {
    return buildZip(entries, comment);
}

const QByteArray newProduct = "versão nova do produto";

// Every package that installs must hold the product's executable.
QList<FixtureEntry> withProduct(QList<FixtureEntry> entries) {
    return entries << file("Vantra.exe", newProduct);
}

QList<Expected> productAnd(QList<Expected> written) {
    return written << Expected{QStringLiteral("Vantra.exe"), newProduct};
}

QList<Expected> goodWritten() {
    return {{QStringLiteral("Vantra.exe"), "versão nova do produto"},
            {QStringLiteral("dados/novo.txt"), "novo"}};
}

// The archive after `patch`, which gets the bytes and a patcher over them.
QByteArray patched(QList<FixtureEntry> entries,
                   const std::function<void(QByteArray&, ZipPatcher&)>& patch) {
    QByteArray zip = buildZip(entries);
    ZipPatcher patcher(zip);
    patch(zip, patcher);
    return zip;
}

// One name in each code page an entry can be read with.
QList<FixtureEntry> codePageNames() {
    return {withAttributes(file("Configura\x87\xC6o.ini", "oem"), msDos, 0x20),
            file("Atualiza\xE7\xE3o.txt", "ansi")};
}

QList<FixtureEntry> goodAnd(FixtureEntry bad) {
    return good() << bad;
}

// Every method at the sizes around the decoding buffer's, where a decoder
// that fills its output exactly must still see its data's end.
const QList<Case>& bufferBoundaryCases() {
    static const QList<Case> rows = [] {
        static std::list<QByteArray> tags;
        const std::pair<const char*, Codec> methods[] = {
            {"stored", Codec::Store}, {"deflated", Codec::Deflate}, {"bzip2", Codec::Bzip2},
            {"LZMA", Codec::Lzma},    {"zstd", Codec::Zstd},        {"xz", Codec::Xz}};
        const std::pair<const char*, int> sizes[] = {
            {"1 MiB - 1", (1 << 20) - 1}, {"1 MiB", 1 << 20}, {"1 MiB + 1", (1 << 20) + 1}};
        QList<Case> all;
        for (const auto& [method, codec] : methods) {
            for (const auto& [sizeName, size] : sizes) {
                tags.push_back(QByteArray(method) + ", " + sizeName);
                all.push_back(
                    {tags.back().constData(),
                     [codec = codec, size = size] {
                         return zipOf(withProduct({file("dados/limite.bin", sample(size), codec)}));
                     },
                     {},
                     productAnd({{QStringLiteral("dados/limite.bin"), sample(size)}})});
            }
        }
        return all;
    }();
    return rows;
}

// The archive with a second central directory and end record after its own:
// the first directory says the last entry needs version 9.9, the second 2.0.
QByteArray withSecondDirectory(QList<FixtureEntry> entries) {
    QByteArray zip = buildZip(entries);
    ZipPatcher first(zip);
    const int end = first.endRecord();
    const int directory = static_cast<int>(first.get32(end + 16));
    const QByteArray secondDirectory = zip.mid(directory, end - directory);
    QByteArray secondEnd = zip.mid(end, 22);
    first.put16(first.central(static_cast<int>(entries.size()) - 1) + 6, 99);
    zip.append(secondDirectory);
    zip.append(secondEnd);
    ZipPatcher second(zip);
    second.put32(second.endRecord() + 16, static_cast<std::uint32_t>(end + 22));
    return zip;
}

QString unsafe(const char* name) {
    return QStringLiteral("Unsafe file name in entry ") + QString::fromUtf8(name);
}

Case unsafeName(const char* tag, const char* name) {
    return {tag, [name] { return zipOf(goodAnd(file(name, "fora"))); }, unsafe(name)};
}

// One byte more than ext4 and tmpfs allow in a name; the temporary's own
// short name lets it be staged.
QByteArray longName() {
    return QByteArray(256, 'n');
}

const QList<Case>& cases() {
    static const QList<Case> all = {
        // --- the package is not an archive we can read ---
        {"zero-byte package", [] { return QByteArray(); }, QStringLiteral("Invalid Stream")},
        {"HTML page instead of the package",
         [] { return QByteArray("<html><body><h1>404 Not Found</h1></body></html>\n"); },
         QStringLiteral("Unhandled Archive Type")},
        {"truncated archive",
         [] {
             QByteArray zip = zipOf({file("Vantra.exe", text(4000))});
             return zip.left(zip.size() / 2);
         },
         QStringLiteral("Unhandled Archive Type")},
        {"shorter than an end record", [] { return QByteArray("PK\x05\x06\0\0\0\0", 8); },
         QStringLiteral("Unhandled Archive Type")},
        {"damaged central directory",
         [] {
             return patched(good(), [](QByteArray&, ZipPatcher& p) { p.put32(p.central(1), 0); });
         },
         QStringLiteral("Invalid file - not a PKZip file")},
        {"end record pointing past the file",
         [] {
             return patched(good(), [](QByteArray&, ZipPatcher& p) {
                 p.put32(p.endRecord() + 16, 0x00FFFFFF);
             });
         },
         QStringLiteral("Invalid file - not a PKZip file")},
        {"split marker but no archive",
         [] { return QByteArray("PK\x07\x08", 4) + QByteArray(200, 'x'); },
         QStringLiteral("Invalid file - not a PKZip file")},
        {"no package at all",
         [] { return QByteArray(); },
         QStringLiteral("File not found"),
         {},
         {},
         {},
         nullptr,
         true},
        {"end record repeated: still one directory",
         [] {
             QByteArray zip = zipOf(good());
             return zip + zip.right(22);
         },
         {},
         goodWritten()},
        {"two central directories",
         [] { return withSecondDirectory(goodAnd(file("futuro.bin", "x"))); },
         QStringLiteral("Zip archive inconsistent")},
        {"archive announcing further parts",
         [] {
             return patched(good(),
                            [](QByteArray&, ZipPatcher& p) { p.put16(p.endRecord() + 4, 1); });
         },
         QStringLiteral("Multi-disk zip archives not supported")},

        // --- archives that extract ---
        {"empty archive", [] { return zipOf({}); }, QStringLiteral("No Vantra.exe in the package")},
        {"archive comment",
         [] { return zipOf(good(), "Pacote de atualização"); },
         {},
         goodWritten()},
        {"archive comment holding an end-record signature",
         [] { return zipOf(good(), "PK\x05\x06 Pacote de atualização de março"); },
         {},
         goodWritten()},
        {"empty entry with a CRC",
         [] {
             return patched(
                 withProduct({file("vazio.txt", "", Codec::Store), file("um.txt", "um")}),
                 [](QByteArray&, ZipPatcher& p) { p.setCrc(0, 0x1234ABCD); });
         },
         {},
         productAnd({{QStringLiteral("vazio.txt"), ""}, {QStringLiteral("um.txt"), "um"}})},
        {"names that only look like devices or the package",
         [] {
             return zipOf(
                 withProduct({file("CONFIG.SYS", "1"), file("COM10.txt", "2"), file("nul_x", "3"),
                              file("CONSOLE", "4"), file("LPT", "5"), file("dados/Vantra.zip", "6"),
                              file("Vantra.zip.txt", "7")}));
         },
         {},
         productAnd({{QStringLiteral("CONFIG.SYS"), "1"},
                     {QStringLiteral("COM10.txt"), "2"},
                     {QStringLiteral("nul_x"), "3"},
                     {QStringLiteral("CONSOLE"), "4"},
                     {QStringLiteral("LPT"), "5"},
                     {QStringLiteral("dados/Vantra.zip"), "6"},
                     {QStringLiteral("Vantra.zip.txt"), "7"}})},
        {"replaces a product file, adds one in a new directory",
         [] { return zipOf(good()); },
         {},
         goodWritten()},
        {"Zip64 end records",
         [] {
             QByteArray zip = zipOf(good());
             toZip64(zip);
             return zip;
         },
         {},
         goodWritten()},
        {"an entry named like a temporary",
         [] {
             return zipOf(withProduct({file("a/.vz1-0.tmp", "zero"), file("a/um.txt", "um")}));
         },
         {},
         productAnd(
             {{QStringLiteral("a/.vz1-0.tmp"), "zero"}, {QStringLiteral("a/um.txt"), "um"}})},
        {"entries named like backups",
         [] {
             return zipOf(withProduct({file(".Vantra.exe.vzold", "b"), file(".vb0-0.old", "c")}));
         },
         {},
         productAnd(
             {{QStringLiteral(".Vantra.exe.vzold"), "b"}, {QStringLiteral(".vb0-0.old"), "c"}})},
        {"name without a dot",
         [] { return zipOf(withProduct({file("LEIAME", "sem extensão")})); },
         {},
         productAnd({{QStringLiteral("LEIAME"), "sem extensão"}})},
        {"nested directories without directory entries",
         [] { return zipOf(withProduct({file("a/b/c/d.txt", text(50))})); },
         {},
         productAnd({{QStringLiteral("a/b/c/d.txt"), text(50)}})},
        {"directory entry",
         [] {
             return zipOf(withProduct({directory("vazio/"), directory("x/y/")}));
         },
         {},
         productAnd({}),
         {QStringLiteral("vazio"), QStringLiteral("x/y")}},
        {"directory entry naming the Product directory itself",
         [] { return zipOf(withProduct({directory("./")})); },
         {},
         productAnd({})},
        {"file entry naming the Product directory itself",
         [] { return zipOf(withProduct({file(".", "x")})); }, unsafe(".")},
        {"same name twice: the later one stays",
         [] {
             return patched(
                 withProduct({file("dup-1.txt", "primeiro"), file("dup-2.txt", "segundo")}),
                 [](QByteArray&, ZipPatcher& p) { p.setName(1, "dup-1.txt"); });
         },
         {},
         productAnd({{QStringLiteral("dup-1.txt"), "segundo"}})},
        {"same name twice over an existing file",
         [] {
             return patched(
                 withProduct({file("dup-1.txt", "primeiro"), file("dup-2.txt", "segundo")}),
                 [](QByteArray&, ZipPatcher& p) { p.setName(1, "dup-1.txt"); });
         },
         {},
         productAnd({{QStringLiteral("dup-1.txt"), "segundo"}}),
         {},
         {{QStringLiteral("dup-1.txt"), "antigo"}}},
        // A target is moved aside, not written: its mode does not matter, and
        // the package's attributes then apply.
        {"read-only target is replaced",
         [] {
             return zipOf(good() << withAttributes(file("leitura.txt", "novo conteúdo"), unixHost,
                                                   unixMode(0100640)));
         },
         {},
         goodWritten() << Expected{QStringLiteral("leitura.txt"), "novo conteúdo", 0640},
         {},
         {{QStringLiteral("leitura.txt"), "conteúdo protegido", 0444}}},
        {"target with mode 0000 is replaced",
         [] {
             return zipOf(
                 good() << withAttributes(file("zero.bin", "novo"), unixHost, unixMode(0100600)));
         },
         {},
         goodWritten() << Expected{QStringLiteral("zero.bin"), "novo", 0600},
         {},
         {{QStringLiteral("zero.bin"), "antigo", 0000}}},
        {"every supported method",
         [] {
             return zipOf({file("store.txt", text(20), Codec::Store),
                           file("deflate.txt", text(300), Codec::Deflate),
                           file("bzip2.txt", text(300), Codec::Bzip2),
                           file("lzma.txt", text(3000), Codec::Lzma),
                           file("xz.txt", text(3000), Codec::Xz),
                           file("zstd.txt", text(3000), Codec::Zstd),
                           file("vazio.txt", "", Codec::Store), file("Vantra.exe", newProduct)});
         },
         {},
         {{QStringLiteral("store.txt"), text(20)},
          {QStringLiteral("deflate.txt"), text(300)},
          {QStringLiteral("bzip2.txt"), text(300)},
          {QStringLiteral("lzma.txt"), text(3000)},
          {QStringLiteral("xz.txt"), text(3000)},
          {QStringLiteral("zstd.txt"), text(3000)},
          {QStringLiteral("vazio.txt"), ""},
          {QStringLiteral("Vantra.exe"), newProduct}}},
        {"entry names: UTF-8 flagged, UTF-8 unflagged, OEM code page",
         [] {
             return patched(
                 withProduct({file("ñandú.txt", "a"), file("ação.txt", "b"),
                              withAttributes(file("\x87\x82u.txt", "c"), msDos, 0x20)}),
                 [](QByteArray&, ZipPatcher& p) { p.setFlags(1, p.flags(1) & ~0x0800); });
         },
         {},
         {{QStringLiteral("ñandú.txt"), "a"},
          {QStringLiteral("ação.txt"), "b"},
          {QStringLiteral("çéu.txt"), "c"},
          {QStringLiteral("Vantra.exe"), newProduct}},
         {},
         {},
         "C"},
        // 0xC6 is "ã" in code page 850 and "╞" in 437; 0xE7 0xE3 are "çã" in 1252.
        {"names in Portuguese code pages under pt_BR: OEM 850, ANSI 1252",
         [] { return zipOf(withProduct(codePageNames())); },
         {},
         productAnd({{QStringLiteral("Configuração.ini"), "oem"},
                     {QStringLiteral("Atualização.txt"), "ansi"}}),
         {},
         {},
         "pt_BR.UTF-8"},
        {"names in code pages under en_US: OEM 437, ANSI 1252",
         [] { return zipOf(withProduct(codePageNames())); },
         {},
         productAnd({{QStringLiteral("Configuraç╞o.ini"), "oem"},
                     {QStringLiteral("Atualização.txt"), "ansi"}}),
         {},
         {},
         "en_US.UTF-8"},
        {"names in Cyrillic code pages under ru_RU: OEM 866, ANSI 1251",
         [] {
             return zipOf(withProduct(
                 {withAttributes(file("\x8F\xE0\xA8\xAC\xA5\xE0.txt", "oem"), msDos, 0x20),
                  file("\xCF\xF0\xE8\xEC\xE5\xF0.ini", "ansi")}));
         },
         {},
         productAnd(
             {{QStringLiteral("Пример.txt"), "oem"}, {QStringLiteral("Пример.ini"), "ansi"}}),
         {},
         {},
         "ru_RU.UTF-8"},
        {"names in code pages under a locale that names none: 850 and 1252",
         [] { return zipOf(withProduct(codePageNames())); },
         {},
         productAnd({{QStringLiteral("Configuração.ini"), "oem"},
                     {QStringLiteral("Atualização.txt"), "ansi"}}),
         {},
         {},
         "C"},
        {"Unix permission bits, without setuid",
         [] {
             return zipOf(
                 {withAttributes(file("bin/run.sh", "#!/bin/sh\n"), unixHost, unixMode(0100755)),
                  withAttributes(file("bin/suid", "x"), unixHost, unixMode(0104755)),
                  withAttributes(file("privado.key", "k"), unixHost, unixMode(0100600)),
                  withAttributes(file("somente.txt", "r"), unixHost, unixMode(0100444)),
                  withAttributes(file("Vantra.exe", "sem modo"), unixHost, unixMode(0100000)),
                  withAttributes(file("todos.txt", "w"), unixHost, unixMode(0100777))});
         },
         {},
         {{QStringLiteral("bin/run.sh"), "#!/bin/sh\n", 0755},
          {QStringLiteral("bin/suid"), "x", 0755},
          {QStringLiteral("privado.key"), "k", 0600},
          {QStringLiteral("somente.txt"), "r", 0644},
          {QStringLiteral("Vantra.exe"), "sem modo", 0600},
          {QStringLiteral("todos.txt"), "w", 0755}}},
        {"MS-DOS attributes: the owner keeps writing",
         [] {
             return zipOf({withAttributes(file("leitura.dll", "r"), msDos, 0x01 | 0x20),
                           withAttributes(file("normal.dll", "w"), msDos, 0x20),
                           file("Vantra.exe", newProduct)});
         },
         {},
         productAnd({{QStringLiteral("leitura.dll"), "r", 0644},
                     {QStringLiteral("normal.dll"), "w", 0644}})},

        // --- a bad entry: nothing of the product changes ---
        {"CRC mismatch",
         [] {
             return patched(goodAnd(file("dados/ruim.bin", text(400))),
                            [](QByteArray&, ZipPatcher& p) { p.setCrc(2, p.crc(2) ^ 1); });
         },
         QStringLiteral("CRC error in entry dados/ruim.bin")},
        {"damaged deflate data",
         [] {
             return patched(goodAnd(file("dados/ruim.bin", text(400))),
                            [](QByteArray& zip, ZipPatcher& p) {
                                QVERIFY(p.get16(p.central(2) + 10) == 8);
                                zip[p.data(2)] = char(0xFF); // block type 3 does not exist
                            });
         },
         QStringLiteral("Zlib error: data error in entry dados/ruim.bin")},
        {"size smaller than the data",
         [] {
             return patched(goodAnd(file("dados/ruim.bin", text(400))),
                            [](QByteArray&, ZipPatcher& p) {
                                p.setUncompressedSize(2, p.get32(p.central(2) + 24) - 1);
                            });
         },
         QStringLiteral("Zip archive inconsistent in entry dados/ruim.bin")},
        {"size larger than the data",
         [] {
             return patched(goodAnd(file("dados/ruim.bin", text(400))),
                            [](QByteArray&, ZipPatcher& p) {
                                p.setUncompressedSize(2, p.get32(p.central(2) + 24) + 1);
                            });
         },
         QStringLiteral("Zip archive inconsistent in entry dados/ruim.bin")},
        {"encrypted entry",
         [] {
             FixtureEntry e = file("segredo.txt", "confidencial");
             e.encrypted = true;
             return zipOf(goodAnd(e));
         },
         QStringLiteral("Encryption method not supported in entry segredo.txt")},
        {"unsupported method (Deflate64)",
         [] {
             return patched(goodAnd(file("dados/d64.bin", text(400))),
                            [](QByteArray&, ZipPatcher& p) { p.setMethod(2, 9); });
         },
         QStringLiteral("Compression method not supported in entry dados/d64.bin")},
        {"version needed above 6.3",
         [] {
             return patched(goodAnd(file("futuro.bin", "x")),
                            [](QByteArray&, ZipPatcher& p) { p.setVersionNeeded(2, 64); });
         },
         QStringLiteral("Version needed to extract not supported in entry futuro.bin")},
        {"local header without its signature",
         [] {
             return patched(goodAnd(file("dados/ruim.bin", "x")),
                            [](QByteArray&, ZipPatcher& p) { p.put32(p.local(2), 0); });
         },
         QStringLiteral("Zip archive inconsistent in entry dados/ruim.bin")},
        {"LZMA CRC mismatch",
         [] {
             return patched(goodAnd(file("lzma.bin", text(500), Codec::Lzma)),
                            [](QByteArray&, ZipPatcher& p) { p.setCrc(2, p.crc(2) + 1); });
         },
         QStringLiteral("CRC error in entry lzma.bin")},
        {"LZMA data shorter than its size",
         [] {
             return patched(goodAnd(file("lzma.bin", text(500), Codec::Lzma)),
                            [](QByteArray&, ZipPatcher& p) {
                                p.setUncompressedSize(2, p.get32(p.central(2) + 24) + 1);
                            });
         },
         QStringLiteral("Compressed data invalid in entry lzma.bin")},
        {"xz CRC mismatch",
         [] {
             return patched(goodAnd(file("xz.bin", text(500), Codec::Xz)),
                            [](QByteArray&, ZipPatcher& p) { p.setCrc(2, p.crc(2) + 1); });
         },
         QStringLiteral("CRC error in entry xz.bin")},
        {"zstd CRC mismatch",
         [] {
             return patched(goodAnd(file("zstd.bin", text(500), Codec::Zstd)),
                            [](QByteArray&, ZipPatcher& p) { p.setCrc(2, p.crc(2) + 1); });
         },
         QStringLiteral("CRC error in entry zstd.bin")},
        {"LZMA dictionary beyond the memory limit",
         [] {
             return patched(goodAnd(file("lzma.bin", text(500), Codec::Lzma)),
                            [](QByteArray&, ZipPatcher& p) {
                                p.put32(p.data(2) + 5, 0xFFFFFFFF); // after version and sizes
                                p.setUncompressedSize(2, 300u << 20);
                            });
         },
         QStringLiteral("Compressed data needs more than 256 MiB of memory in entry lzma.bin")},
        {"xz dictionary beyond the memory limit",
         [] {
             FixtureEntry e = file("xz.bin", text(500), Codec::Xz);
             e.compressed = xzDataClaimingLargestDictionary(e.data);
             return zipOf(goodAnd(e));
         },
         QStringLiteral("Compressed data needs more than 256 MiB of memory in entry xz.bin")},
        {"zstd window beyond the memory limit",
         [] {
             FixtureEntry e = file("zstd.bin", text(500), Codec::Zstd);
             e.compressed = zstdDataClaimingWindow(e.data, 28);
             return zipOf(goodAnd(e));
         },
         QStringLiteral("Compressed data needs more than 256 MiB of memory in entry zstd.bin")},
        {"damaged zstd data",
         [] {
             return patched(goodAnd(file("zstd.bin", text(500), Codec::Zstd)),
                            [](QByteArray& zip, ZipPatcher& p) { zip[p.data(2)] = 0; });
         },
         QStringLiteral("Compressed data invalid in entry zstd.bin")},

        // --- names that would write outside the Product directory ---
        unsafeName("parent directory", "../fora.txt"),
        unsafeName("parent directory deeper down", "dados/../../fora.txt"),
        unsafeName("parent directory with backslashes", "dados\\..\\..\\fora.txt"),
        unsafeName("parent directory as Windows trims it", "dados/.. /../fora.txt"),
        unsafeName("absolute name", "/tmp/fora.txt"),
        unsafeName("UNC name", "\\\\servidor\\share\\fora.txt"),
        unsafeName("drive letter", "C:/fora.txt"),
        unsafeName("drive-relative name", "C:fora.txt"),
        unsafeName("alternate data stream", "Vantra.exe:oculto"),
        unsafeName("device name", "NUL"),
        unsafeName("device name with an extension", "dados/com1.tar.gz"),
        unsafeName("device name with spaces before its extension", "Aux .log"),
        unsafeName("device name with trailing dots and spaces", "prn. ."),
        unsafeName("device name as a directory", "lpt9/leiame.txt"),
        unsafeName("the package's own name", "Vantra.zip"),
        unsafeName("the package's name as Windows trims it", "VANTRA.ZIP. "),
        {"symbolic link entry",
         [] {
             return zipOf(goodAnd(withAttributes(file("dados/link", "/etc/passwd", Codec::Store),
                                                 unixHost, unixMode(0120777))));
         },
         QStringLiteral("Symbolic link not supported in entry dados/link")},
        unsafeName("the journal's name", "AtualizadorVantra.journal"),
        unsafeName("the journal's name in other case", "atualizadorvantra.JOURNAL"),

        // --- a target that cannot be replaced: nothing changes, and the good
        // entries before it are moved back ---
        {"directory where a file should go",
         [] { return zipOf(good() << file("plugins", "um arquivo")); },
         QStringLiteral("Is a directory in entry plugins"),
         {},
         {},
         {{QStringLiteral("plugins"), QByteArray()}, {QStringLiteral("plugins/p.dll"), "p"}}},
        {"last segment longer than the file system allows",
         [] { return zipOf(good() << file(longName().constData(), "longo")); },
         QStringLiteral("File name too long in entry ") + QString::fromLatin1(longName())},
        {"a file where an entry needs a directory",
         [] { return zipOf(good() << file("a/b", "b")); },
         QStringLiteral("Not a directory in entry a/b"),
         {},
         {},
         {{QStringLiteral("a"), "um arquivo"}}},
        {"a file where a directory entry goes",
         [] { return zipOf(good() << directory("a/")); },
         QStringLiteral("Not a directory in entry a/"),
         {},
         {},
         {{QStringLiteral("a"), "um arquivo"}}},
        {"package without Vantra.exe",
         [] {
             return zipOf({file("dados/novo.txt", "novo"), file("LEIAME.txt", "leia")});
         },
         QStringLiteral("No Vantra.exe in the package")},
        {"Vantra.exe only below a directory",
         [] { return zipOf({file("bin/Vantra.exe", "novo")}); },
         QStringLiteral("No Vantra.exe in the package")},
        // Known only once it is in place: here names are case-sensitive.
        {"VANTRA.EXE is another file than Vantra.exe",
         [] {
             return zipOf({file("dados/novo.txt", "novo"), file("VANTRA.EXE", "novo")});
         },
         QStringLiteral("No Vantra.exe in the package")},
    };
    static const QList<Case> withBoundaries = all + bufferBoundaryCases();
    return withBoundaries;
}

} // namespace

class DescompactadorTest : public QObject {
    Q_OBJECT

private slots:
    void extract_data();
    void extract();
    void fullDiskDuringStaging();
    void journalAlreadyThere();
    void lastWriteTimeIsTheEntrysLocalTime();
};

void DescompactadorTest::extract_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < cases().size(); ++i)
        QTest::newRow(cases()[i].tag) << i;
}

void DescompactadorTest::extract() {
    QFETCH(int, row);
    const Case& c = cases()[row];

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString product = root.filePath(QStringLiteral("Produto")) + u'/';
    for (const Existing& e : productFiles + c.existing) {
        if (e.content.isNull())
            QVERIFY(QDir().mkpath(product + e.path));
        else
            writeFile(product + e.path, e.content, e.mode);
    }
    if (!c.noPackage)
        writeFile(product + QStringLiteral("Vantra.zip"), c.package());
    const Snapshot before = snapshot(root.path());
    const bool localeSet = qEnvironmentVariableIsSet("LC_ALL");
    const QByteArray locale = qgetenv("LC_ALL");
    auto restoreLocale = qScopeGuard([&] {
        if (localeSet)
            qputenv("LC_ALL", locale);
        else
            qunsetenv("LC_ALL");
    });
    if (c.locale)
        qputenv("LC_ALL", c.locale);

    QString message;
    try {
        DescompactarPacote(product);
    } catch (const Exception& e) {
        message = mensagem(e);
    }
    const Snapshot after = snapshot(root.path());

    if (!c.error.isEmpty()) {
        QCOMPARE(message, frase + c.error);
        QCOMPARE(after, before); // package kept, no product file touched, no temporary left
        return;
    }
    QCOMPARE(message, QString());
    Snapshot expected;
    for (auto it = before.begin(); it != before.end(); ++it)
        if (!it->directory)
            expected.insert(it.key(), *it);
    expected.remove(QStringLiteral("Produto/Vantra.zip"));
    for (const Expected& e : c.files) {
        const QString path = QStringLiteral("Produto/") + e.path;
        FileState state{e.content, e.mode};
        if (e.mode < 0)
            state.mode = after.value(path).mode;
        expected.insert(path, state);
    }
    QCOMPARE(snapshot(root.path(), false), expected);
    for (const QString& d : c.directories)
        QVERIFY2(QFileInfo(product + d).isDir(), qPrintable(d));
}

// A tmpfs of 1 MiB holds the package and one staged entry, not two.
void DescompactadorTest::fullDiskDuringStaging() {
    QTemporaryDir root;
    const QString product = root.filePath(QStringLiteral("Produto")) + u'/';
    QVERIFY(QDir().mkpath(product));
    const QByteArray mountPoint = QFile::encodeName(product);
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=1m") != 0)
        QSKIP("mounting a tmpfs needs root (CAP_SYS_ADMIN)");
    auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });

    writeFile(product + QStringLiteral("Vantra.exe"), "versão antiga do produto");
    writeFile(product + QStringLiteral("Vantra.zip"),
              buildZip({file("Vantra.exe", text(50000, "primeiro")),
                        file("dados/grande.bin", text(50000, "segundo"))}));
    const Snapshot before = snapshot(root.path());

    QString message;
    try {
        DescompactarPacote(product);
    } catch (const Exception& e) {
        message = mensagem(e);
    }
    QCOMPARE(message, frase + QString::fromStdU16String(platform::systemErrorMessage(ENOSPC)));
    QCOMPARE(snapshot(root.path()), before);
}

// Another updater's, or one a recovery could not finish: this attempt changes nothing.
void DescompactadorTest::journalAlreadyThere() {
    QTemporaryDir root;
    const QString product = root.filePath(QStringLiteral("Produto")) + u'/';
    writeFile(product + QStringLiteral("Vantra.exe"), "versão antiga do produto");
    writeFile(product + QStringLiteral("AtualizadorVantra.journal"), "tmp\t.vz0-0.tmp\n");
    writeFile(product + QStringLiteral("Vantra.zip"), zipOf(good()));
    const Snapshot before = snapshot(root.path());

    QString message;
    try {
        DescompactarPacote(product);
    } catch (const Exception& e) {
        message = mensagem(e);
    }
    QCOMPARE(message, frase + QStringLiteral("Cannot create file \"") + product +
                          QStringLiteral("AtualizadorVantra.journal\". ") +
                          QString::fromStdU16String(platform::systemErrorMessage(EEXIST)));
    QCOMPARE(snapshot(root.path()), before);
}

void DescompactadorTest::lastWriteTimeIsTheEntrysLocalTime() {
    qputenv("TZ", "America/Sao_Paulo");
    tzset();
    auto restore = qScopeGuard([] {
        qunsetenv("TZ");
        tzset();
    });
    const QDateTime when(QDate(2021, 3, 4), QTime(5, 6, 8)); // local; DOS time has 2 s steps
    FixtureEntry e = file("datado.txt", "x");
    e.mtime = when.toSecsSinceEpoch();

    QTemporaryDir root;
    const QString product = root.filePath(QStringLiteral("Produto")) + u'/';
    writeFile(product + QStringLiteral("Vantra.zip"),
              buildZip({e, directory("pasta/"), file("Vantra.exe", "novo")}));
    DescompactarPacote(product);
    QCOMPARE(QFileInfo(product + QStringLiteral("datado.txt")).lastModified(), when);
}

QTEST_GUILESS_MAIN(DescompactadorTest)
#include "tst_descompactador.moc"
