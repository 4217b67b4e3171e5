// Item management at scale: one AddItems of N items over N distinct tags into a group, then one
// RemoveItems of them all, for N = 1,000 and 10,000. Runs under Wine in the Windows build. The time
// per item must stay flat as N grows: lookups by name and by handle are not searches.
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "OPCDA.h"
#include "acquisition/ModBusObjList.h"
#include "opc/groups/GroupUnit.h"
#include "opc/server/ServIMPL.h"
#include "tags/TagTable.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTags = 10000;
constexpr int kRounds = 15;

std::wstring TagName(int i) { return L"Tank" + std::to_wstring(100000 + i); }

void BuildTags() {
    tw::TModBusObj& device = tw::DeviceList.Add();
    for (int i = 0; i < kTags; ++i) {
        tw::TIOPointObj& r = device.Registers[static_cast<size_t>(device.AddRegister())];
        r.RegisterNo = i + 1;
        r.TagName = "Tank" + std::to_string(100000 + i);
    }
    tw::BuildTagTable(tw::DeviceList);
}

// Microseconds per item for one add and one remove of count items.
double AddRemoveMicrosPerItem(IOPCItemMgt* group, int count, const std::vector<std::wstring>& names) {
    std::vector<OPCITEMDEF> defs(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        defs[static_cast<size_t>(i)] = OPCITEMDEF{};
        defs[static_cast<size_t>(i)].szAccessPath = const_cast<LPWSTR>(L"");
        defs[static_cast<size_t>(i)].szItemID = const_cast<LPWSTR>(names[static_cast<size_t>(i)].c_str());
        defs[static_cast<size_t>(i)].bActive = TRUE;
        defs[static_cast<size_t>(i)].hClient = static_cast<OPCHANDLE>(i);
    }
    const auto start = Clock::now();
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    if (group->AddItems(static_cast<DWORD>(count), defs.data(), &results, &errors) != S_OK) {
        std::fprintf(stderr, "AddItems failed\n");
        std::exit(1);
    }
    std::vector<OPCHANDLE> handles(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) handles[static_cast<size_t>(i)] = results[i].hServer;
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    // Removed in the order added: each removal takes the item at the front of the list.
    if (group->RemoveItems(static_cast<DWORD>(count), handles.data(), &errors) != S_OK) {
        std::fprintf(stderr, "RemoveItems failed\n");
        std::exit(1);
    }
    CoTaskMemFree(errors);
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

}  // namespace

int wmain() {
    if (FAILED(OleInitialize(nullptr))) return 1;
    BuildTags();
    std::vector<std::wstring> names;
    for (int i = 0; i < kTags; ++i) names.push_back(TagName(i));

    IOPCServer* server = nullptr;
    if (FAILED(tw::opc::TDA2::Create(IID_IOPCServer, reinterpret_cast<void**>(&server)))) return 1;
    OPCHANDLE h = 0;
    DWORD revised = 0;
    IUnknown* unknown = nullptr;
    if (FAILED(server->AddGroup(L"bench", TRUE, 1000, 0, nullptr, nullptr, 0, &h, &revised, IID_IOPCItemMgt,
                                &unknown)))
        return 1;
    auto* group = static_cast<IOPCItemMgt*>(unknown);

    // Best of several rounds, the two sizes taken in turn so that load from elsewhere hits both alike.
    AddRemoveMicrosPerItem(group, 1000, names);  // warm-up
    double small = 1e300, large = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        small = std::min(small, AddRemoveMicrosPerItem(group, 1000, names));
        large = std::min(large, AddRemoveMicrosPerItem(group, kTags, names));
    }
    std::printf("tags: %d\n", kTags);
    std::printf("add_remove_us_per_item_1k: %.3f\n", small);
    std::printf("add_remove_us_per_item_10k: %.3f\n", large);
    std::printf("growth_ratio: %.2f\n", large / small);

    group->Release();
    server->Release();
    OleUninitialize();
    return 0;
}
