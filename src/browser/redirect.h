// The rule for following redirects, shared by the window's page pipeline and the
// command-line dump.
#pragma once

#include <cstdint>

enum RedirectAction {
    REDIRECT_FOLLOW = 0,       // load the target
    REDIRECT_TOO_MANY = 1,     // a third redirect in a row: error page "Too many redirects"
    REDIRECT_UNSUPPORTED = 2,  // error page "Redirected to unsupported URL"
};

// The limit of redirects followed in a row.
inline constexpr int REDIRECT_LIMIT = 2;

// Counts one more redirect in a row and decides what becomes of target. Only
// "gemini://", "spartan://", "https://" and "http://" targets are followed.
RedirectAction redirectDecide(int32_t& redirectCount, const char* target);

// The message id of the error page for a refused redirect (111 or 112), 0 to follow.
int redirectErrorMessage(RedirectAction action);
