#include "HostileObjects.h"

#include <oleauto.h>

#include <cstring>
#include <string>

namespace tw::opc::hostile {
namespace {

volatile LONG liveTestObjects[TTestObject::TypeCount] = {};
CRITICAL_SECTION* ListLock() {
    static CRITICAL_SECTION* lock = [] {
        static CRITICAL_SECTION cs;
        InitializeCriticalSection(&cs);
        return &cs;
    }();
    return lock;
}
volatile LONG callbacks = 0;

void Fault(const std::string& text) {
    if (Hooks().fault) Hooks().fault(text);
}

void Reenter(const char* where) {
    if (Hooks().reenter) Hooks().reenter(where);
}

// A value the server made for a client: a plain type or a text, nothing a client cannot free.
bool PlainValue(const VARIANT& v) {
    if (v.vt & (VT_ARRAY | VT_BYREF | VT_VECTOR)) return false;
    return v.vt < VT_VARIANT || v.vt == VT_DECIMAL || (v.vt >= VT_I1 && v.vt <= VT_UINT);
}

HRESULT MasterOf(bool allGood) { return allGood ? S_OK : S_FALSE; }

}  // namespace

THooks& Hooks() {
    static THooks hooks;
    return hooks;
}

long TTestObject::Live() { return Live(Sink) + Live(Value) + Live(Record); }
long TTestObject::Live(TType type) { return liveTestObjects[type]; }

std::string TTestObject::Describe() {
    return std::to_string(Live(Sink)) + " sinks, " + std::to_string(Live(Value)) + " value objects, " +
           std::to_string(Live(Record)) + " record descriptions";
}

namespace {
TTestObject* liveList = nullptr;
}  // namespace

TTestObject::TTestObject(TType type) : birthCall_(Hooks().call), birthNumber_(Hooks().callNumber), type_(type) {
    InterlockedIncrement(&liveTestObjects[type_]);
    EnterCriticalSection(ListLock());
    next_ = liveList;
    if (next_) next_->prev_ = this;
    liveList = this;
    LeaveCriticalSection(ListLock());
}

TTestObject::~TTestObject() {
    InterlockedDecrement(&liveTestObjects[type_]);
    EnterCriticalSection(ListLock());
    if (prev_) prev_->next_ = next_;
    if (next_) next_->prev_ = prev_;
    if (liveList == this) liveList = next_;
    LeaveCriticalSection(ListLock());
}

std::string TTestObject::Births() {
    static const char* const kTypes[] = {"sink", "value object", "record description"};
    std::string out;
    EnterCriticalSection(ListLock());
    for (TTestObject* o = liveList; o; o = o->next_)
        out += std::string(kTypes[o->type_]) + " made for call " + std::to_string(o->birthNumber_) + " " +
               o->birthCall_ + ", " + std::to_string(o->refs_) + " references\n";
    LeaveCriticalSection(ListLock());
    return out;
}

ULONG TTestObject::ReleaseObject() {
    const LONG r = InterlockedDecrement(&refs_);
    if (r == 0) delete this;
    if (r < 0) Fault("a test object was released more often than it was referenced");
    return static_cast<ULONG>(r);
}

// ---- TSink ----

HRESULT TSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IOPCDataCallback*>(this);
    } else if (answers_ && IsEqualIID(riid, IID_IOPCDataCallback)) {
        Reenter("IOPCDataCallback query");
        *ppv = static_cast<IOPCDataCallback*>(this);
    } else if (answers_ && IsEqualIID(riid, IID_IOPCShutdown)) {
        *ppv = static_cast<IOPCShutdown*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG TSink::Release() {
    Reenter("sink Release");
    return ReleaseObject();
}

long TSink::Callbacks() { return callbacks; }

HRESULT TSink::Items(const char* what, bool withValues, HRESULT masterQuality, HRESULT masterError, DWORD count,
                     const OPCHANDLE* clients, const VARIANT* values, const WORD* qualities, const FILETIME* stamps,
                     const HRESULT* errors) {
    InterlockedIncrement(&callbacks);
    const std::string name(what);
    if (count == 0) Fault(name + " with no entries");
    if (count > 0 && (!clients || !errors || (withValues && (!values || !qualities || !stamps)))) {
        Fault(name + " without its arrays");
        return S_OK;
    }
    bool goodQualities = true, goodErrors = true;
    for (DWORD i = 0; i < count; ++i) {
        goodErrors = goodErrors && errors[i] == S_OK;
        if (!withValues) continue;
        goodQualities = goodQualities && (qualities[i] & 0xC0) == 0xC0;
        if (!PlainValue(values[i])) Fault(name + " hands out a value of type " + std::to_string(values[i].vt));
    }
    if (masterError != MasterOf(goodErrors)) Fault(name + ": master error disagrees with the entries");
    if (withValues && masterQuality != S_OK && masterQuality != S_FALSE)
        Fault(name + ": master quality is neither S_OK nor S_FALSE");
    (void)goodQualities;  // a refresh may report S_FALSE for items it left out
    Reenter(what);
    return S_OK;
}

HRESULT TSink::OnDataChange(DWORD, OPCHANDLE, HRESULT hrMasterquality, HRESULT hrMastererror, DWORD dwCount,
                            OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                            HRESULT* pErrors) {
    return Items("OnDataChange", true, hrMasterquality, hrMastererror, dwCount, phClientItems, pvValues, pwQualities,
                 pftTimeStamps, pErrors);
}

HRESULT TSink::OnReadComplete(DWORD, OPCHANDLE, HRESULT hrMasterquality, HRESULT hrMastererror, DWORD dwCount,
                              OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                              HRESULT* pErrors) {
    return Items("OnReadComplete", true, hrMasterquality, hrMastererror, dwCount, phClientItems, pvValues, pwQualities,
                 pftTimeStamps, pErrors);
}

HRESULT TSink::OnWriteComplete(DWORD, OPCHANDLE, HRESULT hrMastererr, DWORD dwCount, OPCHANDLE* pClienthandles,
                               HRESULT* pErrors) {
    return Items("OnWriteComplete", false, S_OK, hrMastererr, dwCount, pClienthandles, nullptr, nullptr, nullptr,
                 pErrors);
}

HRESULT TSink::OnCancelComplete(DWORD, OPCHANDLE) {
    InterlockedIncrement(&callbacks);
    Reenter("OnCancelComplete");
    return S_OK;
}

HRESULT TSink::ShutdownRequest(LPCWSTR szReason) {
    InterlockedIncrement(&callbacks);
    if (!szReason) Fault("ShutdownRequest without a reason");
    Reenter("ShutdownRequest");
    return S_OK;
}

// ---- TValueObject ----

HRESULT TValueObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
    if (IsEqualIID(riid, IID_IDispatch)) ++calledInto_;
    Reenter("value QueryInterface");
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

ULONG TValueObject::Release() {
    Reenter("value Release");
    return ReleaseObject();
}

HRESULT TValueObject::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT TValueObject::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT TValueObject::Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* pVarResult, EXCEPINFO*,
                             UINT*) {
    ++calledInto_;
    Reenter("value Invoke");
    if (dispIdMember != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    if (!pVarResult) return E_POINTER;
    VariantInit(pVarResult);
    switch (mode_) {
        case Number:
            pVarResult->vt = VT_I4;
            pVarResult->lVal = 1234;
            return S_OK;
        case Text:
            pVarResult->vt = VT_BSTR;
            pVarResult->bstrVal = SysAllocString(L"77");
            return S_OK;
        case Fails:
            return DISP_E_EXCEPTION;
        case Itself:
            // A value that is this object again: a converter that follows it never ends.
            if (++depth_ > 64) {
                --depth_;
                return DISP_E_EXCEPTION;
            }
            pVarResult->vt = VT_DISPATCH;
            pVarResult->pdispVal = this;
            AddRef();
            --depth_;
            return S_OK;
    }
    return E_UNEXPECTED;
}

// ---- TRecordInfo ----

HRESULT TRecordInfo::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IRecordInfo)) return E_NOINTERFACE;
    *ppv = static_cast<IRecordInfo*>(this);
    AddRef();
    return S_OK;
}

