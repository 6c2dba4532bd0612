#include "platform/catalog.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "platform/paths.h"

namespace {

constexpr const char* TEXT_DOMAIN = "farlander";
// gettext's separator between a message context and its text.
constexpr char CONTEXT_SEPARATOR = '\004';

std::string boundDirectory;

std::string chooseDirectory() {
    if (const char* fromEnvironment = std::getenv("FARLANDER_LOCALEDIR");
        fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    const std::string exeDir = executableDirectory();
    if (!exeDir.empty()) {
        std::error_code error;
        const std::filesystem::path beside = std::filesystem::path(exeDir) / "locale";
        if (std::filesystem::is_directory(beside, error)) return beside.string();
        // An installed tree moved elsewhere (or installed under another prefix than
        // the build was made for): <prefix>/bin/farlander beside <prefix>/share/locale.
        const std::filesystem::path shared = std::filesystem::path(exeDir).parent_path() / "share" / "locale";
        for (const auto& language : std::filesystem::directory_iterator(shared, error)) {
            if (std::filesystem::is_regular_file(language.path() / "LC_MESSAGES" / "farlander.mo", error))
                return shared.string();
        }
    }
    return FARLANDER_LOCALEDIR;
}

}  // namespace

void catalogOpen() {
    try {
        std::setlocale(LC_MESSAGES, "");
        std::setlocale(LC_CTYPE, "");
        boundDirectory = chooseDirectory();
        bindtextdomain(TEXT_DOMAIN, boundDirectory.c_str());
        bind_textdomain_codeset(TEXT_DOMAIN, "UTF-8");
    } catch (const std::bad_alloc&) {
        // Without a bound folder gettext simply finds nothing: defaults are used.
    }
}

const char* catalogText(const char* context, const char* defaultText) {
    if (defaultText == nullptr) return nullptr;
    try {
        std::string key;
        key.reserve(std::strlen(context) + 1 + std::strlen(defaultText));
        key.append(context);
        key.push_back(CONTEXT_SEPARATOR);
        key.append(defaultText);
        const char* translated = dgettext(TEXT_DOMAIN, key.c_str());
        // gettext hands the key back when it has no translation.
        if (translated == nullptr || translated == key.c_str() || key == translated) {
            return defaultText;
        }
        return translated;
    } catch (const std::bad_alloc&) {
        return defaultText;
    }
}

const char* catalogDirectory() {
    return boundDirectory.c_str();
}

void catalogClose() {
    // gettext keeps every catalog it loaded mapped until the process ends, so the
    // texts handed out stay valid; there is nothing to release here.
}
