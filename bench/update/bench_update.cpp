// The whole update, as the updater runs it once the user has answered Yes
// (download with the backup, extraction, the package deleted), against curl
// followed by unzip or bsdtar on the same package from the same loopback
// server. The 3 s pause before the product starts is not part of it.
//
//   bench_update [--rounds N] [--work DIR]
//
// The update sequence runs in a child process of its own (this program with
// --update), so that its peak RSS is its own and nothing is warm from a
// previous round; the window is replaced by a Step list that only processes
// Qt events, which is what the window does while the steps run.

#include "BenchSupport.h"
#include "ExceptionQt.h"
#include "HttpClient.h"
#include "ParallelStaging.h"
#include "UAtualizador.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const char* const serverProgram = VANTRA_TEST_SERVER_PROGRAM;
const char* const caFile = VANTRA_TEST_CA_FILE;
const char* const certFile = VANTRA_TEST_CERT_FILE;
const char* const keyFile = VANTRA_TEST_KEY_FILE;
const int port = VANTRA_TEST_PORT;

class Etapas : public IEtapaAtualizador {
public:
    void AdicionarLinha(const QString&) override {}
    void ProcessarMensagens() override { QCoreApplication::processEvents(); }
};

int runUpdate(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Etapas etapas;
    HttpClient idHttp1;
    idHttp1.OnWork = [](TWorkMode, std::int64_t) { QCoreApplication::processEvents(); };
    TAtualizador atualizador(etapas, idHttp1, QString::fromLocal8Bit(argv[2]));
    QElapsedTimer timer;
    timer.start();
    try {
        atualizador.Atualizar();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", mensagem(e).toLocal8Bit().constData());
        return 1;
    }
    std::printf("%.6f\n", static_cast<double>(timer.nsecsElapsed()) / 1e9);
    return 0;
}

// About 180 files and 260 MiB, shaped like a product: one large executable,
// some large libraries, many small files.
void buildPackage(const std::string& dir, const std::string& archive) {
    struct Group {
        int count;
        std::uint64_t size;
        const char* prefix;
    };
    const Group groups[] = {{1, 64 * MiB, "Vantra"},
                            {9, 12 * MiB, "bin/biblioteca"},
                            {20, 3 * MiB, "bin/modulo"},
                            {150, 190 * 1024, "recursos/item"}};
    Content content(0xA7A);
    std::vector<std::string> names;
    QDir().mkpath(QString::fromStdString(dir + "/src/bin"));
    QDir().mkpath(QString::fromStdString(dir + "/src/recursos"));
    for (const Group& g : groups)
        for (int i = 0; i < g.count; ++i) {
            std::string name = g.count == 1 ? std::string(g.prefix) + ".exe"
                                            : g.prefix + std::to_string(i) + ".dll";
            writeGenerated(dir + "/src/" + name, g.size + static_cast<std::uint64_t>(i) * 4099,
                           content);
            names.push_back(name);
        }
    buildArchive(archive, names, dir + "/src");
    QDir(QString::fromStdString(dir + "/src")).removeRecursively();
    std::printf("package: %zu files, %.1f MiB deflated\n", names.size(),
                fileSize(archive) / double(MiB));
}

void freshDirectory(const std::string& path) {
    QDir(QString::fromStdString(path)).removeRecursively();
    QDir().mkpath(QString::fromStdString(path));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--update") == 0)
        return runUpdate(argc, argv);

    int rounds = 3;
    std::string workParent;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--work") == 0)
            workParent = argv[i + 1];
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir work(workParent.empty()
                           ? QDir::tempPath() + "/bench_update-XXXXXX"
                           : QString::fromStdString(workParent) + "/bench_update-XXXXXX");
    if (!work.isValid()) {
        std::fprintf(stderr, "no work directory\n");
        return 1;
    }
    const std::string dir = work.path().toStdString();
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    const std::string served = dir + "/servidor";
    QDir().mkpath(QString::fromStdString(served + "/Vantra"));
    const std::string address = "https://localhost:" + std::to_string(port) + "/Vantra.zip";
    {
        std::ofstream doc(served + "/Vantra/DADOSCONEXAO.txt");
        doc << "executavelvantra=" << address << "#\r\n";
    }
    std::printf("generating the package in %s ...\n", dir.c_str());
    std::fflush(stdout);
    buildPackage(dir, served + "/Vantra.zip");

    QProcess server;
    server.setStandardErrorFile(QProcess::nullDevice()); // its request log
    server.start(QString::fromUtf8(serverProgram),
                 {"--port", QString::number(port), "--cert", certFile, "--key", keyFile, "--root",
                  QString::fromStdString(served)});
    if (!server.waitForReadyRead(10000) || !server.readLine().startsWith("listening on")) {
        std::fprintf(stderr, "the file server did not start\n");
        return 1;
    }

    std::vector<double> ours, curl, unzip, bsdtar;
    long oursRssKiB = 0;
    const std::string product = dir + "/produto/";
    const std::string peer = dir + "/peer";
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                freshDirectory(product);
                std::ofstream(product + "Vantra.exe") << "versão antiga";
                sync();
                Run run = runChild({self, "--update", product});
                ours.push_back(std::stod(run.output));
                oursRssKiB = std::max(oursRssKiB, run.maxRssKiB);
            } else {
                freshDirectory(peer);
                sync();
                std::string zip = peer + "/Vantra.zip";
                curl.push_back(
                    runChild({"curl", "-s", "-o", zip, "--cacert", caFile, address}).seconds);
                freshDirectory(peer + "/u");
                unzip.push_back(runChild({"unzip", "-o", "-q", zip, "-d", peer + "/u"}).seconds);
                freshDirectory(peer + "/b");
                sync();
                bsdtar.push_back(runChild({"bsdtar", "-xf", zip, "-C", peer + "/b"}).seconds);
            }
        }
        std::printf("round %d: ours %.3f s; curl %.3f s, unzip %.3f s, bsdtar %.3f s\n", round + 1,
                    ours.back(), curl.back(), unzip.back(), bsdtar.back());
        std::fflush(stdout);
    }
    server.terminate();
    server.waitForFinished(5000);
    QDir(QString::fromStdString(dir + "/produto")).removeRecursively();
    QDir(QString::fromStdString(peer)).removeRecursively();

    double peers = median(curl) + std::min(median(unzip), median(bsdtar));
    std::printf("\nwhole update (%d rounds, median wall time)\n", rounds);
    std::printf("  ours            %7.3f s   peak RSS %.1f MiB, %u workers\n", median(ours),
                oursRssKiB / 1024.0, stagingWorkers());
    std::printf("  curl            %7.3f s\n  unzip           %7.3f s\n  bsdtar          %7.3f s\n",
                median(curl), median(unzip), median(bsdtar));
    std::printf("  ratio ours/(curl + faster of unzip, bsdtar) %.3f  (target <= 0.60)\n",
                median(ours) / peers);
    std::printf("  ratio ours/(curl + unzip) %.3f, ours/(curl + bsdtar) %.3f\n",
                median(ours) / (median(curl) + median(unzip)),
                median(ours) / (median(curl) + median(bsdtar)));
    return 0;
}
