// Known hosts: the server keys pinned on first contact (trust on first use).
//
// Each host and port that answered a direct TLS fetch is remembered with the SHA-256
// fingerprint of its certificate's public key (the DER SubjectPublicKeyInfo, so a
// renewed certificate with the same key stays trusted) and the certificate's expiry.
// A later contact that shows another key stops before the request is sent and the user
// decides (browser/load.cpp); the first contact is pinned silently.
//
// The file, <prefs>/known_hosts, holds one line per host and port:
//     host port sha256:<64 hex digits> <expiry as YYYY-MM-DDTHH:MM:SSZ>
// Lines starting with "#" and blank lines are comments. The reader and the writer are
// pure functions over text; the store around them is shared by the GUI and the network
// thread and takes a lock for every access.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct KnownHost {
    std::string host;         // lower case
    int32_t port = 0;         // 1-65535
    std::string fingerprint;  // 64 lower-case hex digits
    int64_t expires = 0;      // the certificate's end of validity, seconds since 1970 (UTC); 0 unknown
};

inline constexpr size_t KNOWN_HOST_FINGERPRINT_LENGTH = 64;
inline constexpr const char* KNOWN_HOST_FINGERPRINT_PREFIX = "sha256:";

// ---- the text form (pure) ----

// The entries of a known-hosts text, in file order. A line that does not hold a host
// (1-63 characters, no control characters), a port (1-65535) and a fingerprint is
// skipped; an expiry that cannot be read is kept as 0. Host names are lowercased and
// fingerprints taken in lower case. When a host and port appear twice, the later line
// wins (in the earlier line's place).
std::vector<KnownHost> knownHostsParse(std::string_view text);
// The text form of entries: a comment line, then one line per entry.
std::string knownHostsFormat(const std::vector<KnownHost>& entries);

// "YYYY-MM-DDTHH:MM:SSZ" for seconds since 1970 (UTC), for any year 0-9999.
std::string knownHostDate(int64_t seconds);
// The reverse; false when text is not exactly that form or names no real date.
bool knownHostParseDate(std::string_view text, int64_t& seconds);
// Seconds since 1970 for a civil date and time in UTC (no range checks).
int64_t knownHostSeconds(int year, int month, int day, int hour, int minute, int second);

// ---- the program's store ----

// <prefs>/known_hosts
std::string knownHostsPath();

// Reads the file at path into the store and turns pinning on. With writable set,
// every change is saved to path (written whole, new files 0600); a file that exists
// but cannot be read is never written (changes stay in memory). Until a store is open,
// and after knownHostsClose, nothing is pinned or checked.
void knownHostsOpen(const std::string& path, bool writable);
void knownHostsClose();
bool knownHostsIsOpen();

enum KnownHostCheck {
    KNOWN_HOST_OFF,      // no store open
    KNOWN_HOST_NEW,      // first contact with host and port
    KNOWN_HOST_SAME,     // the pinned key
    KNOWN_HOST_CHANGED,  // another key than the pinned one; pinned receives it
};
// Compares a key a server showed with the pin of host and port; changes nothing.
// An empty fingerprint (a server without a certificate) never matches a pin.
KnownHostCheck knownHostCheck(const std::string& host, int32_t port, const std::string& fingerprint,
                              KnownHost* pinned = nullptr);
// After a completed handshake: pins a new host and port, and follows a renewal (the
// same key with another expiry). A changed key is left alone. True when the store
// changed and was saved (or keeps its changes in memory only).
bool knownHostRemember(const KnownHost& seen);
// The user trusts seen: it replaces any pin of its host and port. True when saved
// (or when the store keeps its changes in memory only).
bool knownHostTrust(const KnownHost& seen);
// The pin of host and port, if any.
std::optional<KnownHost> knownHostFind(const std::string& host, int32_t port);
// Every pin, in file order.
std::vector<KnownHost> knownHostsList();

// The facts of a changed key, for the question, the error page and the dump: host and
// port, both fingerprints and expiry dates, and whether the pinned certificate had
// expired by now (seconds since 1970). Lines end in a line feed; the last has none.
std::string knownHostChangeText(const KnownHost& pinned, const KnownHost& seen, int64_t now);
