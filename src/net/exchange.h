// The fetch exchange: the one record the GUI and the network thread share.
// Access is ordered by the task signals: the GUI writes the request only while no
// fetch is pending and reads the results only after the done signal.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/known_hosts.h"
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
    FETCH_CERT_CHANGED = 8,  // the server's key is not the pinned one; nothing was sent
};

inline constexpr int PROMPT_SIZE = 128;
inline constexpr int ERROR_TEXT_SIZE = 1028;

// The error record of one fetch: a text and a kind (0 none, else 5, 6 or 7).
struct FetchError {
    char errorText[ERROR_TEXT_SIZE] = {};
    int32_t errorKind = 0;
};

// The largest page (not download) a fetch keeps in memory: 256 MiB.
inline constexpr size_t NET_PAGE_LIMIT = size_t{256} << 20;

// How one fetch is made, beside its address.
struct FetchOptions {
    // Present no identity: the fetch follows a redirect that left the host and port
    // the chain began on.
    bool withoutIdentity = false;
    // The query holds a sensitive answer (Gemini status 11): the page pipeline keeps
    // the address without it. The network thread only carries the flag.
    bool sensitiveQuery = false;
    // A text reply goes to a file through the download hand-over, like any download.
    bool asDownload = false;
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
    FetchOptions options;
    ProxyRoute proxy;
    // Bytes a page may reach before the fetch gives it up (pageTooLarge).
    size_t pageLimit = NET_PAGE_LIMIT;
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
    // Status 8: the pin of the request's host and port, and the key the server showed.
    KnownHost pinnedKey;
    KnownHost seenKey;
    // The page grew past pageLimit (a network error page follows).
    bool pageTooLarge = false;
    // Gemini status 11: the prompt asks for sensitive input.
    bool sensitivePrompt = false;
    std::atomic<bool> networkAvailable{false};
    std::atomic<bool> tlsAvailable{false};
};

// The program's exchange.
FetchExchange& fetchExchange();

// The three error setters; each overwrites what an earlier call wrote.
void setFetchError(FetchError& error, const char* text);               // kind 7, "%s"
void setNetworkError(FetchError& error, const char* text);             // kind 5, "Network error: %s"
void setServerError(FetchError& error, const char* text);              // kind 6, "Server error: %s"
void setCertificateChangedError(FetchError& error, const char* text);  // kind 8, "%s"
void setPageTooLargeError(FetchError& error, const char* text);        // kind 5, "%s"
void clearFetchError(FetchError& error);
