#include "browser/redirect.h"

#include <cstring>

RedirectAction redirectDecide(int32_t& redirectCount, const char* target) {
    if (++redirectCount > REDIRECT_LIMIT) return REDIRECT_TOO_MANY;
    static const char* const followed[] = {"gemini://", "spartan://", "https://", "http://"};
    for (const char* prefix : followed) {
        if (target && std::strncmp(target, prefix, std::strlen(prefix)) == 0) return REDIRECT_FOLLOW;
    }
    return REDIRECT_UNSUPPORTED;
}

int redirectErrorMessage(RedirectAction action) {
    switch (action) {
        case REDIRECT_TOO_MANY:
            return 111;
        case REDIRECT_UNSUPPORTED:
            return 112;
        default:
            return 0;
    }
}
