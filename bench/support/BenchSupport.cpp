#include "BenchSupport.h"

#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

Content::Content(std::uint64_t seed) : state_(seed | 1) {
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

void Content::fill(std::vector<char>& block) {
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

std::uint64_t Content::next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
}

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

Run runChild(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execv(args[0], args.data());
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    Run run;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        run.output.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
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

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}
