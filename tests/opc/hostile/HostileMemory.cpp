#include "HostileMemory.h"

#include <cstdint>
#include <sstream>

#include "HostileObjects.h"
#include "opc/ComObject.h"
#include "opc/server/ServerSlots.h"

namespace tw::opc::hostile {
namespace {

constexpr std::size_t kSpySlots = std::size_t{1} << 21;
constexpr std::size_t kEmptyBlock = SIZE_MAX;

// The size asked for by the allocation in progress on this thread.
thread_local std::size_t pendingBytes = 0;
thread_local const void* pendingRealloc = nullptr;

std::size_t Hash(const void* p) {
    const auto v = (reinterpret_cast<std::uintptr_t>(p) >> 4) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(v >> 32);
}

class TLock {
public:
    explicit TLock(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~TLock() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION& cs_;
};

// Handles are small multiples of 4; a probe finds every open one (GetProcessHandleCount answers 0
// under Wine).
std::size_t OpenHandles() {
    std::size_t n = 0;
    for (std::uintptr_t h = 4; h < 0x40000; h += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) ++n;
    }
    return n;
}

void WalkHeaps(std::size_t& blocks, std::size_t& bytes) {
    HANDLE heaps[256];
    const DWORD n = GetProcessHeaps(256, heaps);
    for (DWORD i = 0; i < n && i < 256; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY e{};
        while (HeapWalk(heaps[i], &e)) {
            if (!(e.wFlags & PROCESS_HEAP_ENTRY_BUSY)) continue;
            ++blocks;
            bytes += e.cbData;
        }
        HeapUnlock(heaps[i]);
    }
}

}  // namespace

TTaskMemorySpy& TTaskMemorySpy::Instance() {
    static TTaskMemorySpy* spy = new TTaskMemorySpy;  // lives as long as COM may call it
    return *spy;
}

TTaskMemorySpy::TTaskMemorySpy()
    : slots_(static_cast<TSlot*>(
          VirtualAlloc(nullptr, kSpySlots * sizeof(TSlot), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))),
      capacity_(slots_ ? kSpySlots : 0) {
    InitializeCriticalSection(&lock_);
}

bool TTaskMemorySpy::Register() {
    static const bool registered = slots_ && SUCCEEDED(CoRegisterMallocSpy(this));
    return registered;
}

HRESULT TTaskMemorySpy::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMallocSpy)) return E_NOINTERFACE;
    *ppv = static_cast<IMallocSpy*>(this);
    return S_OK;
}

SIZE_T TTaskMemorySpy::PreAlloc(SIZE_T cbRequest) {
    pendingBytes = cbRequest;
    return cbRequest;
}

void* TTaskMemorySpy::PostAlloc(void* pActual) {
    if (pActual) Insert(pActual, pendingBytes);
    return pActual;
}

void* TTaskMemorySpy::PreFree(void* pRequest, BOOL fSpyed) {
    if (pRequest && fSpyed) Erase(pRequest);
    return pRequest;
}

SIZE_T TTaskMemorySpy::PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest, BOOL fSpyed) {
    *ppNewRequest = pRequest;
    pendingRealloc = fSpyed ? pRequest : nullptr;
    pendingBytes = cbRequest;
    return cbRequest;
}

void* TTaskMemorySpy::PostRealloc(void* pActual, BOOL) {
    // A failed realloc keeps the old block; a realloc to 0 bytes frees it.
    if (pendingRealloc && (pActual || pendingBytes == 0)) Erase(pendingRealloc);
    if (pActual) Insert(pActual, pendingBytes);
    pendingRealloc = nullptr;
    return pActual;
}

void TTaskMemorySpy::Insert(const void* p, std::size_t bytes) {
    TLock guard(lock_);
    if (!capacity_) return;
    std::size_t i = Hash(p) & (capacity_ - 1);
    while (slots_[i].p && slots_[i].p != p) i = (i + 1) & (capacity_ - 1);
    if (slots_[i].p != p) {
        ++live_;
    } else {
        liveBytes_ -= slots_[i].bytes == kEmptyBlock ? 0 : slots_[i].bytes;
    }
    slots_[i] = TSlot{p, bytes == 0 ? kEmptyBlock : bytes};
    liveBytes_ += bytes;
}

