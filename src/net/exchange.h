// The fetch exchange: the one record the GUI and the network thread share.
// Access is ordered by the task signals: the GUI writes the request only while no
// fetch is pending and reads the results only after the done signal.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "url/url.h"

enum FetchStatus : int32_t {
    FETCH_PAGE = 0,
    FETCH_INPUT = 1,
    FETCH_DOWNLOAD = 2,
    FETCH_REDIRECT = 3,
    FETCH_CERTIFICATE = 4,
    FETCH_NETWORK_ERROR = 5,
    FETCH_SERVER_ERROR = 6,
    FETCH_ERROR = 7,
};

inline constexpr int PROMPT_SIZE = 128;
inline constexpr int ERROR_TEXT_SIZE = 1028;

// The error record of one fetch: a text and a kind (0 none, else 5, 6 or 7).
struct FetchError {
    char errorText[ERROR_TEXT_SIZE] = {};
    int32_t errorKind = 0;
};

// The proxy settings as they stood when the fetch was started.
struct ProxyRoute {
    bool useGemProxy = false;
    bool gemProxyAll = false;
    char gemProxyHost[64] = {};
    int32_t gemProxyPort = 0;
};

struct FetchExchange {
    UrlRecord request;
    ProxyRoute proxy;
    int32_t status = FETCH_PAGE;
    // The result text: either resultBlock (the GUI takes it over) or the error text.
    const char* result = nullptr;
    std::unique_ptr<char[]> resultBlock;
    size_t resultLength = 0;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> quitRequested{false};
    char prompt[PROMPT_SIZE] = {};
    char redirectTarget[URL_MAX + 1] = {};
    FetchError error;
    std::string downloadName;
    bool downloadAccepted = false;
    std::atomic<bool> networkAvailable{false};
    std::atomic<bool> tlsAvailable{false};
};

// The program's exchange.
FetchExchange& fetchExchange();

// The three error setters; each overwrites what an earlier call wrote.
void setFetchError(FetchError& error, const char* text);    // kind 7, "%s"
void setNetworkError(FetchError& error, const char* text);  // kind 5, "Network error: %s"
void setServerError(FetchError& error, const char* text);   // kind 6, "Server error: %s"
void clearFetchError(FetchError& error);
