#include "net/fetch.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "net/http.h"
#include "net/known_hosts.h"
#include "net/protocol.h"
#include "net/tls.h"
#include "page/stringlist.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "platform/task.h"
#include "text/locale.h"
#include "ui/ui.h"

namespace {

constexpr const char* USER_STOP = "User stop";

// Gives up a lookup and connect that take longer than this together.
constexpr int CONNECT_TIMEOUT_MS = NET_CONNECT_TIMEOUT_MS;

bool stopped(const FetchExchange& exchange) {
    return exchange.stopRequested.load(std::memory_order_acquire);
}

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The path stored in an upload body: its bytes up to the first NUL.
std::string uploadPath(const NetBuffer& body) {
    const char* start = body.data.data();
    size_t size = body.data.size();
    const void* nul = size > 0 ? std::memchr(start, '\0', size) : nullptr;
    size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - start) : size;
    return std::string(start, length);
}

bool isHttpScheme(int32_t scheme) {
    switch (scheme) {
        case SCHEME_GEMINI:
        case SCHEME_SPARTAN:
        case SCHEME_GOPHER:
        case SCHEME_FINGER:
        case SCHEME_NEX:
            return false;
        default:
            return true;
    }
}

// The connection of one fetch: the socket and, on a TLS route, the session over it.
// The session is declared last so that it goes before the socket.
struct Connection {
    SocketHandle socket;
    int breakFd = -1;
    bool secure = false;
    TlsConnection tls;

    // One send of the whole text; true when every byte went out.
    bool sendRequest(const std::string& text) {
        long sent = secure ? tlsWrite(tls, text.data(), text.size(), breakFd)
                           : netSend(socket.get(), text.data(), text.size(), breakFd);
        return sent == static_cast<long>(text.size());
    }
    // Up to length bytes; > 0 bytes, 0 when the peer closed, < 0 on an error or a break.
    long receive(char* buffer, size_t length) {
        return secure ? tlsRead(tls, buffer, length, breakFd)
                      : netReceive(socket.get(), buffer, length, breakFd);
    }
    void close() {
        tlsClose(tls);
        socket.reset();
    }
};

// Sends an upload file after the request line: read and send in 8192-byte pieces
// until length bytes went out. A file that cannot be opened, or that ends early or
// fails to read, fails the request: its length is already announced.
bool sendUploadFile(FetchExchange& exchange, int socket, const NetBuffer& body) {
    int64_t remaining = body.length > 0 ? body.length : 0;
    if (remaining == 0) return true;
    FileHandle file(std::fopen(uploadPath(body).c_str(), "rb"));
    if (!file) return false;
    std::array<char, NET_UPLOAD_PIECE> block;
    while (remaining > 0) {
        if (stopped(exchange)) return false;
        size_t want = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(block.size())));
        size_t got = std::fread(block.data(), 1, want, file.get());
        if (got == 0) return false;
        remaining -= static_cast<int64_t>(got);
        if (!sendAll(exchange, socket, block.data(), got, NET_UPLOAD_PIECE)) return false;
    }
    return true;
}

bool sendBody(FetchExchange& exchange, int socket, const NetBuffer& body) {
    if (body.type == NETBUF_TEXT) {
        size_t length = body.length > 0 ? static_cast<size_t>(body.length) : 0;
        length = std::min(length, body.data.size());
        return sendAll(exchange, socket, body.data.data(), length, NET_TEXT_BODY_PIECE);
    }
    if (body.type == NETBUF_UPLOAD) return sendUploadFile(exchange, socket, body);
    return true;
}

// Where a download's body bytes go: the file (which takes the place of the one the
// user named only when the whole download arrived), through the chunked decoder when
// the server framed the body.
struct DownloadSink {
    PendingFile file;
    bool open = false;
    bool chunked = false;
    ChunkedDecoder decoder;
    bool framingBad = false;

    bool writeRaw(const char* bytes, size_t count) {
        return count == 0 || pendingFileWrite(file, bytes, count);
    }
    // False on a short write (framingBad tells a broken chunked frame apart).
    bool write(const char* bytes, size_t count) {
        if (!chunked) return writeRaw(bytes, count);
        bool writeFailed = false;
        bool ok = chunkedDecode(decoder, bytes, count, [&](const char* data, size_t n) {
            if (writeRaw(data, n)) return true;
            writeFailed = true;
            return false;
        });
        if (!ok && !writeFailed) framingBad = true;
        return ok;
    }
};

enum LoopEnd { END_NORMAL, END_OUT_OF_MEMORY, END_RECEIVE_ERROR, END_TOO_LARGE };

