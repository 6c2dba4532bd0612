// The identity manager: the "IDENTITIES" page, which lists every identity with its
// host, port, pages, common name, fingerprint and dates, and its "IDENTITY:" commands.
// GUI thread only.
#pragma once

#include <string>
#include <string_view>

#include "page/pagetext.h"

// The "IDENTITIES" page. Each identity has a "delete" link to
// "IDENTITY:del:<base name>" (the base name percent-encoded). Null when memory runs out.
PageText identityManage();

// Carries out one command address ("IDENTITY:del:<base name>"): asks first, then
// removes the identity's files and record. True when an identity was deleted.
bool identityCommand(std::string_view address);

// The command address that deletes the identity of baseName.
std::string identityDeleteAddress(const std::string& baseName);
