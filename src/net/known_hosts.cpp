// Known hosts: the text form, the store and the facts of a changed key.
#include "net/known_hosts.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>

#include "platform/files.h"
#include "platform/paths.h"
#include "text/limits.h"
#include "text/locale.h"

namespace {

constexpr std::string_view HEADER_LINE =
    "# Farlander known hosts: host, port, SHA-256 of the server's public key, expiry (UTC)\n";
constexpr size_t FILE_LIMIT = 16u << 20;

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

// The next field of line (split at spaces and tabs), or an empty view at the end.
std::string_view nextField(std::string_view& line) {
    size_t start = 0;
    while (start < line.size() && isSpace(line[start]))
        ++start;
    size_t end = start;
    while (end < line.size() && !isSpace(line[end]))
        ++end;
    std::string_view field = line.substr(start, end - start);
    line.remove_prefix(end);
    return field;
}

bool readNumber(std::string_view text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty() || text.size() > 6) return false;
    int64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    if (n < low || n > high) return false;
    value = n;
    return true;
}

bool readHost(std::string_view text, std::string& host) {
    if (text.empty() || text.size() > static_cast<size_t>(HOST_MAX)) return false;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x21 || c == 0x7f) return false;
    }
    host.assign(text);
    for (char& c : host) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return true;
}