// Steps 7 and 8: the receive loop and what follows it. status holds the decision so far.
void receiveResponse(FetchExchange& exchange, Connection& connection, int32_t& status,
                     const DownloadHandOver& handOver) {
    const UrlRecord& request = exchange.request;
    std::unique_ptr<StringList> chunks = listNew();
    std::unique_ptr<char[]> headerBlock;
    DownloadSink download;
    // A download that cannot go on: broken chunk framing is the server's fault, a
    // short write the file's.
    auto reportWriteFailure = [&] {
        if (download.framingBad) {
            setNetworkError(exchange.error, messageText(MSG_ERR_RECEIVE));
        } else {
            setFetchError(exchange.error, messageText(MSG_ERR_WRITE_FILE));
        }
    };
    int64_t total = 0;
    bool headerDone = false;
    size_t headerLength = 0;
    int64_t contentLength = 0;
    uint32_t progressCounter = 0;
    LoopEnd end = END_NORMAL;
    exchange.downloadAccepted = false;

    std::array<char, NET_CHUNK_SIZE> buffer;
    long count = chunks ? connection.receive(buffer.data(), buffer.size()) : 0;
    if (!chunks) end = END_OUT_OF_MEMORY;
    bool leftEarly = false;
    while (count > 0) {
        size_t n = static_cast<size_t>(count);
        total += count;
        if (!headerDone) {
            clearFetchError(exchange.error);
            size_t joined = 0;
            if (listAppend(*chunks, buffer.data(), n) == nullptr ||
                !(headerBlock = listJoin(*chunks, std::numeric_limits<size_t>::max(), &joined))) {
                end = END_OUT_OF_MEMORY;
                leftEarly = true;
                break;
            }
            status =
                classifyResponse(exchange, headerBlock.get(), joined, request, headerLength, contentLength);
            if (status == FETCH_PAGE && exchange.options.asDownload) status = FETCH_DOWNLOAD;
            exchange.status = status;
            if (status == FETCH_SERVER_ERROR) {
                headerBlock.reset();
                if (total > static_cast<int64_t>(NET_HEADER_RETRY_LIMIT)) {
                    leftEarly = true;
                    break;
                }
            } else {
                headerDone = true;
                if (status == FETCH_DOWNLOAD) {
                    if (handOver) handOver(exchange);
                    if (!exchange.downloadAccepted) {
                        leftEarly = true;
                        break;
                    }
                    download.open = pendingFileOpen(download.file, exchange.downloadName);
                    if (!download.open) {
                        setFetchError(exchange.error, messageText(MSG_ERR_CREATE_FILE));
                        leftEarly = true;
                        break;
                    }
                    if (headerLength > joined) headerLength = joined;
                    download.chunked =
                        isHttpScheme(request.scheme) && netHeaderIsChunked(headerBlock.get(), headerLength);
                    bool written = download.write(headerBlock.get() + headerLength, joined - headerLength);
                    headerBlock.reset();
                    listFree(*chunks);
                    if (!written) {
                        reportWriteFailure();
                        leftEarly = true;
                        break;
                    }
                } else {
                    headerBlock.reset();
                }
            }
        } else if (download.open) {
            if (!download.write(buffer.data(), n)) {
                reportWriteFailure();
                leftEarly = true;
                break;
            }
            if (total > NET_PROGRESS_START) {
                if (progressCounter % NET_PROGRESS_EVERY == 0) {
                    char text[NET_PROGRESS_TEXT_SIZE];
                    netFormatProgress(text, total, contentLength);
                    setStatus(text);
                }
                progressCounter++;
            }
        } else if (listAppend(*chunks, buffer.data(), n) == nullptr) {
            end = END_OUT_OF_MEMORY;
            leftEarly = true;
            break;
        }
        // A page lives in memory, so it has a bound; a download streams and has none.
        if (headerDone && !download.open && total > static_cast<int64_t>(exchange.pageLimit)) {
            end = END_TOO_LARGE;
            leftEarly = true;
            break;
        }
        if (stopped(exchange)) {
            leftEarly = true;
            break;
        }
        count = connection.receive(buffer.data(), buffer.size());
    }
    if (!leftEarly && count < 0 && end == END_NORMAL) end = END_RECEIVE_ERROR;

    if (download.open) {
        // Only a download that arrived whole replaces the file; a stopped or failed
        // one leaves the old file as it was. A full disk may only show now, when the
        // buffered tail goes out.
        const bool whole = !leftEarly && count == 0 && end == END_NORMAL && exchange.error.errorKind == 0 &&
                           !stopped(exchange);
        if (!whole) {
            pendingFileDiscard(download.file);
        } else if (!pendingFileCommit(download.file)) {
            setFetchError(exchange.error, messageText(MSG_ERR_WRITE_FILE));
        }
        download.open = false;
    }
    exchange.downloadName.clear();
    exchange.downloadName.shrink_to_fit();

    if (end == END_TOO_LARGE) {
        exchange.pageTooLarge = true;
        setPageTooLargeError(exchange.error, messageText(MSG_ERR_PAGE_TOO_LARGE));
    } else if (end == END_OUT_OF_MEMORY) {
        setFetchError(exchange.error, messageText(MSG_ERR_MEMORY_RECEIVING));
    } else if (end == END_RECEIVE_ERROR) {
        setNetworkError(exchange.error, messageText(MSG_ERR_RECEIVE));
    } else if (status != FETCH_DOWNLOAD) {
        size_t length = 0;
        exchange.resultBlock = listJoin(*chunks, std::numeric_limits<size_t>::max(), &length);
        if (exchange.resultBlock) {
            exchange.resultLength = length;
        } else {
            setFetchError(exchange.error, messageText(MSG_ERR_MEMORY_AFTER_DOWNLOAD));
        }
    }
}

