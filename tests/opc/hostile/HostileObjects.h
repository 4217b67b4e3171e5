// The client-side COM objects a hostile client hands to the server: callback sinks (data and
// shutdown, or one that answers neither), and the objects inside VARIANT values (VT_DISPATCH,
// VT_UNKNOWN, VT_RECORD). Each checks what the server passes it, counts itself while alive (the
// server must let go of every one), and may call back into the server from inside a call, as a
// client does when the server's call-out pumps its messages.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <string>

#include "OPCCOMN.h"
#include "OPCDA.h"

namespace tw::opc::hostile {

// What the objects report to the run. Set by the run; empty functions do nothing.
struct THooks {
    // A chance to call into the server from inside one of our methods (where names the method).
    std::function<void(const char* where)> reenter;
    std::function<void(const std::string& fault)> fault;
    // The call being made when an object is made: told in the list of objects still alive.
    const char* call = "";
    std::size_t callNumber = 0;
};
THooks& Hooks();

class TTestObject {
public:
    enum TType { Sink, Value, Record, TypeCount };
    static long Live();
    static long Live(TType type);
    static std::string Describe();  // live ones by type
    static std::string Births();    // the calls that made the live ones

protected:
    explicit TTestObject(TType type);
    virtual ~TTestObject();
    ULONG AddRefObject() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG ReleaseObject();
    ULONG References() const { return static_cast<ULONG>(refs_); }
    // Live objects form a list (no allocation, so the heap counts are left alone).
    TTestObject* prev_ = nullptr;
    TTestObject* next_ = nullptr;
    const char* birthCall_;
    std::size_t birthNumber_;

private:
    volatile LONG refs_ = 1;
    TType type_;
};

// A sink for both connection points; answersCallbacks false makes a sink that answers only
// IUnknown, so the server finds no callback interface behind it.
class TSink final : public IOPCDataCallback, public IOPCShutdown, private TTestObject {
public:
    explicit TSink(bool answersCallbacks) : TTestObject(Sink), answers_(answersCallbacks) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefObject(); }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                           HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                             HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                             VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                             HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                              OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override;

    static long Callbacks();

private:
    HRESULT Items(const char* what, bool withValues, HRESULT masterQuality, HRESULT masterError, DWORD count,
                  const OPCHANDLE* clients, const VARIANT* values, const WORD* qualities, const FILETIME* stamps,
                  const HRESULT* errors);
    bool answers_;
};

// The object of a VT_DISPATCH or VT_UNKNOWN value. Its value (DISPID_VALUE) is a number, a text, an
// error, or the object itself again.
class TValueObject final : public IDispatch, private TTestObject {
public:
    enum TMode { Number, Text, Fails, Itself };
    explicit TValueObject(TMode mode) : TTestObject(Value), mode_(mode) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefObject(); }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    using TTestObject::References;
    // How often someone asked for its value or its dispatch interface.
    long CalledInto() const { return calledInto_; }

private:
    TMode mode_;
    int depth_ = 0;
    long calledInto_ = 0;
};

// The record description of a VT_RECORD value: a record of four bytes.
class TRecordInfo final : public IRecordInfo, private TTestObject {
public:
    static constexpr ULONG kSize = 4;
    TRecordInfo() : TTestObject(Record) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefObject(); }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE RecordInit(PVOID pvNew) override;
    HRESULT STDMETHODCALLTYPE RecordClear(PVOID pvExisting) override;
    HRESULT STDMETHODCALLTYPE RecordCopy(PVOID pvExisting, PVOID pvNew) override;
    HRESULT STDMETHODCALLTYPE GetGuid(GUID* pguid) override;
    HRESULT STDMETHODCALLTYPE GetName(BSTR* pbstrName) override;
    HRESULT STDMETHODCALLTYPE GetSize(ULONG* pcbSize) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(ITypeInfo** ppTypeInfo) override;
    HRESULT STDMETHODCALLTYPE GetField(PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFieldNoCopy(PVOID, LPCOLESTR, VARIANT*, PVOID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutField(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutFieldNoCopy(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFieldNames(ULONG*, BSTR*) override { return E_NOTIMPL; }
    BOOL STDMETHODCALLTYPE IsMatchingType(IRecordInfo* pRecordInfo) override { return pRecordInfo == this; }
    PVOID STDMETHODCALLTYPE RecordCreate() override;
    HRESULT STDMETHODCALLTYPE RecordCreateCopy(PVOID pvSource, PVOID* ppvDest) override;
    HRESULT STDMETHODCALLTYPE RecordDestroy(PVOID pvRecord) override;

    using TTestObject::References;
    long Copies() const { return copies_; }  // records copied through it

private:
    long copies_ = 0;
};

}  // namespace tw::opc::hostile
