// The identity manager page and its commands.
#include "browser/identities.h"

#include <string>

#include "identity/identity.h"
#include "net/known_hosts.h"
#include "store/listview.h"
#include "text/locale.h"
#include "ui/ui.h"
#include "url/url.h"

namespace {

constexpr std::string_view DELETE_COMMAND = "del:";

// Bytes a command address carries as they are; every other one is "%xx".
bool plainByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == '~' || c == ':' || c == '$';
}

std::string percentDecode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 &&
            hexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string hostAndPort(const IdentityRecord& record) {
    return std::string(record.host) + ":" + std::to_string(record.port);
}

}  // namespace

std::string identityDeleteAddress(const std::string& baseName) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string address = std::string(IDENTITY_COMMAND_PREFIX) + std::string(DELETE_COMMAND);
    for (char c : baseName) {
        const auto byte = static_cast<unsigned char>(c);
        if (plainByte(byte)) {
            address += c;
        } else {
            address += '%';
            address += HEX[byte >> 4];
            address += HEX[byte & 15];
        }
    }
    return address;
}

PageText identityManage() {
    struct Shown {
        const IdentityRecord* record;
        IdentityDetails details;
        std::string address;
    };
    std::vector<Shown> shown;
    try {
        for (const IdentityRecord& record : identityList())
            shown.push_back(Shown{&record, identityDetails(record), identityDeleteAddress(record.baseName)});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const std::string folder = identityDirectory();
    return listPageBuild([&](const ListPagePut& put) {
        put({LIST_PAGE_HEADER, "# ", messageText(MSG_TITLE_IDENTITIES), "\n\n"});
        if (shown.empty()) put({messageText(MSG_IDENTITY_NONE), "\n\n"});
        for (const Shown& entry : shown) {
            const IdentityRecord& record = *entry.record;
            const IdentityDetails& details = entry.details;
            const std::string where = hostAndPort(record);
            put({"## ", where, "\n"});
            put({messageText(MSG_IDENTITY_PAGES), ": ", record.scope, "\n"});
            if (details.readable) {
                const std::string from = knownHostDate(details.validFrom);
                const std::string until = knownHostDate(details.validUntil);
                put({messageText(MSG_IDENTITY_COMMON_NAME), ": ", details.commonName, "\n"});
                // On a line of its own, so that it is not wrapped at a window's usual width.
                put({messageText(MSG_IDENTITY_FINGERPRINT), ":\n", KNOWN_HOST_FINGERPRINT_PREFIX,
                     details.fingerprint, "\n"});
                put({messageText(MSG_IDENTITY_VALID_FROM), ": ", from, "\n"});
                put({messageText(MSG_IDENTITY_VALID_UNTIL), ": ", until, "\n"});
            } else {
                put({messageText(MSG_IDENTITY_UNREADABLE), "\n"});
            }
            put({"=> ", entry.address, " ", messageText(MSG_LIST_DELETE), " ", where, "\n\n"});
        }
        put({messageText(MSG_IDENTITY_FOLDER), ": ", folder, "\n"});
    });
}

bool identityCommand(std::string_view address) {
    const std::string_view prefix = IDENTITY_COMMAND_PREFIX;
    if (!address.starts_with(prefix)) return false;
    address.remove_prefix(prefix.size());
    if (!address.starts_with(DELETE_COMMAND)) return false;
    address.remove_prefix(DELETE_COMMAND.size());
    const std::string baseName = percentDecode(address);
    const IdentityRecord* found = nullptr;
    for (const IdentityRecord& record : identityList()) {
        if (record.baseName == baseName) found = &record;
    }
    if (found == nullptr) return false;
    const IdentityDetails details = identityDetails(*found);
    std::string question = std::string(messageText(MSG_ASK_DELETE_IDENTITY)) + "\n\n" + hostAndPort(*found);
    if (!details.commonName.empty()) question += " (" + details.commonName + ")";
    if (!askOkCancel(question.c_str())) return false;
    if (!deleteIdentity(baseName)) {
        showError(getString(MSG_ERR_DELETE_IDENTITY));
        return false;
    }
    return true;
}
