// Stands in for the game executable in tests and the demo: records the command line it was given
// and the directory it runs in, then exits. The record goes to the file named by
// QUORVEL_STANDIN_OUTPUT, or to "standin-launch.txt" beside the executable.
// Format (UTF-8): "commandline=<text>\n" and "directory=<text>\n", the command line verbatim.
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring OutputPath() {
    std::vector<wchar_t> buffer(32768);
    DWORD length = GetEnvironmentVariableW(L"QUORVEL_STANDIN_OUTPUT", buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length > 0 && length < buffer.size()) return std::wstring(buffer.data(), length);
    length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    const size_t slash = path.find_last_of(L"\\/");
    path.erase(slash == std::wstring::npos ? 0 : slash + 1);
    return path + L"standin-launch.txt";
}

std::wstring CurrentDirectory() {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    return std::wstring(buffer.data(), length < buffer.size() ? length : 0);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int count = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string out(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), count, nullptr, nullptr);
    return out;
}

// Written under a temporary name and moved into place, so a reader never sees half a record.
bool WriteRecord(const std::wstring& path, const std::string& record) {
    const std::wstring temp = path + L".part";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != record.size()) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string record =
        "commandline=" + Utf8(GetCommandLineW()) + "\n" + "directory=" + Utf8(CurrentDirectory()) + "\n";
    return WriteRecord(OutputPath(), record) ? 0 : 1;
}
