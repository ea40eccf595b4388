#include <windows.h>

#include <cstdio>

#include "cli/ConsoleOutput.h"
#include "common/SafeName.h"
#include "platform/Cp949_win.h"

namespace qr {
namespace {

bool StdoutIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace

std::string Cp949ToUtf8(const std::string& text) {
    const std::wstring wide = WidenCp949(text);
    if (wide.empty()) return {};
    int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), count, nullptr, nullptr);
    return out;
}

ConsoleOutput::ConsoleOutput() : terminal_(StdoutIsConsole()) {}

void ConsoleOutput::Write(const std::string& cp949Text) {
    if (terminal_) {
        // The console shows wide text right whatever its code page.
        const std::wstring wide = WidenCp949(cp949Text);
        DWORD written = 0;
        WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const std::string utf8 = Cp949ToUtf8(cp949Text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

void ConsoleOutput::Line(const std::string& cp949Text) {
    if (progressShown_) Write("\r" + std::string(79, ' ') + "\r");
    progressShown_ = false;
    Write(PrintableText(cp949Text) + "\n");
    std::fflush(stdout);
}

void ConsoleOutput::Progress(const std::string& cp949Text) {
    if (!terminal_) return;
    Write("\r" + std::string(79, ' ') + "\r" + PrintableText(cp949Text));
    progressShown_ = true;
}

}  // namespace qr
