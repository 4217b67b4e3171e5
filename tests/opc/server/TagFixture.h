// In-process server objects over a tag table built from devices of our own, and a client-side
// IOPCShutdown sink.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "OPCCOMN.h"
#include "OPCDA.h"
#include "acquisition/ModBusObjList.h"
#include "opc/server/ServIMPL.h"
#include "opc/server/ServerSlots.h"
#include "tags/TagTable.h"

namespace tw::opc::test {

// One device holding the named tags; ids are 6000 upwards in this order.
inline void BuildTags(const std::vector<std::string>& names) {
    ResetTagTable();
    DeviceList.Clear();
    TModBusObj& device = DeviceList.Add();
    for (const std::string& name : names) device.Registers[static_cast<size_t>(device.AddRegister())].TagName = name;
    BuildTagTable(DeviceList);
}

class TagServer : public ::testing::Test {
protected:
    void TearDown() override {
        for (IUnknown* s : servers) s->Release();
        EXPECT_EQ(CountServerObjects(), 0);
        ResetTagTable();
        DeviceList.Clear();
    }
    // A new server object queried for Itf; the test releases it at the end.
    template <class Itf>
    Itf* NewServer(REFIID iid) {
        Itf* itf = nullptr;
        EXPECT_EQ(TDA2::Create(iid, reinterpret_cast<void**>(&itf)), S_OK);
        if (itf) servers.push_back(itf);
        return itf;
    }
    std::vector<IUnknown*> servers;
};

// A client's sink: records the reasons it was sent; optionally lets go of a server object inside
// the call, as a client that disconnects at once does.
class TShutdownSink final : public IOPCShutdown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !(answersShutdown && IsEqualIID(riid, IID_IOPCShutdown)))
            return E_NOINTERFACE;
        *ppv = static_cast<IOPCShutdown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override {
        reasons.emplace_back(szReason);
        if (releaseOnRequest) {
            IUnknown* s = releaseOnRequest;
            releaseOnRequest = nullptr;
            s->Release();
        }
        return S_OK;
    }

    long refs = 1;  // the test's own
    bool answersShutdown = true;
    IUnknown* releaseOnRequest = nullptr;
    std::vector<std::wstring> reasons;
};

// The server object's IOPCShutdown connection point (one reference, or null).
inline IConnectionPoint* ShutdownPoint(IUnknown* server) {
    IConnectionPointContainer* cpc = nullptr;
    if (FAILED(server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)))) return nullptr;
    IConnectionPoint* cp = nullptr;
    cpc->FindConnectionPoint(IID_IOPCShutdown, &cp);
    cpc->Release();
    return cp;
}

}  // namespace tw::opc::test
