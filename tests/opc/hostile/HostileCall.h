// The hostile client's state (what it holds of the server) and one generated call: its arguments,
// its NULL pointers and the checks on what comes back.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "HostileRandom.h"
#include "HostileRun.h"
#include "OPCCOMN.h"
#include "OPCDA.h"

namespace tw::opc::hostile {

enum class TKind {
    Server,
    Group,
    EnumString,
    EnumUnknown,
    EnumItemAttributes,
    EnumConnectionPoints,
    EnumConnections,
    Point,
    World
};

// References the client holds on one server object (one reference each), and what it knows of it.
// Several records may name the same object (a group found again by name, say).
struct TObject {
    TKind kind = TKind::Server;
    std::vector<std::pair<IID, IUnknown*>> refs;  // IID_NULL: some interface of the object
    std::weak_ptr<TObject> owner;                 // a group's or a point's server (or group)
    OPCHANDLE handle = 0;                         // a group's server handle, when known
    bool removed = false;                         // RemoveGroup accepted for it
    std::wstring name;
    std::vector<OPCHANDLE> items, staleItems;  // a group's item handles
    std::vector<DWORD> cookies, staleCookies;  // a point's
};

class TRun;

class TWorld {
public:
    explicit TWorld(TRun& run) : run_(run) {}
    ~TWorld();

    std::shared_ptr<TObject> Any(TKind kind);
    std::shared_ptr<TObject> AnyObject();
    std::vector<std::shared_ptr<TObject>> All(TKind kind) const;
    // A group with a sink advised on its data point, as far as the client knows; or null.
    std::shared_ptr<TObject> SubscribedGroup();
    std::size_t Count(TKind kind) const;
    // Lets go of whole objects of the kind until at most cap are held.
    void Trim(TKind kind, std::size_t cap);
    std::shared_ptr<TObject> Adopt(TKind kind, REFIID iid, IUnknown* itf, const std::shared_ptr<TObject>& owner);
    // The object's interface iid (no reference added): one it holds, or one it asks for now.
    template <class Itf>
    Itf* As(TObject& object, REFIID iid) {
        return static_cast<Itf*>(Interface(object, iid));
    }
    IUnknown* Interface(TObject& object, REFIID iid);
    // Lets go of one reference of a random object: objects go in random order, servers before groups.
    void ReleaseOne();
    void ReleaseEverything();

    // Handles, good and bad: valid, stale, of another group, of another client's group, invalid.
    OPCHANDLE ItemHandle(const TObject* group);
    OPCHANDLE GroupHandle(const TObject* server);
    DWORD Cookie(const TObject* point);
    DWORD CancelId();
    const std::wstring& GroupName();

    std::vector<DWORD> cancelIds;       // recent, executed or not
    std::vector<OPCHANDLE> goneGroups;  // server handles of groups removed
    std::vector<std::wstring> groupNames;

private:
    void Drop(const std::shared_ptr<TObject>& object);
    TRun& run_;
    std::vector<std::shared_ptr<TObject>> objects_;
};

// The VARIANTs, texts and objects made for one call, freed after it by the test (never with
// VariantClear on types the test knows are not the server's to clear).
class TValueBag {
public:
    TValueBag() = default;
    TValueBag(const TValueBag&) = delete;
    TValueBag& operator=(const TValueBag&) = delete;
    ~TValueBag();
    BSTR Bstr(const wchar_t* text, UINT length);
    void Hold(IUnknown* object) { objects_.push_back(object); }  // takes the reference
    // A call that failed on its way (across processes) may have marshaled some of the objects
    // without the server ever unmarshaling them: this process's stubs would keep them forever.
    void DisconnectObjects();
    void Hold(SAFEARRAY* array) { arrays_.push_back(array); }
    void* Record();
    template <class T>
    T* Keep(T value) {
        storage_.push_back(std::make_unique<TBox<T>>(value));
        return &static_cast<TBox<T>*>(storage_.back().get())->value;
    }
    const wchar_t* Text(std::wstring text);

private:
    struct TBoxBase {
        virtual ~TBoxBase() = default;
    };
    template <class T>
    struct TBox : TBoxBase {
        explicit TBox(T v) : value(v) {}
        T value;
    };
    std::vector<BSTR> bstrs_;
    std::vector<IUnknown*> objects_;
    std::vector<SAFEARRAY*> arrays_;
    std::vector<void*> records_;
    std::vector<std::unique_ptr<TBoxBase>> storage_;
    std::vector<std::unique_ptr<std::wstring>> texts_;
};

// Poison for [out] pointers the server is given: if it is still there after the call, the server
// left the pointer undefined.
template <class T>
T Poison() {
    return reinterpret_cast<T>(static_cast<uintptr_t>(0x0BADF00D0BADF00Dull));
}

class TCall {
public:
    // nullSlot: -1 gives every pointer, i makes pointer i NULL, kRandomNulls draws them.
    static constexpr int kRandomNulls = -2;
    TCall(TRun& run, const struct TMethod& method, std::shared_ptr<TObject> target, int nullSlot);

