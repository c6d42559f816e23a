#include "platform/directory_listing.h"

#include "platform/unique_resource.h"

namespace quarvel {
namespace {

bool is_dots(const WCHAR* name) {
    return name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0));
}

}  // namespace

DirectoryListing list_directory(WideView pattern) {
    DirectoryListing listing;
    const WideString terminated(pattern);
    WIN32_FIND_DATAW found{};
    UniqueFind find(FindFirstFileW(terminated.c_str(), &found));
    if (!find) {
        listing.error = GetLastError();
        return listing;
    }
    do
        if (!is_dots(found.cFileName))
            listing.entries.push_back(found);
    while (FindNextFileW(find.get(), &found));
    return listing;
}

}  // namespace quarvel
