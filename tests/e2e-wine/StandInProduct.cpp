// Stands in for the product under wine, built in two versions.
//
// Version 1, the installed one, is running when the update starts. It says so
// in started.txt in its working directory, then only waits: ending on its own
// gives exit code 3, so 0 can only come from a termination request.
//
// Version 2, the packaged one, records how it was started in launched.txt in
// its working directory, one item a line: that directory, the number of
// arguments after its own name, the show command of its start-up information
// (ShellExecuteW passes its own there), and its executable's path. Then it ends.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>

#include <string>

#ifndef STAND_IN_VERSION
#error "STAND_IN_VERSION must be 1 or 2"
#endif

namespace {

void writeMarker(const wchar_t* name, const std::wstring& text) {
    // UTF-8, lines ending in CRLF as Windows programs write them.
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          size, nullptr, nullptr);
    // Written under a temporary name and renamed, so that a reader never sees half of it.
    std::wstring temporary = std::wstring(name) + L".tmp";
    HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    ::MoveFileExW(temporary.c_str(), name, MOVEFILE_REPLACE_EXISTING);
}

// Only the new version reports where it was started.
[[maybe_unused]] std::wstring currentDirectory() {
    wchar_t buffer[MAX_PATH];
    DWORD length = ::GetCurrentDirectoryW(MAX_PATH, buffer);
    return std::wstring(buffer, length);
}

} // namespace

int main() {
#if STAND_IN_VERSION == 1
    writeMarker(L"started.txt", std::to_wstring(::GetCurrentProcessId()) + L"\r\n");
    ::Sleep(600000);
    return 3;
#else
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    ::LocalFree(argv);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    long show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
    wchar_t self[MAX_PATH];
    DWORD selfLength = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    writeMarker(L"launched.txt", currentDirectory() + L"\r\n" + std::to_wstring(argc - 1) +
                                     L"\r\n" + std::to_wstring(show) + L"\r\n" +
                                     std::wstring(self, selfLength) + L"\r\n");
    return 0;
#endif
}
