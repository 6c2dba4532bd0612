// The shared fetch exchange and the error record's setters.
#include "net/exchange.h"

#include <cstdio>
#include <cstring>

#include "text/locale.h"

namespace {

const char* orEmpty(const char* text) {
    return text != nullptr ? text : "";
}

// Formats into a scratch block first, so that a text taken from the record itself
// (a caller re-wrapping the current error) never overlaps the destination.
void storeError(FetchError& error, int32_t kind, const char* label, const char* text) {
    char scratch[ERROR_TEXT_SIZE];
    if (label != nullptr) {
        std::snprintf(scratch, sizeof scratch, "%s: %s", label, orEmpty(text));
    } else {
        std::snprintf(scratch, sizeof scratch, "%s", orEmpty(text));
    }
    std::memcpy(error.errorText, scratch, std::strlen(scratch) + 1);
    error.errorKind = kind;
}

}  // namespace

FetchExchange& fetchExchange() {
    static FetchExchange exchange;
    return exchange;
}

void setFetchError(FetchError& error, const char* text) {
    storeError(error, FETCH_ERROR, nullptr, text);
}

void setNetworkError(FetchError& error, const char* text) {
    storeError(error, FETCH_NETWORK_ERROR, messageText(MSG_ERR_NETWORK), text);
}

void setServerError(FetchError& error, const char* text) {
    storeError(error, FETCH_SERVER_ERROR, messageText(MSG_ERR_SERVER), text);
}

void setCertificateChangedError(FetchError& error, const char* text) {
    storeError(error, FETCH_CERT_CHANGED, nullptr, text);
}

void setPageTooLargeError(FetchError& error, const char* text) {
    storeError(error, FETCH_NETWORK_ERROR, nullptr, text);
}

void clearFetchError(FetchError& error) {
    error.errorText[0] = '\0';
    error.errorKind = 0;
}