    TRng& rng;
    TWorld& world;
    const TEnvironment& env;
    std::shared_ptr<TObject> target;
    HRESULT hr = E_UNEXPECTED;
    TValueBag bag;

    bool Null(int slot);
    template <class T>
    T* In(int slot, T* p) {
        return Null(slot) ? nullptr : p;
    }
    // Calls f (which returns the HRESULT) on the server, holding itf meanwhile.
    template <class F>
    HRESULT Invoke(IUnknown* itf, F f) {
        Begin(itf);
        hr = f();
        End(itf);
        return hr;
    }
    void Fault(const std::string& text);
    // Across processes: the proxy refused the call (a NULL it may not send) or could not unmarshal
    // its answer; [out] pointers may then hold what it unmarshaled before it gave up.
    bool RefusedByProxy() const;
    // Across processes: the call failed in the channel (refused by the proxy, server gone or
    // object disconnected), not in the server's method.
    bool FailedOnTheWay() const;

    // ---- arguments ----
    DWORD Count();                     // 0, 1, a few, 1000, 0xFFFFFFFF (in-process)
    std::size_t Entries(DWORD count);  // how many entries to really pass for count
    std::vector<OPCHANDLE> ItemHandles(std::size_t n);
    const wchar_t* Text();    // NULL-free: names, tags, "", huge, odd characters, patterns
    const wchar_t* ItemId();  // mostly tag names
    void Value(VARIANT& v);   // a VARIANT of any type; its contents are in bag
    std::vector<VARIANT> Values(std::size_t n);
    IID Iid();
    DWORD Lcid();
    HRESULT Code();
    DWORD Rate();
    FLOAT Deadband();
    LONG Bias();
    BOOL Flag();
    DWORD Source();
    VARTYPE Type();

    // ---- what comes back ----
    // A task block the server handed out in *slot (required: success must give one), at least
    // `bytes` long; freed here.
    template <class T>
    bool Returned(int slot, T* p, std::size_t bytes, bool required = true) {
        return CheckBlock(slot, static_cast<const void*>(p), bytes, required);
    }
    void FreeBlock(const void* p);
    void String(int slot, LPWSTR s, bool required = true);
    bool StringEntry(LPWSTR s);      // an element of an array: NULL or a terminated task string; frees it
    void BlockEntry(const void* p);  // an element of an array: NULL or a task block; frees it
    void Variant(VARIANT& v);        // an element the server filled: a value a client can clear
    // An interface handed out in *slot; adopted as kind (World: released at once).
    std::shared_ptr<TObject> Interface(int slot, IUnknown* itf, TKind kind, REFIID iid, bool required = true,
                                       const std::shared_ptr<TObject>& owner = nullptr);
    // S_OK means every entry S_OK, S_FALSE means some entry failed.
    void ErrorsAgree(const HRESULT* errors, std::size_t count);

private:
    bool CheckBlock(int slot, const void* p, std::size_t bytes, bool required);
    void Begin(IUnknown* itf);
    void End(IUnknown* itf);
    TRun& run_;
    const char* method_;
    uint32_t outs_;
    int nullSlot_;
    uint32_t decided_ = 0, nulls_ = 0;  // random NULLs, drawn once per slot
};

// One row of the table: a method of an interface the server exposes.
struct TMethod {
    const char* name;
    TKind target;
    int pointers;   // pointer parameters a client may pass as NULL, in slot order
    uint32_t outs;  // the [out] ones among them: never NULL across processes, where the stub
                    // hands the server storage of its own and the proxy fails only on the answer
    int weight;
    void (*call)(TCall& c);
};
const std::vector<TMethod>& Methods();

// An object of the kind, held by the world, made with well-formed calls when there is none; null
// when the server does not give one.
std::shared_ptr<TObject> Prepare(TRun& run, TKind kind);

// The state of one run.
class TRun {
public:
    TRun(const TEnvironment& environment, uint64_t seed);
    ~TRun();

    void RunOne(const TMethod& method, int nullSlot);
    // Inside a call the server made to one of the test's objects: sometimes one nested call.
    void Reenter(const char* where);
    void Fault(const std::string& method, const std::string& text);
    void Counted() { ++result.calls; }

    const TEnvironment& env;
    TRng rng;
    TWorld world;
    TRunResult result;
    uint64_t seed;
    int depth = 0;        // calls into the server on the stack
    bool nested = false;  // a nested call is under way
    const char* current = "";
    bool trace = false;                  // every call on stderr (TW_HOSTILE_TRACE)
    volatile ULONGLONG callStarted = 0;  // tick count when the outermost call began, 0 between calls

private:
    std::vector<std::string> seen_;
};

}  // namespace tw::opc::hostile