TTaskMemorySpy::TSlot* TTaskMemorySpy::Find(const void* p) const {
    if (!capacity_ || !p) return nullptr;
    std::size_t i = Hash(p) & (capacity_ - 1);
    for (std::size_t probes = 0; slots_[i].p && probes < capacity_; ++probes) {
        if (slots_[i].p == p) return &slots_[i];
        i = (i + 1) & (capacity_ - 1);
    }
    return nullptr;
}

// Linear probing with backward-shift deletion: no tombstones, so a long run keeps short probes.
void TTaskMemorySpy::Erase(const void* p) {
    TLock guard(lock_);
    TSlot* s = Find(p);
    if (!s) return;
    liveBytes_ -= s->bytes == kEmptyBlock ? 0 : s->bytes;
    --live_;
    const std::size_t mask = capacity_ - 1;
    std::size_t hole = static_cast<std::size_t>(s - slots_);
    for (std::size_t i = (hole + 1) & mask; slots_[i].p; i = (i + 1) & mask) {
        const std::size_t home = Hash(slots_[i].p) & mask;
        // The entry may fill the hole when its home is not cyclically in (hole, i].
        if (((i - home) & mask) >= ((i - hole) & mask)) {
            slots_[hole] = slots_[i];
            hole = i;
        }
    }
    slots_[hole] = TSlot{nullptr, 0};
}

std::size_t TTaskMemorySpy::SizeOf(const void* p) const {
    TLock guard(lock_);
    const TSlot* s = Find(p);
    return s && s->bytes != kEmptyBlock ? s->bytes : 0;
}

bool TTaskMemorySpy::IsLiveEmpty(const void* p) const {
    TLock guard(lock_);
    const TSlot* s = Find(p);
    return s && s->bytes == kEmptyBlock;
}

long TTaskMemorySpy::Live() const {
    TLock guard(lock_);
    return live_;
}

std::size_t TTaskMemorySpy::LiveBytes() const {
    TLock guard(lock_);
    return liveBytes_;
}

TLeakCounts CountNow() {
    TLeakCounts c;
    c.handles = OpenHandles();
    WalkHeaps(c.heapBlocks, c.heapBytes);
    c.taskAllocations = TTaskMemorySpy::Instance().Live();
    c.taskBytes = TTaskMemorySpy::Instance().LiveBytes();
    c.serverObjects = LiveComObjects();
    c.serverSlots = CountServerObjects();
    c.testObjects = TTestObject::Live();
    return c;
}

std::string Describe(const TLeakCounts& c) {
    std::ostringstream out;
    out << "handles " << c.handles << ", heap " << c.heapBlocks << " blocks / " << c.heapBytes << " bytes, task memory "
        << c.taskAllocations << " allocations / " << c.taskBytes << " bytes, server objects " << c.serverObjects
        << " in " << c.serverSlots << " slots, test objects " << c.testObjects;
    return out.str();
}

std::string Differences(const TLeakCounts& before, const TLeakCounts& after) {
    std::ostringstream out;
    auto field = [&](const char* name, long long b, long long a) {
        if (a != b) out << name << " " << b << " -> " << a << "; ";
    };
    field("handles", static_cast<long long>(before.handles), static_cast<long long>(after.handles));
    field("heap blocks", static_cast<long long>(before.heapBlocks), static_cast<long long>(after.heapBlocks));
    field("heap bytes", static_cast<long long>(before.heapBytes), static_cast<long long>(after.heapBytes));
    field("task allocations", before.taskAllocations, after.taskAllocations);
    field("task bytes", static_cast<long long>(before.taskBytes), static_cast<long long>(after.taskBytes));
    field("server objects", before.serverObjects, after.serverObjects);
    field("server slots", before.serverSlots, after.serverSlots);
    field("test objects", before.testObjects, after.testObjects);
    return out.str();
}

}  // namespace tw::opc::hostile
