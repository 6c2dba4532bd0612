// Generated list pages: a titled list of addresses as a gemtext page. Serves the
// "BOOKVIEW" and "HISTORY" pages.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "page/builtin.h"
#include "page/pagetext.h"

// Every generated page is a complete reply beginning with the gemtext header.
inline constexpr std::string_view LIST_PAGE_HEADER = BUILTIN_GEMTEXT_HEADER;

// "20 text/gemini\r\n# <title>\n\n" and then "=> <url>\n\n" for each url in order; an
// empty list gives the heading only. Null when memory runs out.
PageText listView(std::string_view title, const std::vector<std::string>& urls);

// Builds a generated page: emit hands its pieces to put, in order, and is called
// twice, once to measure and once to write, so the text is allocated at exactly its
// length. Null when memory runs out.
using ListPagePut = std::function<void(std::initializer_list<std::string_view> pieces)>;
PageText listPageBuild(const std::function<void(const ListPagePut& put)>& emit);
