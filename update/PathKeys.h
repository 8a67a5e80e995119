#pragma once

#include "Platform.h"

#include <QHash>
#include <QString>

#include <unordered_set>

// A path as a file system that ignores case compares it, so that a rule about
// names also holds where names are not case-sensitive.
inline QString pathKey(const platform::Path& path) {
    return QString::fromStdU16String(path.lexically_normal().u16string()).toCaseFolded();
}

// A set of such paths that keeps only their hashes, a few bytes per entry of a
// large package: fit where a false "contains" merely makes a caller choose
// another name.
class PathHashes {
public:
    void add(const platform::Path& path) { hashes_.insert(qHash(pathKey(path))); }
    bool contains(const platform::Path& path) const {
        return hashes_.count(qHash(pathKey(path))) > 0;
    }

private:
    std::unordered_set<std::size_t> hashes_;
};
