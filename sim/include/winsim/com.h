#pragma once
// ole32 and oleaut32 of the simulated host: GUIDs, HRESULTs, IUnknown and IDispatch in the SDK's
// method order, apartments, object creation, BSTRs and the thread's error information. The
// classes it creates are the firewall's (winsim/netfw.h).

#include <winsim/types.h>

// ---------------------------------------------------------------- GUIDs
struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID left, REFGUID right) {
    if (left.Data1 != right.Data1 || left.Data2 != right.Data2 || left.Data3 != right.Data3)
        return false;
    for (int k = 0; k < 8; ++k)
        if (left.Data4[k] != right.Data4[k])
            return false;
    return true;
}
inline bool operator==(REFGUID left, REFGUID right) {
    return IsEqualGUID(left, right);
}

// ---------------------------------------------------------------- HRESULTs
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define S_OK (static_cast<HRESULT>(0x00000000))
#define S_FALSE (static_cast<HRESULT>(0x00000001))
#define E_NOTIMPL (static_cast<HRESULT>(0x80004001u))
#define E_NOINTERFACE (static_cast<HRESULT>(0x80004002u))
#define E_POINTER (static_cast<HRESULT>(0x80004003u))
#define E_FAIL (static_cast<HRESULT>(0x80004005u))
#define E_UNEXPECTED (static_cast<HRESULT>(0x8000FFFFu))
#define E_ACCESSDENIED (static_cast<HRESULT>(0x80070005u))
#define E_OUTOFMEMORY (static_cast<HRESULT>(0x8007000Eu))
#define E_INVALIDARG (static_cast<HRESULT>(0x80070057u))
#define DISP_E_BADVARTYPE (static_cast<HRESULT>(0x80020008u))
#define DISP_E_ARRAYISLOCKED (static_cast<HRESULT>(0x8002000Du))
#define RPC_E_CHANGED_MODE (static_cast<HRESULT>(0x80010106u))
#define CLASS_E_NOAGGREGATION (static_cast<HRESULT>(0x80040110u))
#define REGDB_E_CLASSNOTREG (static_cast<HRESULT>(0x80040154u))
#define CO_E_NOTINITIALIZED (static_cast<HRESULT>(0x800401F0u))
#define FACILITY_WIN32 7
#define FACILITY_NT_BIT 0x10000000u

constexpr HRESULT HRESULT_FROM_WIN32(DWORD error) {
    return static_cast<HRESULT>(error) <= 0
               ? static_cast<HRESULT>(error)
               : static_cast<HRESULT>((error & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

// ---------------------------------------------------------------- automation types
using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// Text with its length in the 4 bytes before the first character (SysAllocStringLen).
using BSTR = OLECHAR*;
using VARIANT_BOOL = short;
#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))
using LCID = DWORD;
using DISPID = LONG;
using VARTYPE = unsigned short;
using SCODE = LONG;

struct IUnknown;
struct IDispatch;
struct ITypeInfo;

// The variant types the simulated host hands out or takes.
#define VT_EMPTY 0
#define VT_NULL 1
#define VT_I4 3
#define VT_BSTR 8
#define VT_DISPATCH 9
#define VT_BOOL 11
#define VT_VARIANT 12
#define VT_UNKNOWN 13
#define VT_ARRAY 0x2000

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

// The SDK's layout: one bound per dimension, the elements at pvData.
struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    PVOID pvData;
    SAFEARRAYBOUND rgsabound[1];
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        VARIANT_BOOL boolVal;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        void* byref;
    };
};

struct DISPPARAMS {
    VARIANT* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// ---------------------------------------------------------------- interfaces
// Positions in the method table count from 0: QueryInterface 0, AddRef 1, Release 2, then
// IDispatch's four, then each interface's own methods in the SDK's order.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};
using LPUNKNOWN = IUnknown*;

struct IDispatch : public IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                  DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID member, REFIID riid, LCID locale, WORD flags,
                           DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                           UINT* argument_error) = 0;
};

struct IErrorInfo : public IUnknown {
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* help_file) = 0;
    virtual HRESULT GetHelpContext(DWORD* help_context) = 0;
};