ULONG TRecordInfo::Release() { return ReleaseObject(); }

HRESULT TRecordInfo::RecordInit(PVOID pvNew) {
    if (!pvNew) return E_INVALIDARG;
    std::memset(pvNew, 0, kSize);
    return S_OK;
}

HRESULT TRecordInfo::RecordClear(PVOID pvExisting) {
    Reenter("RecordClear");
    return pvExisting ? S_OK : E_INVALIDARG;
}

HRESULT TRecordInfo::RecordCopy(PVOID pvExisting, PVOID pvNew) {
    ++copies_;
    Reenter("RecordCopy");
    if (!pvExisting || !pvNew) return E_INVALIDARG;
    std::memcpy(pvNew, pvExisting, kSize);
    return S_OK;
}

HRESULT TRecordInfo::GetGuid(GUID* pguid) {
    if (!pguid) return E_POINTER;
    *pguid = GUID{0x6A3B1F2C, 0x4D5E, 0x4F60, {0x81, 0x92, 0xA3, 0xB4, 0xC5, 0xD6, 0xE7, 0xF8}};
    return S_OK;
}

HRESULT TRecordInfo::GetName(BSTR* pbstrName) {
    if (!pbstrName) return E_POINTER;
    *pbstrName = SysAllocString(L"HostileRecord");
    return *pbstrName ? S_OK : E_OUTOFMEMORY;
}

HRESULT TRecordInfo::GetSize(ULONG* pcbSize) {
    if (!pcbSize) return E_POINTER;
    *pcbSize = kSize;
    return S_OK;
}

HRESULT TRecordInfo::GetTypeInfo(ITypeInfo** ppTypeInfo) {
    if (ppTypeInfo) *ppTypeInfo = nullptr;
    return E_NOTIMPL;
}

// Records live where oleaut32 puts the copies it makes of them: on the process heap.
PVOID TRecordInfo::RecordCreate() {
    void* p = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kSize);
    return p;
}

HRESULT TRecordInfo::RecordCreateCopy(PVOID pvSource, PVOID* ppvDest) {
    if (!ppvDest) return E_POINTER;
    *ppvDest = RecordCreate();
    if (!*ppvDest) return E_OUTOFMEMORY;
    return RecordCopy(pvSource, *ppvDest);
}

HRESULT TRecordInfo::RecordDestroy(PVOID pvRecord) {
    if (pvRecord) HeapFree(GetProcessHeap(), 0, pvRecord);
    return S_OK;
}

}  // namespace tw::opc::hostile
