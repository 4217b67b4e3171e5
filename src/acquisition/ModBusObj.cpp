#include "acquisition/ModBusObj.h"

#include "acquisition/PollingSwitch.h"
#include "tags/DataPoints.h"
#include "tags/Quality.h"

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

// The quality a failed exchange leaves: the device refused the request, or it did not answer.
uint16_t FailedQuality(const TIdModBusClient& client, bool raised) {
    return !raised && client.LastOutcome == TModbusOutcome::Exception ? kQualityConfigError : kQualityCommFailure;
}

// What a register or coil holds after value was written to it: a coil is on (1) for any value but 0.
uint16_t HeldValue(const TIOPointObj& point, uint16_t value) {
    return point.RegisterType == 0 ? value : static_cast<uint16_t>(value != 0);
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
    if (Simulated) {
        // Whatever the points hold did not come from the device in this run; a value set by hand stays.
        for (const TIOPointObj& point : Registers)
            if (TRealDataPoint* p = DataPoints.Find(point.TagIndex); p && p->Quality() != kQualityLocalOverride)
                p->SetQuality(kQualityNotConnected);
    }
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

bool TModBusObj::ReadIntoPoint(TIdModBusClient& client, const TIOPointObj& point, uint16_t& value) {
    value = 0;
    bool ok = false;
    const auto number = static_cast<uint16_t>(point.RegisterNo);
    const bool raised = Raised(client, [&] {
        ok = point.RegisterType == 0 ? client.ReadRegisterValue(number, value) : client.ReadCoilValue(number, value);
    });
    if (ok) {
        DataPoints.Store(point.TagIndex, value, kQualityGood);
    } else if (TRealDataPoint* p = DataPoints.Find(point.TagIndex)) {
        p->SetQuality(FailedQuality(client, raised));
        value = p->Value();
    }
    const bool answered = ok || (!raised && client.LastOutcome == TModbusOutcome::Exception);
    NoteAnswer(answered);
    return answered;
}

void TModBusObj::ScanRegister(int index) {
    if (Simulated || !ValidIndex(index)) return;
    uint16_t value;
    ReadIntoPoint(PollClient, Registers[static_cast<std::size_t>(index)], value);
}

uint16_t TModBusObj::ReadRegisterNow(int index) {
    if (Simulated || !ValidIndex(index)) return 0;
    const TIOPointObj& point = Registers[static_cast<std::size_t>(index)];
    uint16_t value;
    bool answered;
    {
        std::lock_guard<std::mutex> guard(Lock);
        answered = ReadIntoPoint(ReadClient, point, value);
    }
    if (answered) std::this_thread::sleep_for(OnDemandPause);
    return value;
}

TWriteResult TModBusObj::WriteRegisterValue(int index, uint16_t value) {
    if (!ValidIndex(index)) return TWriteResult::Failed;
    const TIOPointObj& point = Registers[static_cast<std::size_t>(index)];
    if (Simulated) {
        DataPoints.Store(point.TagIndex, HeldValue(point, value), kQualityLocalOverride);
        return TWriteResult::Simulated;
    }
    const auto number = static_cast<uint16_t>(point.RegisterNo);
    bool ok = false;
    bool raised;
    {
        std::lock_guard<std::mutex> guard(Lock);
        raised = Raised(WriteClient, [&] {
            ok = point.RegisterType == 0 ? WriteClient.WriteSingleRegister(number, value)
                                         : WriteClient.WriteSingleCoil(number, value);
        });
    }
    if (!raised) std::this_thread::sleep_for(OnDemandPause);
    if (ok) {
        DataPoints.Store(point.TagIndex, HeldValue(point, value), kQualityGood);
        NoteAnswer(true);
        return TWriteResult::Written;
    }
    if (!raised && WriteClient.LastOutcome == TModbusOutcome::Exception) {
        NoteAnswer(true);  // the device is there; the point keeps what the device holds
        return TWriteResult::Refused;
    }
    DataPoints.SetQuality(point.TagIndex, kQualityCommFailure);
    NoteAnswer(false);
    return TWriteResult::Failed;
}

}  // namespace tw