struct ICreateErrorInfo : public IUnknown {
    virtual HRESULT SetGUID(REFGUID guid) = 0;
    virtual HRESULT SetSource(LPOLESTR source) = 0;
    virtual HRESULT SetDescription(LPOLESTR description) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR help_file) = 0;
    virtual HRESULT SetHelpContext(DWORD help_context) = 0;
};

inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch{
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IErrorInfo{
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo{
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// ---------------------------------------------------------------- apartments and objects
#define COINIT_MULTITHREADED 0x0u
#define COINIT_APARTMENTTHREADED 0x2u
#define COINIT_DISABLE_OLE1DDE 0x4u
#define COINIT_SPEED_OVER_MEMORY 0x8u
#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_INPROC_HANDLER 0x2u
#define CLSCTX_LOCAL_SERVER 0x4u
#define CLSCTX_REMOTE_SERVER 0x10u
#define CLSCTX_ALL \
    (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

// Joins the calling thread to an apartment. S_OK the first time; S_FALSE for each further call
// in the same model (each still needs its CoUninitialize); RPC_E_CHANGED_MODE when the thread
// is already in the other model (nothing to balance). A reserved pointer other than null or
// an unknown flag gives E_INVALIDARG. Fault injection: the injected HRESULT, nothing changed.
HRESULT CoInitializeEx(LPVOID reserved, DWORD coinit);
// Balances one successful CoInitializeEx of this thread; the last one leaves the apartment.
// Without one it does nothing.
void CoUninitialize();

// Creates NetFwPolicy2 or NetFwRule (winsim/netfw.h) and asks it for `riid`. Errors: null
// `object` E_POINTER; a thread outside any apartment CO_E_NOTINITIALIZED; an outer unknown
// CLASS_E_NOAGGREGATION; another class, or a context without CLSCTX_INPROC_SERVER,
// REGDB_E_CLASSNOTREG; an interface the class lacks E_NOINTERFACE. `*object` is null on every
// failure. Fault injection: the injected HRESULT; the quirk S_OK with a null object.
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN outer, DWORD context, REFIID riid,
                         LPVOID* object);

// ---------------------------------------------------------------- strings
// `length` characters copied from `text` (left uninitialised when `text` is null) and a
// terminating zero; null when out of memory (fault injection: null). Every string is counted
// until SysFreeString.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
BSTR SysAllocString(const OLECHAR* text);
// Null is allowed.
void SysFreeString(BSTR text);
// Characters, not counting the terminating zero; 0 for null.
UINT SysStringLen(BSTR text);

// ---------------------------------------------------------------- variants and arrays
// vt = VT_EMPTY.
void VariantInit(VARIANT* variant);
// Releases what the variant holds (a BSTR, an interface, an array with every element of it)
// and leaves it VT_EMPTY. Errors: null E_INVALIDARG; an array in use (locked)
// DISP_E_ARRAYISLOCKED; a type the simulated host does not know DISP_E_BADVARTYPE, the variant
// left as it was.
HRESULT VariantClear(VARIANT* variant);
// A one-dimensional array of `count` zeroed elements of type `vt` (VT_VARIANT, VT_BSTR or
// VT_I4) from index `lower`; null for another type or without memory. Counted until
// SafeArrayDestroy.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower, ULONG count);
// Releases every element (VariantClear, SysFreeString) and the array. Null is S_OK; a locked
// array DISP_E_ARRAYISLOCKED; a pointer that is no array of the process E_INVALIDARG.
HRESULT SafeArrayDestroy(SAFEARRAY* array);
// Locks the array and hands out its elements; SafeArrayUnaccessData unlocks it (E_UNEXPECTED
// when it is not locked). Null arguments E_INVALIDARG.
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);

// ---------------------------------------------------------------- error information
// Replaces the thread's error object (null clears it); the thread keeps a reference. Fault
// injection: the injected HRESULT, nothing changed.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Hands the thread's error object to the caller and clears it: S_OK, or S_FALSE with null when
// there is none. Fault injection: the injected HRESULT with null, the object left in place.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);
// A fresh error object whose fields the caller fills in; QueryInterface gives IErrorInfo.
// Fault injection: the injected HRESULT with null. IErrorInfo::GetDescription takes faults too.
HRESULT CreateErrorInfo(ICreateErrorInfo** info);
