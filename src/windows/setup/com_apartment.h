#pragma once
// The calling thread's place in a single-threaded COM apartment, for the life of one owner.

#include <expected>

#include "platform/win32.h"

namespace quarvel {

class ComApartment {
  public:
    // CoInitializeEx(null, COINIT_APARTMENTTHREADED). S_OK and S_FALSE (the thread was already
    // in such an apartment) both give an owner whose end calls CoUninitialize once; a negative
    // HRESULT (RPC_E_CHANGED_MODE for a thread in the multithreaded apartment) is returned as
    // it is, and nothing is to be balanced.
    static std::expected<ComApartment, HRESULT> join_single_threaded();

    ~ComApartment();
    ComApartment(ComApartment&& other) noexcept;
    ComApartment& operator=(ComApartment&& other) noexcept;
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    ComApartment() = default;
    bool joined_ = false;
};

}  // namespace quarvel
