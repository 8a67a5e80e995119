// TDownload of a large Package from the loopback file server, against
// `curl -s -o` of the same address, alternating; prints each time, the ratio
// of the medians and this process's peak resident size.
//   bench_download [size in MiB, default 512] [rounds, default 3]

#include "ExceptionQt.h"
#include "HttpClient.h"
#include "UDownload.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

const char* const serverProgram = VANTRA_TEST_SERVER_PROGRAM;
const char* const caFile = VANTRA_TEST_CA_FILE;
const char* const certFile = VANTRA_TEST_CERT_FILE;
const char* const keyFile = VANTRA_TEST_KEY_FILE;
const int port = VANTRA_TEST_PORT;

bool writePackage(const QString& path, std::uint64_t size) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    std::vector<char> block(1 << 20);
    std::uint32_t x = 12345;
    for (char& c : block) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    for (std::uint64_t left = size; left > 0;) {
        auto n = std::min<std::uint64_t>(left, block.size());
        out.write(block.data(), static_cast<std::streamsize>(n));
        block[0]++; // blocks differ from one another
        left -= n;
    }
    return static_cast<bool>(out);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::uint64_t size = mebibytes << 20;

    QTemporaryDir root, product;
    QDir(root.path()).mkpath(QStringLiteral("Vantra"));
    const QString address = QStringLiteral("https://localhost:%1/Vantra.zip").arg(port);
    {
        std::ofstream doc((root.path() + "/Vantra/DADOSCONEXAO.txt").toStdString());
        doc << "executavelvantra=" << address.toStdString() << "#\r\n";
    }
    std::printf("writing a %llu MiB package...\n", static_cast<unsigned long long>(mebibytes));
    if (!writePackage(root.path() + "/Vantra.zip", size)) {
        std::fprintf(stderr, "cannot write the package\n");
        return 1;
    }

    QProcess server;
    server.setStandardErrorFile(QProcess::nullDevice()); // its request log
    server.start(QString::fromUtf8(serverProgram),
                 {"--port", QString::number(port), "--cert", certFile, "--key", keyFile, "--root",
                  root.path()});
    if (!server.waitForReadyRead(10000) || !server.readLine().startsWith("listening on")) {
        std::fprintf(stderr, "the file server did not start\n");
        return 1;
    }

    std::vector<double> ours, theirs;
    const QString zip = product.path() + QDir::separator() + QStringLiteral("Vantra.zip");
    const QString curlOut = product.path() + QStringLiteral("/curl.out");
    for (int round = 1; round <= rounds; ++round) {
        HttpClient idHttp1;
        std::int64_t last = 0;
        idHttp1.OnWork = [&](TWorkMode, std::int64_t n) {
            last = n;
            QCoreApplication::processEvents(); // as the window's handler does
        };
        QElapsedTimer timer;
        timer.start();
        try {
            TDownload download(idHttp1, product.path() + QDir::separator());
            download.RealizarDownload();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "TDownload failed: %s\n", qPrintable(mensagem(e)));
            return 1;
        }
        double t1 = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        if (QFileInfo(zip).size() != static_cast<qint64>(size) ||
            last != static_cast<std::int64_t>(size)) {
            std::fprintf(stderr, "TDownload wrote %lld bytes\n", QFileInfo(zip).size());
            return 1;
        }
        QFile::remove(zip);

        timer.restart();
        int rc = QProcess::execute(QStringLiteral("curl"),
                                   {"-s", "-o", curlOut, "--cacert", caFile, address});
        double t2 = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        if (rc != 0 || QFileInfo(curlOut).size() != static_cast<qint64>(size)) {
            std::fprintf(stderr, "curl failed (%d)\n", rc);
            return 1;
        }
        QFile::remove(curlOut);
        ours.push_back(t1);
        theirs.push_back(t2);
        std::printf("round %d: TDownload %.3f s (%.0f MiB/s), curl %.3f s (%.0f MiB/s)\n", round,
                    t1, static_cast<double>(mebibytes) / t1, t2,
                    static_cast<double>(mebibytes) / t2);
        std::fflush(stdout);
    }
    server.terminate();
    server.waitForFinished(5000);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("median: TDownload %.3f s, curl %.3f s, ratio %.3f (target <= 1.10)\n",
                median(ours), median(theirs), median(ours) / median(theirs));
    std::printf("peak RSS of this process: %.1f MiB (target <= 64)\n",
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
