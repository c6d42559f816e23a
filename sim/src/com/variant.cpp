// oleaut32's variants and one-dimensional safe arrays in the simulated host, as far as the
// firewall's interface lists need them: every array counted until it is destroyed.

#include <winsim/com.h>
#include <winsim/testing.h>

#include <cstdlib>
#include <mutex>
#include <unordered_set>

namespace winsim {
namespace {

struct ArrayHeap {
    std::mutex mutex;
    std::unordered_set<SAFEARRAY*> arrays;
};

ArrayHeap& array_heap() {
    static ArrayHeap instance;
    return instance;
}

bool is_array_of_process(SAFEARRAY* array) {
    auto& heap = array_heap();
    std::lock_guard lock(heap.mutex);
    return heap.arrays.contains(array);
}

// fFeatures bits of the SDK: what the elements are, so that destroying releases them.
constexpr USHORT kFeatureBstr = 0x0100;
constexpr USHORT kFeatureVariant = 0x0800;

ULONG element_size(VARTYPE vt) {
    switch (vt) {
        case VT_VARIANT:
            return sizeof(VARIANT);
        case VT_BSTR:
            return sizeof(BSTR);
        case VT_I4:
            return sizeof(LONG);
        default:
            return 0;
    }
}

bool is_known_type(VARTYPE vt) {
    const VARTYPE base = vt & ~VARTYPE{VT_ARRAY};
    switch (base) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I4:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_BOOL:
        case VT_VARIANT:
        case VT_UNKNOWN:
            return (vt & VT_ARRAY) == 0 || base != VT_EMPTY;
        default:
            return false;
    }
}

}  // namespace

std::size_t outstanding_safe_arrays() {
    auto& heap = array_heap();
    std::lock_guard lock(heap.mutex);
    return heap.arrays.size();
}

}  // namespace winsim

void VariantInit(VARIANT* variant) {
    if (variant != nullptr) {
        variant->vt = VT_EMPTY;
        variant->wReserved1 = variant->wReserved2 = variant->wReserved3 = 0;
    }
}

HRESULT VariantClear(VARIANT* variant) {
    if (variant == nullptr)
        return E_INVALIDARG;
    if (!winsim::is_known_type(variant->vt))
        return DISP_E_BADVARTYPE;
    if ((variant->vt & VT_ARRAY) != 0) {
        if (const HRESULT destroyed = SafeArrayDestroy(variant->parray); FAILED(destroyed))
            return destroyed;
    } else if (variant->vt == VT_BSTR) {
        SysFreeString(variant->bstrVal);
    } else if ((variant->vt == VT_UNKNOWN || variant->vt == VT_DISPATCH) &&
               variant->punkVal != nullptr) {
        variant->punkVal->Release();
    }
    variant->vt = VT_EMPTY;
    variant->wReserved1 = variant->wReserved2 = variant->wReserved3 = 0;
    return S_OK;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower, ULONG count) {
    const ULONG size = winsim::element_size(vt);
    if (size == 0)
        return nullptr;
    auto* array = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
    if (array == nullptr)
        return nullptr;
    array->pvData = count == 0 ? nullptr : std::calloc(count, size);
    if (count != 0 && array->pvData == nullptr) {
        std::free(array);
        return nullptr;
    }
    array->cDims = 1;
    array->cbElements = size;
    array->fFeatures = vt == VT_VARIANT ? winsim::kFeatureVariant
                       : vt == VT_BSTR  ? winsim::kFeatureBstr
                                        : USHORT{0};
    array->rgsabound[0] = {count, lower};
    auto& heap = winsim::array_heap();
    std::lock_guard lock(heap.mutex);
    heap.arrays.insert(array);
    return array;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (array == nullptr)
        return S_OK;
    if (!winsim::is_array_of_process(array))
        return E_INVALIDARG;
    if (array->cLocks != 0)
        return DISP_E_ARRAYISLOCKED;
    const ULONG count = array->rgsabound[0].cElements;
    if ((array->fFeatures & winsim::kFeatureVariant) != 0) {
        auto* elements = static_cast<VARIANT*>(array->pvData);
        for (ULONG k = 0; k < count; ++k)
            (void)VariantClear(&elements[k]);
    } else if ((array->fFeatures & winsim::kFeatureBstr) != 0) {
        auto* elements = static_cast<BSTR*>(array->pvData);
        for (ULONG k = 0; k < count; ++k)
            SysFreeString(elements[k]);
    }
    {
        auto& heap = winsim::array_heap();
        std::lock_guard lock(heap.mutex);
        heap.arrays.erase(array);
    }
    std::free(array->pvData);
    std::free(array);
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (array == nullptr || data == nullptr || !winsim::is_array_of_process(array))
        return E_INVALIDARG;
    ++array->cLocks;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
    if (array == nullptr || !winsim::is_array_of_process(array))
        return E_INVALIDARG;
    if (array->cLocks == 0)
        return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}
