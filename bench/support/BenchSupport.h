#pragma once

// What the benchmarks share: generated packages that deflate like a real
// product, and child processes timed with their peak memory.

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint64_t MiB = 1024 * 1024;

// Content that deflates like a real product: text-like blocks from a skewed
// vocabulary, code-like blocks over a small alphabet, and some noise.
class Content {
public:
    explicit Content(std::uint64_t seed);
    void fill(std::vector<char>& block);

private:
    std::uint64_t next();
    std::uint64_t state_;
    std::vector<std::string> words_;
    unsigned char alphabet_[64];
};

void writeGenerated(const std::string& path, std::uint64_t size, Content& content);

// Deflated at libzip's default level, from files generated under `source`.
void buildArchive(const std::string& archive, const std::vector<std::string>& names,
                  const std::string& source);

struct Run {
    double seconds = 0;
    long maxRssKiB = 0;
    std::string output; // its standard output
};

// Runs the program to its end (exits on failure); wall time and peak RSS
// from wait4().
Run runChild(const std::vector<std::string>& argv);

double median(std::vector<double> v);
long fileSize(const std::string& path);
