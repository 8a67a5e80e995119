#pragma once

#include "Platform.h"

#include <string_view>

namespace platform {

// True when the entry's executable name, or its last component after the last
// '\' or ':', equals `wanted`, folding only the ASCII letters.
bool executableNameMatches(std::u16string_view exeFile, std::u16string_view wanted);

// At least one process of a fresh snapshot bears the name.
bool processRunning(ProcessTable& table, std::u16string_view name);

// Requests the termination of every process of a fresh snapshot that bears the
// name, in snapshot order, without waiting for any of them.
void terminateProcesses(ProcessTable& table, std::u16string_view name);

} // namespace platform
