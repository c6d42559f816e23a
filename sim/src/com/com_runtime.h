#pragma once
// The simulated host's COM runtime, seen from the objects it hands out: reference counting
// with a count of live objects, the per-thread apartment, the entry checks every method makes,
// and BSTRs built from and read into UTF-16 text.

#include <winsim/com.h>

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

namespace winsim {

// Objects handed out and not yet released for the last time.
std::atomic<std::size_t>& live_com_object_counter();

// Whether the calling thread has joined an apartment (CoInitializeEx succeeded and was not yet
// balanced).
bool thread_in_apartment();

// What a method does on entry: `failure` is the HRESULT to return at once (an injected fault),
// `quirk` asks a method that hands out a pointer to succeed with null instead.
struct MethodEntry {
    std::optional<HRESULT> failure;
    bool quirk = false;
};

// Counts the call under `method` ("INetFwRules::Item") for fault injection and, for objects
// bound to an apartment, records a call from a thread outside any apartment.
MethodEntry enter_method(std::string_view method, bool apartment_bound);

// Every failing method returns through here: when a test asked for it, the failure of the
// method the thread is in leaves an error object with the test's description (SetErrorInfo).
HRESULT method_failed(HRESULT result);

// A new BSTR with the text, or null when none can be allocated.
BSTR make_bstr(std::u16string_view text);
// The text of a BSTR (null reads as empty), embedded zeros included.
std::u16string bstr_text(BSTR text);

// Counts a call on an apartment-bound object from a thread outside any apartment.
void note_call_outside_apartment();

// Implements IUnknown's counting for one object; `Self` is the most derived class. Objects
// bound to an apartment (the firewall's) also note AddRef and Release calls made from outside
// any apartment, such as a release after the thread's last CoUninitialize.
template <class Self, class Interface, bool ApartmentBound>
class CountedObject : public Interface {
  public:
    CountedObject() { ++live_com_object_counter(); }
    ULONG AddRef() override {
        check_apartment();
        return ++references_;
    }
    ULONG Release() override {
        check_apartment();
        const ULONG left = --references_;
        if (left == 0) {
            --live_com_object_counter();
            delete static_cast<Self*>(this);
        }
        return left;
    }

  protected:
    ~CountedObject() = default;

  private:
    static void check_apartment() {
        if (ApartmentBound && !thread_in_apartment())
            note_call_outside_apartment();
    }

    std::atomic<ULONG> references_{1};
};

}  // namespace winsim
