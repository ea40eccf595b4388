// Archive entry names flagged as UTF-8 become paths in the launcher's code page 949 convention.
// The conversion is strict on both sides: nothing is replaced by a look-alike or a default
// character, so a converted name is exactly the name the archive meant, or there is none.
#pragma once

#include <string>
#include <string_view>

namespace qr {

enum class Cp949Conversion {
    Converted,
    NotUtf8,      // the bytes are not well-formed UTF-8
    NoCp949Form,  // well-formed, but some character has no code page 949 form
};

// On Converted, `cp949` holds the converted text; otherwise it is left empty.
Cp949Conversion Utf8ToCp949(std::string_view utf8, std::string& cp949);

}  // namespace qr
