#include "acquisition/ModBusObj.h"

#include "acquisition/PollingSwitch.h"
#include "tags/DataPoints.h"

#include <chrono>
#include <thread>

namespace tw {

namespace {
constexpr auto ScanPause = std::chrono::milliseconds(2);
constexpr auto OnDemandPause = std::chrono::milliseconds(10);  // spaces out on-demand traffic to a device
constexpr auto StopPoll = std::chrono::milliseconds(10);

void Configure(TIdModBusClient& client) {
    client.Disconnect();
    client.Host.clear();
    client.Port = 502;
    client.ReadTimeout = 1000;
    client.ConnectTimeOut = 3000;
    client.TimeOut = 3000;
    client.ModBusFunction = 0;
    client.RegNumber = 0;
}

// Runs one exchange with a device; one that raises leaves its client closed. True when it raised.
template <typename Exchange>
bool Raised(TIdModBusClient& client, Exchange exchange) {
    try {
        exchange();
        return false;
    } catch (...) {
        client.Disconnect();
        return true;
    }
}

// One read of a register or coil; any failure leaves 0.
uint16_t ReadPoint(TIdModBusClient& client, const TIOPointObj& point, bool& raised) {
    uint16_t value = 0;
    const auto number = static_cast<uint16_t>(point.RegisterNo);
    raised = Raised(client, [&] {
        point.RegisterType == 0 ? client.ReadRegisterValue(number, value) : client.ReadCoilValue(number, value);
    });
    return raised ? 0 : value;
}
}  // namespace

TModBusObj::TModBusObj() {
    for (TIdModBusClient* client : {&ReadClient, &WriteClient, &PollClient}) Configure(*client);
    PollThread.Priority = TBMDThread::tpHigher;
    PollThread.OnExecute = [this](TBMDThread&, TBMDExecuteThread& worker) { ScanLoop(worker); };
}

TModBusObj::~TModBusObj() {
    PollThread.Stop();
    PollThread.WaitFor();
}

void TModBusObj::SetConnection(const std::string& host, int32_t port, uint8_t unitId) {
    for (TIdModBusClient* client : {&ReadClient, &WriteClient, &PollClient}) {
        client->Host = host;
        client->Port = port;
        client->UnitID = unitId;
    }
}

int TModBusObj::AddRegister() {
    Registers.emplace_back();
    return static_cast<int>(Registers.size()) - 1;
}

bool TModBusObj::Start() {
    try {
        ReadClient.Connect(ReadClient.ConnectTimeOut);
        if (!ReadClient.Connected()) Simulated = true;
    } catch (...) {
        Simulated = true;
    }
    ReadClient.Disconnect();  // the clients connect again on first use
    PollThread.Start();
    return true;
}

void TModBusObj::Stop() {
    PollThread.Stop();
    while (Running.load(std::memory_order_acquire)) std::this_thread::sleep_for(StopPoll);
    // The worker may not have reached its loop yet: wait until it has surely left PollClient alone.
    PollThread.WaitFor();
    if (!Simulated) {
        for (TIdModBusClient* client : {&ReadClient, &WriteClient, &PollClient})
            if (client->Connected()) client->Disconnect();
    }
}

void TModBusObj::ScanLoop(TBMDExecuteThread& worker) {
    Running.store(true, std::memory_order_release);
    for (;;) {
        std::this_thread::sleep_for(ScanPause);
        if (worker.Terminated()) break;
        if (PollingSwitch.load(std::memory_order_relaxed)) {
            // Looking at the flag before every register bounds Stop by one request, not a whole pass.
            for (int i = 0; i < static_cast<int>(Registers.size()) && !worker.Terminated(); ++i) ScanRegister(i);
        }
        std::this_thread::sleep_for(ScanPause);
    }
    Running.store(false, std::memory_order_release);
}

void TModBusObj::ScanRegister(int index) {
    if (Simulated || !ValidIndex(index)) return;
    const TIOPointObj& point = Registers[static_cast<std::size_t>(index)];
    bool raised;
    DataPoints.Store(point.TagIndex, ReadPoint(PollClient, point, raised));
}

uint16_t TModBusObj::ReadRegisterNow(int index) {
    if (Simulated || !ValidIndex(index)) return 0;
    const TIOPointObj& point = Registers[static_cast<std::size_t>(index)];
    uint16_t value;
    bool raised;
    {
        std::lock_guard<std::mutex> guard(Lock);
        value = ReadPoint(ReadClient, point, raised);
    }
    if (!raised) std::this_thread::sleep_for(OnDemandPause);
    DataPoints.Store(point.TagIndex, value);
    return value;
}

void TModBusObj::WriteRegisterValue(int index, uint16_t value) {
    if (Simulated || !ValidIndex(index)) return;
    const TIOPointObj& point = Registers[static_cast<std::size_t>(index)];
    const auto number = static_cast<uint16_t>(point.RegisterNo);
    bool raised;
    {
        std::lock_guard<std::mutex> guard(Lock);
        raised = Raised(WriteClient, [&] {
            point.RegisterType == 0 ? WriteClient.WriteSingleRegister(number, value)
                                    : WriteClient.WriteSingleCoil(number, value);
        });
    }
    if (!raised) std::this_thread::sleep_for(OnDemandPause);
}

}  // namespace tw
