#pragma once
// oleaut32's error objects inside the simulated host.

#include <string_view>

namespace winsim {

// Makes an error object with this description the calling thread's (as SetErrorInfo does).
void set_thread_error_description(std::u16string_view description);

}  // namespace winsim
