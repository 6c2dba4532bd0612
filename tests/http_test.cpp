// HTTP framing: chunked bodies however their bytes arrive, and the header that
// announces them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "net/http.h"

namespace {

// Decodes the pieces in turn until one is refused; ok tells whether none was.
std::string decodeAll(const std::vector<std::string>& pieces, bool& ok) {
    ChunkedDecoder decoder;
    std::string out;
    ok = true;
    for (const std::string& piece : pieces) {
        ok = chunkedDecode(decoder, piece.data(), piece.size(), [&](const char* bytes, size_t n) {
            out.append(bytes, n);
            return true;
        });
        if (!ok) break;
    }
    return out;
}

TEST(HttpChunked, FramingsSplitAnywhere) {
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"5\r\nhello\r\nA;ext=\"1\"\r\n, world!!\n\r\n1\r\n.\r\n0\r\nX-T: y\r\n\r\nGARBAGE", true,
         "hello, world!!\n."},
        {"1A\r\n" + std::string(26, 'q') + "\r\n0\r\n\r\n", true, std::string(26, 'q')},  // upper-case hex
        {"3\nabc\n0\n\n", true, "abc"},                                                   // bare line feeds
        {"4\r\n\r\n\r\n\r\n0\r\n\r\n", true, "\r\n\r\n"},                                 // CRLF inside data
        {"\r\nabc", false, ""},                                                           // no size
        {"g\r\n", false, ""},
        {"2\r\nabc\r\n", false, "ab"},         // data longer than its size
        {"FFFFFFFFFFFFFFFFF\r\n", false, ""},  // size overflows 64 bits
    };
    // The same body and verdict however the bytes arrive, in three pieces (empty ones included).
    for (const auto& [framed, accepted, body] : cases) {
        for (size_t a = 0; a <= framed.size(); ++a) {
            for (size_t b = a; b <= framed.size(); b += 3) {
                bool ok = false;
                const std::string out =
                    decodeAll({framed.substr(0, a), framed.substr(a, b - a), framed.substr(b)}, ok);
                ASSERT_EQ(out, body) << framed << " split at " << a << "," << b;
                ASSERT_EQ(ok, accepted) << framed << " split at " << a << "," << b;
            }
        }
    }
}

TEST(HttpChunked, HeaderDetection) {
    const std::pair<const char*, bool> cases[] = {
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\ntransfer-encoding: gzip, Chunked\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunkedx\r\n\r\n", false},
        {"HTTP/1.1 200 OK\r\nX-Note: Transfer-Encoding: chunked\r\n\r\n", false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", false},
    };
    for (const auto& [header, chunked] : cases)
        EXPECT_EQ(netHeaderIsChunked(header, std::strlen(header)), chunked) << header;
}

}  // namespace
