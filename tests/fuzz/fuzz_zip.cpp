// The whole extraction on arbitrary packages: it may refuse them, but it must
// not crash, and nothing may be written outside the Product directory.

#include "Descompactador.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// <temp>/fuzz-zip-XXXXXX/1/2/3/product/ is the Product directory: the levels
// above it must hold nothing else, so that an entry climbing out shows.
const fs::path& sandbox() {
    static const fs::path root = [] {
        std::string pattern = (fs::temp_directory_path() / "fuzz-zip-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return fs::path(pattern);
    }();
    return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const fs::path above = sandbox() / "1" / "2" / "3";
    const fs::path product = above / "product";
    fs::create_directories(product);
    {
        std::ofstream package(product / "Vantra.zip", std::ios::binary);
        package.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    }
    try {
        DescompactarPacote(QString::fromStdString(product.string() + "/"));
    } catch (const std::exception&) {
        // refused: fine
    }
    // Each level from the sandbox down holds the next one only.
    fs::path level = sandbox();
    for (const char* next : {"1", "2", "3", "product"}) {
        for (const auto& entry : fs::directory_iterator(level))
            if (entry.path().filename() != next) {
                std::fprintf(stderr, "written outside the Product directory: %s\n",
                             entry.path().c_str());
                std::abort();
            }
        level /= next;
    }
    fs::remove_all(sandbox() / "1");
    return 0;
}
