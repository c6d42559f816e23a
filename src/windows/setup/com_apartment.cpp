#include "windows/setup/com_apartment.h"

#include <utility>

namespace quarvel {

std::expected<ComApartment, HRESULT> ComApartment::join_single_threaded() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(result))
        return std::unexpected(result);
    ComApartment apartment;
    apartment.joined_ = true;
    return apartment;
}

ComApartment::~ComApartment() {
    if (joined_)
        CoUninitialize();
}

ComApartment::ComApartment(ComApartment&& other) noexcept
    : joined_(std::exchange(other.joined_, false)) {}

ComApartment& ComApartment::operator=(ComApartment&& other) noexcept {
    if (this != &other) {
        if (joined_)
            CoUninitialize();
        joined_ = std::exchange(other.joined_, false);
    }
    return *this;
}

}  // namespace quarvel
