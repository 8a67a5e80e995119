// Extraction speed and memory against Info-ZIP unzip and bsdtar, on two
// generated packages: many files of ordinary size, and one large file.
//
//   bench_extraction [--rounds N] [--work DIR]
//
// Each tool runs as its own child process on the same archive, in turns, into
// a fresh directory; the page cache is flushed to disk between runs so that
// no run pays for another's writes. Wall time and peak RSS come from wait4().

#include "Descompactador.h"
#include "ExceptionQt.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;

// Content that deflates like a real product: text-like blocks from a skewed
// vocabulary, code-like blocks over a small alphabet, and some noise.
class Content {
public:
    explicit Content(std::uint64_t seed) : state_(seed | 1) {
        for (int w = 0; w < 4096; ++w) {
            std::string word;
            int length = 2 + static_cast<int>(next() % 9);
            for (int k = 0; k < length; ++k)
                word.push_back(static_cast<char>('a' + next() % 26));
            words_.push_back(word);
        }
        for (int k = 0; k < 64; ++k)
            alphabet_[k] = static_cast<unsigned char>(next());
    }

    void fill(std::vector<char>& block) {
        std::uint64_t kind = next() % 10;
        std::size_t i = 0;
        if (kind < 6) {
            while (i < block.size()) {
                std::uint64_t r = next();
                const std::string& w = words_[(r % 64) * (r >> 58 & 1 ? 1 : 64) % words_.size()];
                for (char c : w)
                    if (i < block.size())
                        block[i++] = c;
                if (i < block.size())
                    block[i++] = (r >> 20) % 12 == 0 ? '\n' : ' ';
            }
        } else if (kind < 9) {
            for (; i < block.size(); ++i)
                block[i] = static_cast<char>(alphabet_[next() % 64]);
        } else {
            for (; i < block.size(); ++i)
                block[i] = static_cast<char>(next());
        }
    }

private:
    std::uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    std::uint64_t state_;
    std::vector<std::string> words_;
    unsigned char alphabet_[64];
};

void writeGenerated(const std::string& path, std::uint64_t size, Content& content) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::vector<char> block(64 * 1024);
    for (std::uint64_t done = 0; done < size;) {
        content.fill(block);
        std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
        std::fwrite(block.data(), 1, n, f);
        done += n;
    }
    std::fclose(f);
}

// Deflated at libzip's default level, from files generated under `source`.
void buildArchive(const std::string& archive, const std::vector<std::string>& names,
                  const std::string& source) {
    int error = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const std::string& name : names) {
        zip_source_t* src = zip_source_file(za, (source + "/" + name).c_str(), 0, -1);
        zip_int64_t index = zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_UTF_8);
        zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 0);
    }
    if (zip_close(za) != 0) {
        std::fprintf(stderr, "cannot write %s\n", archive.c_str());
        std::exit(1);
    }
}

struct Run {
    double seconds = 0;
    long maxRssKiB = 0;
};

Run runChild(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        execv(args[0], args.data());
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.maxRssKiB = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv[0].c_str(), status);
        std::exit(1);
    }
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Tool {
    const char* name;
    std::vector<double> seconds = {};
    long maxRssKiB = 0;
};

void compare(const char* title, const std::string& archive, const std::string& work, int rounds,
             const std::string& self) {
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
    std::printf("  ratio ours/unzip  %.3f  (target <= 1.0)\n", ours / median(tools[1].seconds));
    std::printf("  ratio ours/bsdtar %.3f\n", ours / median(tools[2].seconds));
    std::printf("  our peak RSS %.1f MiB (target <= 64 MiB)\n", tools[0].maxRssKiB / 1024.0);
}

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
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
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--work") == 0)
            workParent = argv[i + 1];
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir work(workParent.empty()
                           ? QDir::tempPath() + "/bench_extraction-XXXXXX"
                           : QString::fromStdString(workParent) + "/bench_extraction-XXXXXX");
    if (!work.isValid()) {
        std::fprintf(stderr, "no work directory\n");
        return 1;
    }
    const std::string dir = work.path().toStdString();
    const std::string self = QCoreApplication::applicationFilePath().toStdString();

    std::printf("generating packages in %s ...\n", dir.c_str());
    std::fflush(stdout);
    Content content(0x5EED);

    // (a) 2000 files, 200 MiB in all, sizes from a quarter to 1.75 times the mean, and the
    // executable.
    std::vector<std::string> many;
    QDir().mkpath(QString::fromStdString(dir + "/src-a"));
    const std::uint64_t totalA = 200 * MiB;
    const int files = 2000;
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

    // (b) one file of 512 MiB.
    QDir().mkpath(QString::fromStdString(dir + "/src-b"));
    writeGenerated(dir + "/src-b/Vantra.exe", 512 * MiB, content);
    buildArchive(dir + "/b.zip", {"Vantra.exe"}, dir + "/src-b");
    QDir(QString::fromStdString(dir + "/src-b")).removeRecursively();

    std::printf("(a) %d files, %.0f MiB -> %.1f MiB deflated\n", files, totalA / double(MiB),
                fileSize(dir + "/a.zip") / double(MiB));
    std::printf("(b) 1 file, 512 MiB -> %.1f MiB deflated\n",
                fileSize(dir + "/b.zip") / double(MiB));

    compare("(a) 2000 files, 200 MiB", dir + "/a.zip", dir, rounds, self);
    compare("(b) one 512 MiB file", dir + "/b.zip", dir, rounds, self);
    return 0;
}
