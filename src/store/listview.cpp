#include "store/listview.h"

#include <memory>
#include <new>

PageText listPageBuild(const std::function<void(const ListPagePut& put)>& emit) {
    try {
        size_t length = 0;
        emit([&length](std::initializer_list<std::string_view> pieces) {
            for (std::string_view piece : pieces)
                length += piece.size();
        });
        std::string text;
        text.reserve(length);
        emit([&text](std::initializer_list<std::string_view> pieces) {
            for (std::string_view piece : pieces)
                text.append(piece);
        });
        return std::make_shared<const std::string>(std::move(text));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PageText listView(std::string_view title, const std::vector<std::string>& urls) {
    return listPageBuild([&](const ListPagePut& put) {
        put({LIST_PAGE_HEADER, "# ", title, "\n\n"});
        for (const std::string& url : urls)
            put({"=> ", url, "\n\n"});
    });
}
