// Extraction speed and memory against Info-ZIP unzip and bsdtar, on two
// generated packages: many files of ordinary size, and one large file.
//
//   bench_extraction [--rounds N] [--work DIR] [--only a|b] [--keep 1]
//
// Each tool runs as its own child process on the same archive, in turns, into
// a fresh directory; the page cache is flushed to disk between runs so that
// no run pays for another's writes. Wall time and peak RSS come from wait4().

#include "BenchSupport.h"
#include "Descompactador.h"
#include "ExceptionQt.h"
#include "ParallelStaging.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Tool {
    const char* name;
    std::vector<double> seconds = {};
    long maxRssKiB = 0;
};

void compare(const char* title, const std::string& archive, const std::string& work, int rounds,
             const std::string& self, const char* bsdtarTarget) {
    Tool tools[] = {{"ours"}, {"unzip -o -q"}, {"bsdtar -xf"}};
    for (int round = 0; round < rounds; ++round) {
        for (int t = 0; t < 3; ++t) {
            // Turns rotate, so that no tool always runs first after a flush.
            int which = (t + round) % 3;
            std::string target = work + "/out";
            QDir(QString::fromStdString(target)).removeRecursively();
            QDir().mkpath(QString::fromStdString(target));
            sync();
            Run run;
            if (which == 0) {
                // The updater deletes its package: give it a link of its own.
                std::string package = target + "/Vantra.zip";
                if (link(archive.c_str(), package.c_str()) != 0) {
                    std::perror("link");
                    std::exit(1);
                }
                run = runChild({self, "--extract", target + "/"});
            } else if (which == 1) {
                run = runChild({"unzip", "-o", "-q", archive, "-d", target});
            } else {
                run = runChild({"bsdtar", "-xf", archive, "-C", target});
            }
            tools[which].seconds.push_back(run.seconds);
            tools[which].maxRssKiB = std::max(tools[which].maxRssKiB, run.maxRssKiB);
        }
    }
    QDir(QString::fromStdString(work + "/out")).removeRecursively();

    double ours = median(tools[0].seconds);
    std::printf("\n%s (%d rounds, median wall time)\n", title, rounds);
    for (const Tool& tool : tools)
        std::printf("  %-12s %7.3f s   peak RSS %6.1f MiB\n", tool.name, median(tool.seconds),
                    tool.maxRssKiB / 1024.0);
    std::printf("  ratio ours/unzip  %.3f\n", ours / median(tools[1].seconds));
    std::printf("  ratio ours/bsdtar %.3f  (target <= %s)\n", ours / median(tools[2].seconds),
                bsdtarTarget);
    std::printf("  our peak RSS %.1f MiB (target <= 64 MiB), %u workers x %.1f MiB of buffers\n",
                tools[0].maxRssKiB / 1024.0, stagingWorkers(),
                stagingBytesPerWorker() / double(MiB));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--extract") == 0) {
        try {
            DescompactarPacote(QString::fromLocal8Bit(argv[2]));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", mensagem(e).toLocal8Bit().constData());
            return 1;
        }
        return 0;
    }

    int rounds = 3;
    std::string workParent;
    std::string only; // "a" or "b": that package alone
    bool keep = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--work") == 0)
            workParent = argv[i + 1];
        else if (std::strcmp(argv[i], "--only") == 0)
            only = argv[i + 1];
        else if (std::strcmp(argv[i], "--keep") == 0) // the packages, for a profile
            keep = std::atoi(argv[i + 1]) != 0;
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir work(workParent.empty()
                           ? QDir::tempPath() + "/bench_extraction-XXXXXX"
                           : QString::fromStdString(workParent) + "/bench_extraction-XXXXXX");
    if (!work.isValid()) {
        std::fprintf(stderr, "no work directory\n");
        return 1;
    }
    work.setAutoRemove(!keep);
    const std::string dir = work.path().toStdString();
    const std::string self = QCoreApplication::applicationFilePath().toStdString();

    std::printf("generating packages in %s ...\n", dir.c_str());
    std::fflush(stdout);
    Content content(0x5EED);

    const int files = 2000;
    const std::uint64_t totalA = 200 * MiB;
    if (only != "b") {
        // (a) 2000 files, 200 MiB in all, sizes from a quarter to 1.75 times the mean.
        std::vector<std::string> many;
        QDir().mkpath(QString::fromStdString(dir + "/src-a"));
        std::vector<std::uint64_t> sizes(files);
        std::uint64_t sum = 0;
        for (int i = 0; i < files; ++i) {
            sizes[i] = 25 + (static_cast<std::uint64_t>(i) * 7919 % 150);
            sum += sizes[i];
        }
        std::uint64_t written = 0;
        for (int i = 0; i < files; ++i) {
            std::uint64_t size = i + 1 == files ? totalA - written : sizes[i] * totalA / sum;
            written += size;
            std::string sub = "modulo" + std::to_string(i % 20);
            QDir().mkpath(QString::fromStdString(dir + "/src-a/" + sub));
            std::string name = sub + "/arquivo" + std::to_string(i) + ".dat";
            writeGenerated(dir + "/src-a/" + name, size, content);
            many.push_back(name);
        }
        // An update must bring the product's executable.
        writeGenerated(dir + "/src-a/Vantra.exe", MiB, content);
        many.push_back("Vantra.exe");
        buildArchive(dir + "/a.zip", many, dir + "/src-a");
        QDir(QString::fromStdString(dir + "/src-a")).removeRecursively();
        std::printf("(a) %d files, %.0f MiB -> %.1f MiB deflated\n", files, totalA / double(MiB),
                    fileSize(dir + "/a.zip") / double(MiB));
    }
    if (only != "a") {
        // (b) one file of 512 MiB.
        QDir().mkpath(QString::fromStdString(dir + "/src-b"));
        writeGenerated(dir + "/src-b/Vantra.exe", 512 * MiB, content);
        buildArchive(dir + "/b.zip", {"Vantra.exe"}, dir + "/src-b");
        QDir(QString::fromStdString(dir + "/src-b")).removeRecursively();
        std::printf("(b) 1 file, 512 MiB -> %.1f MiB deflated\n",
                    fileSize(dir + "/b.zip") / double(MiB));
    }
    std::fflush(stdout);

    if (only.empty() || only == "a")
        compare("(a) 2000 files, 200 MiB", dir + "/a.zip", dir, rounds, self, "0.5");
    if (only.empty() || only == "b")
        compare("(b) one 512 MiB file", dir + "/b.zip", dir, rounds, self, "1.0");
    return 0;
}
