// Client identities: certificate and key pairs kept as PEM files in the identity
// folder, chosen for a request by host and path prefix, and made on demand.
//
// File names carry the identity: the base name is the host, one space and the scope
// (a path prefix with every "/" written "$"; the scope "/" is "$"). The identity for
// every page of "host" is the pair "host $.cert" and "host $.key". Such a name means
// the Gemini port, 1965; an identity for another port names it after the host:
// "host:1966 $.cert" (a host name never holds a colon).
//
// An identity is never overwritten: making one for a base name that has files already
// renames the old pair first ("host $.cert.replaced-20240218T153000Z" and the same for
// the key), out of the list's way but kept.
//
// The list is changed by the GUI thread only and read by the network thread through
// identityForRequest; both take the list's lock. The GUI's own reads (findIdentity,
// identityList) need none. Records never move while they are listed: a pointer from
// findIdentity stays valid until the record is removed or the list freed.
#pragma once

#include <cstdint>
#include <list>
#include <optional>
#include <string>

inline constexpr int IDENTITY_HOST_MAX = 63;            // characters of a host read from a name
inline constexpr int IDENTITY_SCOPE_MAX = 31;           // characters of a scope read from a name
inline constexpr int IDENTITY_BASE_NAME_SIZE = 128;     // bytes of a base name made by createIdentity
inline constexpr int32_t IDENTITY_DEFAULT_PORT = 1965;  // the port of a name without one

struct IdentityRecord {
    char host[IDENTITY_HOST_MAX + 1] = {};
    int32_t port = IDENTITY_DEFAULT_PORT;
    char scope[256] = {};  // "$" already turned back into "/"
    std::string baseName;  // the file names without ".cert" / ".key"
    std::string certPath;  // full paths, never cut
    std::string keyPath;
};

// What the manager shows of an identity's certificate.
struct IdentityDetails {
    bool readable = false;    // the certificate file could be read
    std::string commonName;   // UTF-8
    std::string fingerprint;  // SHA-256 of the certificate (DER), 64 lower-case hex digits
    int64_t validFrom = 0;    // seconds since 1970 (UTC)
    int64_t validUntil = 0;
};

// The identity folder: "identities" in the preferences folder.
std::string identityDirectory();

// Starts an empty list and adds every plain file of the identity folder whose name is
// longer than 5 characters and ends in ".cert" (without that ending, as a base name),
// in the order the file system lists them. A missing folder gives an empty list.
void loadIdentities();

// Reads the host (at most 63 characters) and the scope (at most 31) as the first two
// whitespace-separated words of baseName, and adds the record at the end of the list
// with the paths of baseName + ".cert" and baseName + ".key" in the identity folder.
// A first word "host:port" (a port of 1-65535 after the host's last colon) gives the
// port; otherwise the port is 1965. False (nothing added) when there are not two words
// or memory runs out.
bool addIdentity(const char* baseName);

// The first record whose host equals host (over at most 63 characters), whose port is
// port and whose scope is empty or a prefix of path; null when none matches.
const IdentityRecord* findIdentity(const char* host, int32_t port, const char* path);
// The same for the Gemini port 1965.
const IdentityRecord* findIdentity(const char* host, const char* path);
// findIdentity for the network thread: a copy, taken under the list's lock.
std::optional<IdentityRecord> identityForRequest(const char* host, int32_t port, const char* path);

// Frees every record.
void freeIdentities();

// The list as it stands (for the identity menu and tests).
const std::list<IdentityRecord>& identityList();

// The base name of an identity: "host scope", or "host:port scope" for a port other
// than 1965, with every "/" of scope written "$", cut to 127 bytes.
std::string identityBaseName(const char* host, int32_t port, const char* scope);

// Makes an identity for host, port and scope: creates the identity folder when missing
// (mode 0700), renames any old pair of the same base name (see above) and drops its
// record, writes the new files and adds the record. False on any failure (an old pair
// that was renamed stays renamed).
bool createIdentity(const char* host, int32_t port, const char* scope, const char* commonName);
// The same for the Gemini port 1965.
bool createIdentity(const char* host, const char* scope, const char* commonName);

// Removes the identity of baseName: its record and both files. False when a file that
// is there could not be removed (the record then stays).
bool deleteIdentity(const std::string& baseName);

// Reads an identity's certificate file.
IdentityDetails identityDetails(const IdentityRecord& record);

// Creates a P-256 key and a self-signed version 1 certificate for commonName (serial
// a random 31-bit number, valid from 1978-01-01 00:00:00 to 2099-12-31 23:59:59 UTC,
// signed with SHA-256) and writes baseName + ".cert" (PEM certificate), then, only
// when that worked, baseName + ".key" (PEM private key, unencrypted, mode 0600) into
// the identity folder, each through a temporary file. True when both were written.
bool makeCertificate(const char* commonName, const char* baseName);
