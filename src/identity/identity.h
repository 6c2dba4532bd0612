// Client identities: certificate and key pairs kept as PEM files in the identity
// folder, chosen for a request by host and path prefix, and made on demand.
//
// File names carry the identity: the base name is the host, one space and the scope
// (a path prefix with every "/" written "$"; the scope "/" is "$"). The identity for
// every page of "host" is the pair "host $.cert" and "host $.key".
//
// The list is read by the network thread (findIdentity during a fetch) and extended by
// the GUI thread only while no fetch runs, so it takes no lock. Records never move
// while the list lives: a pointer from findIdentity stays valid until freeIdentities.
#pragma once

#include <list>
#include <string>

inline constexpr int IDENTITY_HOST_MAX = 63;         // characters of a host read from a name
inline constexpr int IDENTITY_SCOPE_MAX = 31;        // characters of a scope read from a name
inline constexpr int IDENTITY_BASE_NAME_SIZE = 128;  // bytes of a base name made by createIdentity

struct IdentityRecord {
    char host[IDENTITY_HOST_MAX + 1] = {};
    char scope[256] = {};  // "$" already turned back into "/"
    std::string certPath;  // full paths, never cut
    std::string keyPath;
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
// False (nothing added) when there are not two words or memory runs out.
bool addIdentity(const char* baseName);

// The first record whose host equals host (over at most 63 characters) and whose
// scope is empty or a prefix of path; null when none matches.
const IdentityRecord* findIdentity(const char* host, const char* path);

// Frees every record.
void freeIdentities();

// The list as it stands (for the identity menu and tests).
const std::list<IdentityRecord>& identityList();

// Makes an identity for host and scope: creates the identity folder when missing
// (mode 0700), writes the files of the base name "host scope" (every "/" of scope
// written "$", at most 127 bytes) and adds the record. False on any failure.
bool createIdentity(const char* host, const char* scope, const char* commonName);

// Creates a P-256 key and a self-signed version 1 certificate for commonName (serial
// a random 31-bit number, valid from 1978-01-01 00:00:00 to 2099-12-31 23:59:59 UTC,
// signed with SHA-256) and writes baseName + ".cert" (PEM certificate), then, only
// when that worked, baseName + ".key" (PEM private key, unencrypted, mode 0600) into
// the identity folder, each through a temporary file. True when both were written.
bool makeCertificate(const char* commonName, const char* baseName);
