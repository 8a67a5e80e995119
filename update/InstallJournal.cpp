#include "InstallJournal.h"

#include "Exception.h"

#include <string_view>

namespace {

// One record a line, its fields separated by tabs; a path is UTF-8 relative
// to the Product directory, with "%", tab and line breaks escaped.
std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            static const char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[static_cast<unsigned char>(c) >> 4];
            out += hex[static_cast<unsigned char>(c) & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

bool unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        auto digit = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        };
        int high = digit(text[i + 1]), low = digit(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high << 4 | low);
        i += 2;
    }
    return true;
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    for (std::size_t start = 0;;) {
        std::size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos)
            return out;
        start = tab + 1;
    }
}

// Only names below the directory: a damaged or planted journal must not make
// a recovery delete or move anything elsewhere.
bool pathBelow(const platform::Path& base, std::string_view field, platform::Path& path) {
    std::string text;
    if (!unescape(field, text) || text.empty())
        return false;
    platform::Path relative(utf8ToUtf16(text));
    if (relative.is_absolute() || relative.has_root_name() || relative.has_root_directory())
        return false;
    for (const platform::Path& part : relative)
        if (part == ".." || part == ".")
            return false;
    path = base / relative;
    return true;
}

} // namespace

platform::Path InstallJournal::pathIn(const platform::Path& productDirectory) {
    return productDirectory / fileName;
}

namespace {

platform::File createJournal(const platform::Path& path) {
    try {
        return platform::File::createLocked(path);
    } catch (const std::exception& e) {
        throw Exception(u"Cannot create file \"" + path.u16string() + u"\". " + messageOf(e));
    }
}

} // namespace

InstallJournal::InstallJournal(const platform::Path& productDirectory)
    : directory_(productDirectory), path_(pathIn(productDirectory)), file_(createJournal(path_)) {}

std::string InstallJournal::relative(const platform::Path& path) const {
    return escape(utf16ToUtf8(path.lexically_relative(directory_).u16string()));
}

void InstallJournal::append(const std::string& lines, bool flush) {
    std::lock_guard lock(mutex_);
    file_.write(lines.data(), lines.size());
    if (flush)
        file_.flush();
}

void InstallJournal::temporary(const platform::Path& path) {
    append("tmp\t" + relative(path) + "\n", false);
}

void InstallJournal::directory(const platform::Path& path) {
    append("dir\t" + relative(path) + "\n", false);
    std::lock_guard lock(mutex_);
    directories_.push_back(path);
}

void InstallJournal::beginMoves(const std::vector<Move>& moves) {
    beginMoves(moves.size(), [&moves](std::size_t i) { return moves[i]; });
}

void InstallJournal::beginMoves(std::size_t count, const std::function<Move(std::size_t)>& moveAt) {
    std::string lines;
    for (std::size_t i = 0; i < count; ++i) {
        const Move move = moveAt(i);
        // Appended piece by piece: "\t" + a temporary string trips a false
        // -Wrestrict in GCC 12.
        lines += "move\t";
        lines += relative(move.target);
        lines += '\t';
        lines += relative(move.staged);
        if (!move.backup.empty()) {
            lines += '\t';
            lines += relative(move.backup);
        }
        lines += '\n';
    }
    append(lines + "begin\n", true);
}

void InstallJournal::installed() {
    append("installed\n", true);
}

void InstallJournal::remove() {
    file_.deleteAndClose(path_);
}

InstallJournal::Record InstallJournal::parse(const std::string& text,
                                             const platform::Path& productDirectory) {
    Record record;
    std::vector<Move> planned;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            break; // the last line was being written
        std::vector<std::string_view> f = fields(std::string_view(text).substr(start, end - start));
        start = end + 1;
        platform::Path a, b, c;
        if (f[0] == "tmp" && f.size() == 2 && pathBelow(productDirectory, f[1], a)) {
            record.temporaries.push_back(a);
        } else if (f[0] == "dir" && f.size() == 2 && pathBelow(productDirectory, f[1], a)) {
            record.directories.push_back(a);
        } else if (f[0] == "move" && (f.size() == 3 || f.size() == 4) &&
                   pathBelow(productDirectory, f[1], a) && pathBelow(productDirectory, f[2], b) &&
                   (f.size() == 3 || pathBelow(productDirectory, f[3], c))) {
            planned.push_back({a, b, c});
        } else if (f[0] == "begin" && f.size() == 1) {
            record.movesBegun = true;
            record.moves = std::move(planned);
            planned.clear();
        } else if (f[0] == "installed" && f.size() == 1 && record.movesBegun) {
            record.installed = true;
        } else {
            break;
        }
    }
    return record;
}
