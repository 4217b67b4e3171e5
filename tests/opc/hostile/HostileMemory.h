// What a hostile run may leave behind, counted from outside the server: the process's handles and
// heap blocks, the COM task allocator (through a malloc spy, which also tells a live task allocation
// from anything else), the server's live COM objects and slots, and the test's own COM objects.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstddef>
#include <string>

namespace tw::opc::hostile {

// Registered once for the whole process; it keeps its table outside every heap, so counting task
// allocations does not change the heap counts.
class TTaskMemorySpy final : public IMallocSpy {
public:
    static TTaskMemorySpy& Instance();
    bool Register();

    // Size of a live task allocation, or 0 when p is none (a null p, freed memory, a pointer into a
    // block, anything not from the task allocator).
    std::size_t SizeOf(const void* p) const;
    bool IsLive(const void* p) const { return SizeOf(p) != 0 || IsLiveEmpty(p); }
    long Live() const;
    std::size_t LiveBytes() const;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T cbRequest) override;
    void* STDMETHODCALLTYPE PostAlloc(void* pActual) override;
    void* STDMETHODCALLTYPE PreFree(void* pRequest, BOOL fSpyed) override;
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest, BOOL fSpyed) override;
    void* STDMETHODCALLTYPE PostRealloc(void* pActual, BOOL fSpyed) override;
    void* STDMETHODCALLTYPE PreGetSize(void* pRequest, BOOL) override { return pRequest; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* pRequest, BOOL) override { return pRequest; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int fActual) override { return fActual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

private:
    TTaskMemorySpy();
    struct TSlot {
        const void* p;
        std::size_t bytes;  // SIZE_MAX marks a zero-byte block
    };
    void Insert(const void* p, std::size_t bytes);
    void Erase(const void* p);
    TSlot* Find(const void* p) const;
    bool IsLiveEmpty(const void* p) const;

    mutable CRITICAL_SECTION lock_;
    TSlot* slots_;
    std::size_t capacity_;
    long live_ = 0;
    std::size_t liveBytes_ = 0;
};

struct TLeakCounts {
    std::size_t handles = 0;
    std::size_t heapBlocks = 0;
    std::size_t heapBytes = 0;
    long taskAllocations = 0;
    std::size_t taskBytes = 0;
    long serverObjects = 0;  // the server's live COM objects
    int serverSlots = 0;
    long testObjects = 0;  // sinks and values the test handed to the server
};

TLeakCounts CountNow();
std::string Describe(const TLeakCounts& c);
// Every field that differs, as text; empty when none does.
std::string Differences(const TLeakCounts& before, const TLeakCounts& after);

}  // namespace tw::opc::hostile
