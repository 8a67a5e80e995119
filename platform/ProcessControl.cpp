#include "ProcessControl.h"

namespace platform {

namespace {

char16_t upperAscii(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
}

bool equalFoldingAscii(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i]))
            return false;
    return true;
}

} // namespace

bool executableNameMatches(std::u16string_view exeFile, std::u16string_view wanted) {
    auto cut = exeFile.find_last_of(u"\\:");
    auto last = cut == std::u16string_view::npos ? exeFile : exeFile.substr(cut + 1);
    return equalFoldingAscii(last, wanted) || equalFoldingAscii(exeFile, wanted);
}

bool processRunning(ProcessTable& table, std::u16string_view name) {
    bool found = false;
    // The whole snapshot is walked, as the system's walk does.
    table.forEachProcess([&](const ProcessEntry& entry) {
        if (executableNameMatches(entry.exeFile, name))
            found = true;
    });
    return found;
}

void terminateProcesses(ProcessTable& table, std::u16string_view name) {
    table.forEachProcess([&](const ProcessEntry& entry) {
        if (executableNameMatches(entry.exeFile, name))
            table.terminate(entry.processId);
    });
}

} // namespace platform
