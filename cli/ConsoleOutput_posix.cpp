#include <iconv.h>
#include <unistd.h>

#include <cstdio>

#include "cli/ConsoleOutput.h"
#include "common/SafeName.h"

namespace qr {

std::string Cp949ToUtf8(const std::string& text) {
    iconv_t cd = iconv_open("UTF-8", "CP949");
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;
    std::string out(text.size() * 3 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1)) {
            // An undecodable byte is shown as '?' rather than dropping the rest of the line.
            if (outLeft == 0) break;
            *dst++ = '?';
            --outLeft;
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

ConsoleOutput::ConsoleOutput() : terminal_(isatty(STDOUT_FILENO) != 0) {}

void ConsoleOutput::Write(const std::string& cp949Text) {
    const std::string utf8 = Cp949ToUtf8(cp949Text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

void ConsoleOutput::Line(const std::string& cp949Text) {
    if (progressShown_) std::fputs("\r\033[K", stdout);
    progressShown_ = false;
    Write(PrintableText(cp949Text) + "\n");
    std::fflush(stdout);
}

void ConsoleOutput::Progress(const std::string& cp949Text) {
    if (!terminal_) return;
    std::fputs("\r\033[K", stdout);
    Write(PrintableText(cp949Text));
    progressShown_ = true;
    std::fflush(stdout);
}

}  // namespace qr
