#include "files/file_access.h"

#include "files/file_security.h"
#include "security/access_check.h"

namespace winsim {

bool process_granted(const SecurityDescription& object, ACCESS_MASK desired) {
    return object_access_granted(process_token_object()->snapshot(), object, desired,
                                 kFileGenericMapping);
}

DWORD check_file_access(const std::string& resolved, ACCESS_MASK desired) {
    const TokenState token = process_token_object()->snapshot();
    // MAXIMUM_ALLOWED names no right in particular; the rest of the request is what is checked.
    DWORD wanted = map_generic_rights(desired & ~MAXIMUM_ALLOWED, kFileGenericMapping);
    if (const auto folder = parent_object(resolved);
        folder && (wanted & (FILE_READ_ATTRIBUTES | DELETE)) != 0) {
        const SecurityDescription holder = effective_security(*folder);
        const auto folder_grants = [&](ACCESS_MASK right) {
            return object_access_granted(token, holder, right, kFileGenericMapping);
        };
        if ((wanted & FILE_READ_ATTRIBUTES) != 0 && folder_grants(FILE_LIST_DIRECTORY))
            wanted &= ~FILE_READ_ATTRIBUTES;
        if ((wanted & DELETE) != 0 && folder_grants(FILE_DELETE_CHILD))
            wanted &= ~DELETE;
    }
    const bool granted =
        object_access_granted(token, effective_security(resolved), wanted, kFileGenericMapping);
    return granted ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

}  // namespace winsim
