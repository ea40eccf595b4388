#include "platform/TextEncoding.h"

#include <iconv.h>

#include <cerrno>
#include <optional>

namespace qr {
namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The whole input converted, or nothing: without "//TRANSLIT" or "//IGNORE" iconv stops at the
    // first byte sequence it cannot take.
    std::optional<std::string> Convert(std::string_view in) {
        std::string out(in.size() * 4 + 16, '\0');
        char* inPtr = const_cast<char*>(in.data());
        size_t inLeft = in.size();
        char* outPtr = out.data();
        size_t outLeft = out.size();
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return std::nullopt;
        if (iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) return std::nullopt;
        out.resize(out.size() - outLeft);
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

// Two steps, as on Windows: decoding tells ill-formed UTF-8 from characters code page 949 lacks.
Cp949Conversion Utf8ToCp949(std::string_view utf8, std::string& cp949) {
    cp949.clear();
    if (utf8.empty()) return Cp949Conversion::Converted;
    Converter decode("UTF-32LE", "UTF-8");
    Converter encode("CP949", "UTF-32LE");
    // Without the converters nothing can be shown to be the intended name.
    if (!decode.ok() || !encode.ok()) return Cp949Conversion::NoCp949Form;
    std::optional<std::string> wide = decode.Convert(utf8);
    if (!wide) return Cp949Conversion::NotUtf8;
    std::optional<std::string> out = encode.Convert(*wide);
    if (!out) return Cp949Conversion::NoCp949Form;
    cp949 = std::move(*out);
    return Cp949Conversion::Converted;
}

}  // namespace qr
