// Protocol knowledge of the fetch driver: the request text of each scheme and route,
// and the decision on the first bytes of a response.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/exchange.h"
#include "url/url.h"

// Block sizes of the request texts (terminating NUL included); a longer text is cut
// so that it fits its block.
inline constexpr size_t REQUEST_SIZE_GEMINI = 331;
inline constexpr size_t REQUEST_SIZE_SPARTAN = 340;
inline constexpr size_t REQUEST_SIZE_GOPHER_PROXY = 328;
inline constexpr size_t REQUEST_SIZE_FINGER_PROXY = 336;
inline constexpr size_t REQUEST_SIZE_NEX_PROXY = 333;
inline constexpr size_t REQUEST_SIZE_PLAIN_DIRECT = 258;  // gopher, finger and nex, direct
inline constexpr size_t REQUEST_SIZE_HTTP_PROXY = 369;
inline constexpr size_t REQUEST_SIZE_HTTP_DIRECT = 363;

// The request text for request, sent direct or to the proxy service (viaProxy).
// Its length is at most the row's block size minus one.
std::string buildRequest(const UrlRecord& request, bool viaProxy);

// Decides on the response received so far: buffer holds total bytes (it may hold
// NULs and need not be terminated; nothing at or past total is read). Returns a
// fetch status, FETCH_SERVER_ERROR meaning "not (yet) understood". headerLength
// receives the bytes before the body (0 for gopher, finger and nex), contentLength
// the HTTP body length (0 when not sent or not readable). The header text is read
// up to its first NUL byte. Writes the exchange's prompt, redirectTarget and error
// record as the answer requires.
int classifyResponse(FetchExchange& exchange, const char* buffer, size_t total, const UrlRecord& request,
                     size_t& headerLength, int64_t& contentLength);

// The per-protocol header checks used by classifyResponse, with the same arguments.
int checkGeminiHeader(FetchExchange& exchange, const char* buffer, size_t total, const UrlRecord& request,
                      size_t& headerLength, int64_t& contentLength);
int checkSpartanHeader(FetchExchange& exchange, const char* buffer, size_t total, const UrlRecord& request,
                       size_t& headerLength, int64_t& contentLength);
int checkHttpHeader(FetchExchange& exchange, const char* buffer, size_t total, const UrlRecord& request,
                    size_t& headerLength, int64_t& contentLength);
