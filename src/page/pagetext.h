// A document text, header line included ("20 text/gemini\r\n..."). The page cache
// and the page on show share it: dropping a cache entry (Reload, eviction) never
// frees the text that is still on screen.
#pragma once

#include <memory>
#include <string>

using PageText = std::shared_ptr<const std::string>;