// The key a server showed, as a known-hosts entry for the request's host and port.
KnownHost seenKey(const UrlRecord& request, const TlsPeerKey& peer) {
    KnownHost seen;
    seen.host = request.host;
    lowercaseInPlace(seen.host.data());
    seen.port = request.port;
    seen.fingerprint = peer.fingerprint;
    seen.expires = peer.expires;
    return seen;
}

// The TLS handshake with the pin check: a key other than the pinned one ends the fetch
// with status 8 before the request (and before any identity is shown); a new host is
// pinned, and a renewal followed, once the handshake has completed.
bool secureConnection(FetchExchange& exchange, Connection& connection) {
    const UrlRecord& request = exchange.request;
    TlsConnectOptions options;
    options.withIdentity = !exchange.options.withoutIdentity;
    options.checkPeer = [&exchange, &request](const TlsPeerKey& peer) {
        KnownHost pinned;
        if (knownHostCheck(request.host, request.port, peer.fingerprint, &pinned) != KNOWN_HOST_CHANGED)
            return true;
        exchange.pinnedKey = pinned;
        exchange.seenKey = seenKey(request, peer);
        setCertificateChangedError(exchange.error,
                                   knownHostChangeText(exchange.pinnedKey, exchange.seenKey,
                                                       static_cast<int64_t>(std::time(nullptr)))
                                       .c_str());
        return false;
    };
    if (!tlsConnect(connection.tls, connection.socket.get(), request, exchange.error, connection.breakFd,
                    exchange.stopRequested, options)) {
        return false;
    }
    if (!connection.tls.peer.fingerprint.empty()) knownHostRemember(seenKey(request, connection.tls.peer));
    return true;
}

// Steps 3 to 8 on a connected socket.
void runFetch(FetchExchange& exchange, Connection& connection, bool viaProxy, int32_t& status,
              const DownloadHandOver& handOver) {
    const UrlRecord& request = exchange.request;
    if (connection.secure && !secureConnection(exchange, connection)) return;
    setStatus(messageText(MSG_STATUS_SENDING));
    bool sent = false;
    try {
        std::string text = buildRequest(request, viaProxy);
        if (!stopped(exchange)) sent = connection.sendRequest(text);
    } catch (const std::bad_alloc&) {
        sent = false;
    }
    if (sent && request.data) sent = sendBody(exchange, connection.socket.get(), *request.data);
    if (stopped(exchange) || !sent) {
        setNetworkError(exchange.error, messageText(MSG_ERR_SEND));
        return;
    }
    receiveResponse(exchange, connection, status, handOver);
}

}  // namespace

bool netRouteViaProxy(const UrlRecord& request, const ProxyRoute& proxy) {
    if (!proxy.useGemProxy) return false;
    switch (request.scheme) {
        case SCHEME_GEMINI:
        case SCHEME_HTTPS:
            return true;
        case SCHEME_GOPHER:
        case SCHEME_FINGER:
        case SCHEME_NEX:
        case SCHEME_SPARTAN:
        case SCHEME_HTTP:
            return proxy.gemProxyAll;
        default:
            return false;
    }
}

bool netRouteWantsTls(const UrlRecord& request, const ProxyRoute& proxy) {
    return (request.scheme == SCHEME_GEMINI || request.scheme == SCHEME_HTTPS) &&
           !netRouteViaProxy(request, proxy);
}