bool readFingerprint(std::string_view text, std::string& fingerprint) {
    const std::string_view prefix = KNOWN_HOST_FINGERPRINT_PREFIX;
    if (text.size() != prefix.size() + KNOWN_HOST_FINGERPRINT_LENGTH) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    text.remove_prefix(prefix.size());
    fingerprint.assign(text);
    for (char& c : fingerprint) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(int64_t days, int64_t& year, int64_t& month, int64_t& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

bool leapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t daysInMonth(int64_t year, int64_t month) {
    static constexpr int64_t DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : DAYS[month - 1];
}

// The lowest and highest times knownHostDate writes with four digits of year.
constexpr int64_t EARLIEST = -62167219200;  // 0000-01-01T00:00:00Z
constexpr int64_t LATEST = 253402300799;    // 9999-12-31T23:59:59Z

struct Store {
    std::mutex mutex;
    bool open = false;
    bool writable = false;
    std::string path;
    std::vector<KnownHost> entries;
};

Store& store() {
    static Store s;
    return s;
}

std::vector<KnownHost>::iterator findEntry(Store& s, const std::string& host, int32_t port) {
    return std::find_if(s.entries.begin(), s.entries.end(),
                        [&](const KnownHost& entry) { return entry.port == port && entry.host == host; });
}

std::string lowercase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Saves the store (its lock held). The folder is made when missing.
bool saveLocked(Store& s) {
    if (!s.writable) return true;
    size_t slash = s.path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(s.path.substr(0, slash))) return false;
    try {
        return writeFileAtomic(s.path, knownHostsFormat(s.entries), 0600);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

std::vector<KnownHost> knownHostsParse(std::string_view text) {
    std::vector<KnownHost> entries;
    while (!text.empty()) {
        size_t feed = text.find('\n');
        std::string_view line = text.substr(0, feed);
        text.remove_prefix(feed == std::string_view::npos ? text.size() : feed + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view rest = line;
        std::string_view hostField = nextField(rest);
        if (hostField.empty() || hostField.front() == '#') continue;
        KnownHost entry;
        int64_t port = 0;
        if (!readHost(hostField, entry.host) || !readNumber(nextField(rest), 1, 65535, port) ||
            !readFingerprint(nextField(rest), entry.fingerprint)) {
            continue;
        }
        entry.port = static_cast<int32_t>(port);
        if (!knownHostParseDate(nextField(rest), entry.expires)) entry.expires = 0;
        auto same = std::find_if(entries.begin(), entries.end(), [&](const KnownHost& e) {
            return e.port == entry.port && e.host == entry.host;
        });
        if (same != entries.end()) {
            *same = std::move(entry);
        } else {
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

std::string knownHostsFormat(const std::vector<KnownHost>& entries) {
    std::string text(HEADER_LINE);
    for (const KnownHost& entry : entries) {
        text += entry.host;
        text += ' ';
        text += std::to_string(entry.port);
        text += ' ';
        text += KNOWN_HOST_FINGERPRINT_PREFIX;
        text += entry.fingerprint;
        text += ' ';
        text += knownHostDate(entry.expires);
        text += '\n';
    }
    return text;
}

int64_t knownHostSeconds(int year, int month, int day, int hour, int minute, int second) {
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string knownHostDate(int64_t seconds) {
    seconds = std::clamp(seconds, EARLIEST, LATEST);
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t year = 0, month = 0, day = 0;
    civilFromDays(days, year, month, day);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return text;
}

bool knownHostParseDate(std::string_view text, int64_t& seconds) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z') {
        return false;
    }
    int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readNumber(text.substr(0, 4), 0, 9999, year) || !readNumber(text.substr(5, 2), 1, 12, month) ||
        !readNumber(text.substr(8, 2), 1, 31, day) || !readNumber(text.substr(11, 2), 0, 23, hour) ||
        !readNumber(text.substr(14, 2), 0, 59, minute) || !readNumber(text.substr(17, 2), 0, 59, second)) {
        return false;
    }
    if (day > daysInMonth(year, month)) return false;
    seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::string knownHostsPath() {
    return prefsDirectory() + "/known_hosts";
}

void knownHostsOpen(const std::string& path, bool writable) {
    Store& s = store();
    std::string text;
    bool exists = isRegularFile(path) || isDirectoryPath(path);
    bool read = exists && readWholeFile(path, text, FILE_LIMIT);
    std::vector<KnownHost> entries;
    try {
        entries = knownHostsParse(text);
    } catch (const std::bad_alloc&) {
        read = false;
    }
    std::lock_guard lock(s.mutex);
    s.open = true;
    s.path = path;
    // A file that is there but cannot be read is never replaced by a shorter one.
    s.writable = writable && (read || !exists);
    s.entries = std::move(entries);
}

void knownHostsClose() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    s.open = false;
    s.writable = false;
    s.path.clear();
    s.entries.clear();
}

bool knownHostsIsOpen() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    return s.open;
}

KnownHostCheck knownHostCheck(const std::string& host, int32_t port, const std::string& fingerprint,
                              KnownHost* pinned) {
    Store& s = store();
    const std::string key = lowercase(host);
    std::lock_guard lock(s.mutex);
    if (!s.open) return KNOWN_HOST_OFF;
    auto found = findEntry(s, key, port);
    if (found == s.entries.end()) return KNOWN_HOST_NEW;
    if (!fingerprint.empty() && found->fingerprint == fingerprint) return KNOWN_HOST_SAME;
    if (pinned) *pinned = *found;
    return KNOWN_HOST_CHANGED;
}

namespace {

// Adds what was seen, or lets change decide what becomes of the entry there for its
// host and port (false: nothing changes); saves when something did.
template <typename Change>
bool storeSeen(const KnownHost& seen, Change change) {
    if (seen.fingerprint.empty() || seen.host.empty()) return false;
    Store& s = store();
    KnownHost entry = seen;
    entry.host = lowercase(entry.host);
    std::lock_guard lock(s.mutex);
    if (!s.open) return false;
    auto found = findEntry(s, entry.host, entry.port);
    if (found == s.entries.end()) {
        s.entries.push_back(std::move(entry));
    } else if (!change(*found, entry)) {
        return false;
    }
    return saveLocked(s);
}

}  // namespace

bool knownHostRemember(const KnownHost& seen) {
    // A renewal with the same key only moves the date on; another key is not taken.
    return storeSeen(seen, [](KnownHost& pinned, KnownHost& now) {
        if (pinned.fingerprint != now.fingerprint || pinned.expires == now.expires) return false;
        pinned.expires = now.expires;
        return true;
    });
}

bool knownHostTrust(const KnownHost& seen) {
    return storeSeen(seen, [](KnownHost& pinned, KnownHost& now) {
        pinned = std::move(now);
        return true;
    });
}

std::optional<KnownHost> knownHostFind(const std::string& host, int32_t port) {
    Store& s = store();
    const std::string key = lowercase(host);
    std::lock_guard lock(s.mutex);
    auto found = findEntry(s, key, port);
    if (found == s.entries.end()) return std::nullopt;
    return *found;
}

std::vector<KnownHost> knownHostsList() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    return s.entries;
}

std::string knownHostChangeText(const KnownHost& pinned, const KnownHost& seen, int64_t now) {
    const std::string until = messageText(MSG_CERT_VALID_UNTIL);
    auto key = [&](int label, const KnownHost& entry) {
        return std::string(messageText(label)) + ": " + KNOWN_HOST_FINGERPRINT_PREFIX +
               (entry.fingerprint.empty() ? std::string("-") : entry.fingerprint) + "\n" + until + " " +
               knownHostDate(entry.expires) + "\n";
    };
    return std::string(messageText(MSG_ERR_CERT_CHANGED)) + ": " + seen.host + ":" +
           std::to_string(seen.port) + "\n\n" + key(MSG_CERT_PINNED_KEY, pinned) +
           key(MSG_CERT_NEW_KEY, seen) + "\n" +
           messageText(pinned.expires < now ? MSG_CERT_PINNED_EXPIRED : MSG_CERT_PINNED_VALID) + "\n" +
           messageText(MSG_CERT_CHANGED_MEANING);
}
