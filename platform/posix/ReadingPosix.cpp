#include "../Exception.h"
#include "../Platform.h"

#include <cerrno>
#include <sys/types.h>

namespace platform {

std::FILE* openForReading(const Path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file)
        throw Exception(u"Cannot open file \"" + path.u16string() + u"\". " +
                        systemErrorMessage(errno));
    return file;
}

bool seekTo(std::FILE* file, std::uint64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::u16string_view pathSeparators() {
    return u"/";
}

} // namespace platform
