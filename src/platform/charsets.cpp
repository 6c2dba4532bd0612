#include "platform/charsets.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <memory>

namespace {

struct Converter {
    iconv_t handle = reinterpret_cast<iconv_t>(-1);
    explicit Converter(const std::string& from) : handle(iconv_open("UTF-8", from.c_str())) {}
    ~Converter() {
        if (ok()) iconv_close(handle);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return handle != reinterpret_cast<iconv_t>(-1); }
};

}  // namespace

bool convertToUtf8(const std::string& charset, std::string_view text, std::string& out) {
    Converter converter(charset);
    if (!converter.ok()) return false;
    std::string result;
    result.reserve(text.size() + text.size() / 2);
    // iconv takes a non-const input pointer but does not write through it.
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    std::array<char, 16384> block;
    while (inLeft > 0) {
        char* o = block.data();
        size_t outLeft = block.size();
        const size_t done = iconv(converter.handle, &in, &inLeft, &o, &outLeft);
        result.append(block.data(), block.size() - outLeft);
        if (done != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // An invalid or incomplete sequence: one replacement character, and on.
        result.append("\xEF\xBF\xBD");
        ++in;
        --inLeft;
        iconv(converter.handle, nullptr, nullptr, nullptr, nullptr);
    }
    out = std::move(result);
    return true;
}