int connectToServer(FetchExchange& exchange, const char* host, int port) {
    int breakFd = taskBreakDescriptor(taskCurrent());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CONNECT_TIMEOUT_MS);
    setStatus(messageText(MSG_STATUS_DNS_LOOKUP));
    std::vector<NetAddress> addresses;
    NetResult found = NET_BROKEN;
    try {
        if (!stopped(exchange)) found = netLookup(host, port, breakFd, CONNECT_TIMEOUT_MS, &addresses);
    } catch (const std::bad_alloc&) {
        found = NET_ERROR;
    }
    if (found != NET_OK) {
        setNetworkError(exchange.error, messageText(MSG_ERR_DNS_FAILED));
        return -1;
    }
    setStatus(messageText(MSG_STATUS_CONNECTING));
    int fd = -1;
    if (!stopped(exchange)) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        int leftMs = static_cast<int>(std::max<long long>(0, left.count()));
        fd = netConnectAddresses(addresses, breakFd, leftMs, nullptr);
    }
    if (fd < 0) {
        setNetworkError(exchange.error, messageText(MSG_ERR_CANNOT_CONNECT));
        return -1;
    }
    return fd;
}

bool sendAll(FetchExchange& exchange, int socket, const char* data, size_t length, size_t piece) {
    if (piece == 0) return length == 0;
    int breakFd = taskBreakDescriptor(taskCurrent());
    size_t sent = 0;
    while (sent < length) {
        if (stopped(exchange)) return false;
        size_t n = std::min(piece, length - sent);
        if (netSend(socket, data + sent, n, breakFd) != static_cast<long>(n)) return false;
        sent += n;
    }
    return true;
}

const char* netGetFile(FetchExchange& exchange, int32_t& status, const DownloadHandOver& handOver) {
    clearFetchError(exchange.error);
    status = FETCH_PAGE;
    exchange.status = FETCH_PAGE;
    exchange.resultBlock.reset();
    exchange.resultLength = 0;
    exchange.result = nullptr;
    exchange.pinnedKey = KnownHost{};
    exchange.seenKey = KnownHost{};
    exchange.pageTooLarge = false;
    exchange.sensitivePrompt = false;

    const UrlRecord& request = exchange.request;
    bool viaProxy = netRouteViaProxy(request, exchange.proxy);
    const char* host = viaProxy ? exchange.proxy.gemProxyHost : request.host;
    int port = viaProxy ? exchange.proxy.gemProxyPort : request.port;

    Connection connection;
    connection.breakFd = taskBreakDescriptor(taskCurrent());
    connection.secure = netRouteWantsTls(request, exchange.proxy);
    connection.socket.reset(connectToServer(exchange, host, port));
    if (connection.socket) runFetch(exchange, connection, viaProxy, status, handOver);
    connection.close();

    if (stopped(exchange)) setFetchError(exchange.error, USER_STOP);
    if (exchange.error.errorKind != 0) {
        exchange.resultBlock.reset();
        status = exchange.error.errorKind;
        exchange.result = exchange.error.errorText;
        exchange.resultLength = std::strlen(exchange.error.errorText);
    } else {
        exchange.result = exchange.resultBlock.get();
        if (!exchange.result) exchange.resultLength = 0;
    }
    exchange.status = status;
    return exchange.result;
}

int64_t netProgressPercent(int64_t total, int64_t contentLength) {
    if (contentLength <= 0 || total <= 0) return 0;
    constexpr int64_t maximum = std::numeric_limits<int64_t>::max();
    int64_t whole = total / contentLength;
    if (whole > maximum / 100 - 1) return maximum;
    // rest × 100 / contentLength by repeated addition: rest < contentLength, so the
    // running remainder never passes 2 × 2^63 in unsigned arithmetic.
    uint64_t rest = static_cast<uint64_t>(total % contentLength);
    uint64_t divisor = static_cast<uint64_t>(contentLength);
    uint64_t remainder = 0;
    int64_t part = 0;
    for (int i = 0; i < 100; ++i) {
        remainder += rest;
        if (remainder >= divisor) {
            remainder -= divisor;
            part++;
        }
    }
    return whole * 100 + part;
}

void netFormatProgress(char (&text)[NET_PROGRESS_TEXT_SIZE], int64_t total, int64_t contentLength) {
    // Formatted in full first, then cut to the status text's size.
    char full[96];
    if (contentLength > 0) {
        std::snprintf(full, sizeof full, "Bytes: %lld / %lld (%lld%%)", static_cast<long long>(total),
                      static_cast<long long>(contentLength),
                      static_cast<long long>(netProgressPercent(total, contentLength)));
    } else {
        std::snprintf(full, sizeof full, "Bytes: %lld", static_cast<long long>(total));
    }
    size_t length = std::min(std::strlen(full), sizeof text - 1);
    std::memcpy(text, full, length);
    text[length] = '\0';
}
