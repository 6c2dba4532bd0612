// The fetch driver: one complete fetch for the network thread. It picks the route,
// connects (with TLS for a direct Gemini or HTTPS fetch), sends the request and any
// body, receives the response in 4096-byte chunks, recognises the header and keeps
// the response in memory, or streams a download to the file the GUI names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "net/exchange.h"
#include "url/url.h"

inline constexpr size_t NET_CHUNK_SIZE = 4096;          // one receive
inline constexpr size_t NET_HEADER_RETRY_LIMIT = 1029;  // bytes after which an unknown header is final
inline constexpr size_t NET_TEXT_BODY_PIECE = 1024;     // pieces of an in-memory body
inline constexpr size_t NET_UPLOAD_PIECE = 8192;        // pieces of a file upload
inline constexpr int64_t NET_PROGRESS_START = 65536;    // no progress text up to this total
inline constexpr int NET_PROGRESS_EVERY = 16;           // chunks between progress texts
inline constexpr size_t NET_PROGRESS_TEXT_SIZE = 32;

// The download hand-over: asks the GUI for a file name and returns once
// exchange.downloadAccepted and exchange.downloadName hold the answer.
using DownloadHandOver = std::function<void(FetchExchange& exchange)>;

// Runs one fetch of exchange.request along the route in exchange.proxy, made as
// exchange.options say. The calling task's break signal interrupts every blocking
// step; exchange.stopRequested ends the fetch with "User stop". On return
// exchange.status and status hold the fetch status and exchange.result the result
// text: resultBlock (resultLength bytes plus a NUL, header included) for a page,
// input, redirect or certificate answer, the error text for statuses 5-8, or null for
// a download. The request body is left in the record.
//
// A direct TLS fetch checks the server's key against the known hosts during the
// handshake: another key than the pinned one ends the fetch with FETCH_CERT_CHANGED
// (pinnedKey and seenKey filled) before a request byte is sent; a first contact is
// pinned. A page that grows past exchange.pageLimit ends as a network error with
// pageTooLarge set; downloads have no bound.
const char* netGetFile(FetchExchange& exchange, int32_t& status, const DownloadHandOver& handOver);

// True when the fetch goes to the proxy service instead of the record's host.
bool netRouteViaProxy(const UrlRecord& request, const ProxyRoute& proxy);
// True when the fetch needs TLS on its (direct) route.
bool netRouteWantsTls(const UrlRecord& request, const ProxyRoute& proxy);

// Looks host up and connects, showing the status texts as it goes. Returns the
// connected socket, or -1 after setting the network error (109 for the lookup, 108
// for the connection, or a stop).
int connectToServer(FetchExchange& exchange, const char* host, int port);

// Sends length bytes in pieces of at most piece bytes on the plain socket; stops early
// when the stop flag is set or a send fails. True when every byte went out.
bool sendAll(FetchExchange& exchange, int socket, const char* data, size_t length, size_t piece);

// total × 100 / contentLength in whole percent, without overflow for any 64-bit values
// (0 when contentLength is not positive).
int64_t netProgressPercent(int64_t total, int64_t contentLength);
// The progress text of a download ("Bytes: %d / %d (%d%%)" with a known length, else
// "Bytes: %d"), cut to NET_PROGRESS_TEXT_SIZE - 1 characters.
void netFormatProgress(char (&text)[NET_PROGRESS_TEXT_SIZE], int64_t total, int64_t contentLength);
