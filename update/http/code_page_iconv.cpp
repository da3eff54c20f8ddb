#include "code_page_iconv.h"

#include <iconv.h>

#include <stdexcept>
#include <string>

namespace korvane::http {

namespace {

class Converter {
public:
    explicit Converter(const char* from) : cd_(iconv_open("UTF-16LE", from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error(std::string("iconv does not know ") + from);
        }
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // The code's bytes, when they convert completely into one UTF-16 unit.
    std::optional<char16_t> Decode(std::uint16_t code) {
        char in[2];
        std::size_t in_left = 0;
        if (code >= 0x100) in[in_left++] = static_cast<char>(code >> 8);
        in[in_left++] = static_cast<char>(code & 0xFF);
        unsigned char out[8];
        char* in_ptr = in;
        char* out_ptr = reinterpret_cast<char*>(out);
        std::size_t out_left = sizeof out;

        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        const std::size_t done = iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left);
        const bool flushed =
            iconv(cd_, nullptr, nullptr, &out_ptr, &out_left) != static_cast<std::size_t>(-1);
        if (done == static_cast<std::size_t>(-1) || !flushed || in_left != 0 ||
            sizeof out - out_left != 2) {
            return std::nullopt;
        }
        return static_cast<char16_t>(out[0] | out[1] << 8);
    }

private:
    iconv_t cd_;
};

}  // namespace

CodePage MakeIconvCodePage(const char* name) {
    Converter converter(name);
    return CodePage([&](std::uint16_t code) { return converter.Decode(code); });
}

}  // namespace korvane::http
