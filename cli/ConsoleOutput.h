// Console output of the headless patcher: the launcher's CP949 texts shown as UTF-8 (or as wide
// text on a Windows console), and a progress line that is rewritten in place only on a terminal.
#pragma once

#include <string>

namespace qr {

class ConsoleOutput {
public:
    ConsoleOutput();
    bool isTerminal() const { return terminal_; }
    // Prints one line of CP949 text (ending any progress line first).
    void Line(const std::string& cp949Text);
    // Replaces the progress line on a terminal; ignored otherwise.
    void Progress(const std::string& cp949Text);

private:
    void Write(const std::string& cp949Text);
    bool terminal_;
    bool progressShown_ = false;
};

std::string Cp949ToUtf8(const std::string& text);

}  // namespace qr
