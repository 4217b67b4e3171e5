// A copy of the gateway in a folder of its own, with a fake Modbus device on loopback that its
// configuration names, registered (with our proxy/stub) so that COM reaches this copy. One per test
// suite; its end registers the build's own exe again for whoever runs next.
#pragma once

#include <functional>
#include <string>

#include "FakeDevice.h"

namespace tw::opc::test {

class TGatewayCopy {
public:
    // configure(folder, device port) writes the configuration database; it returns the error, or "".
    TGatewayCopy(const std::wstring& name, const std::function<std::string(const std::wstring&, int)>& configure);
    ~TGatewayCopy();
    TGatewayCopy(const TGatewayCopy&) = delete;
    TGatewayCopy& operator=(const TGatewayCopy&) = delete;

    std::wstring Exe() const { return folder + L"Tarnowick.exe"; }

    tw::test::TFakeDevice device;
    std::wstring folder;
    std::string configured;  // the database error, empty when written
};

}  // namespace tw::opc::test
