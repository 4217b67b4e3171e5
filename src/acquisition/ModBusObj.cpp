#include "acquisition/ModBusObj.h"

#include "acquisition/PollingSwitch.h"
#include "tags/DataPoints.h"
#include "tags/Quality.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

namespace tw {

namespace {
constexpr auto PassPause = std::chrono::milliseconds(4);  // between passes of a device scanned continuously
// The longest a scan loop rests without looking at the clock again; it is woken for whatever it waits
// for, so this only bounds a wake that went astray.
constexpr auto LongestRest = std::chrono::seconds(1);
constexpr auto OnDemandPause = std::chrono::milliseconds(10);  // spaces out on-demand traffic to a device
constexpr auto StartPoll = std::chrono::milliseconds(1);
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

// Runs one exchange with a device and says how it went; one that raises leaves its client closed.
template <typename Request>
TExchange Exchange(TIdModBusClient& client, Request request) {
    for (bool retried = false;; retried = true) {
        const bool wasOpen = client.Connected();
        bool ok = false;
        try {
            ok = request();
        } catch (...) {
            client.Disconnect();
            // A connection the device closed while it lay idle fails on first use: that says nothing
            // about the device, so the exchange is tried once more on a fresh connection.
            if (wasOpen && !retried) continue;
            return TExchange::Lost;
        }
        if (ok) return TExchange::Answered;
        if (client.LastOutcome == TModbusOutcome::Exception) return TExchange::Refused;
        // The client hangs up after a time-out or an answer it could not frame: the next request
        // would need a new connection anyway.
        return client.Connected() ? TExchange::Failed : TExchange::Lost;
    }
}

// The quality a failed exchange leaves: the device refused the request, or it did not answer.
uint16_t FailedQuality(TExchange outcome) {
    return outcome == TExchange::Refused ? kQualityConfigError : kQualityCommFailure;
}

bool Reached(TExchange outcome) { return outcome == TExchange::Answered || outcome == TExchange::Refused; }

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

void TModBusObj::BeginStart() {
    BackOff.Clear();
    if (PollThread.Running()) return;
    PollThread.WaitFor();  // a worker told to stop has left the plan alone
    Plan = PlanReads(Registers, BlockReads);
    SingleUntil.assign(Plan.size(), TScanClock::time_point{});
    Probing.store(true, std::memory_order_release);
    PollThread.Start();
}

bool TModBusObj::Start() {
    BeginStart();
    while (!Started()) std::this_thread::sleep_for(StartPoll);
    return true;
}

void TModBusObj::Stop() {
    RequestStop();
    while (Running.load(std::memory_order_acquire)) std::this_thread::sleep_for(StopPoll);
    // The worker may not have reached its loop yet: wait until it has surely left PollClient alone.
    PollThread.WaitFor();
    if (!Simulated) {
        for (TIdModBusClient* client : {&ReadClient, &WriteClient, &PollClient})
            if (client->Connected()) client->Disconnect();
    }
}

void TModBusObj::Probe(const TBMDExecuteThread& worker) {
    // Through the poll thread's own connection, so that probing every device at once shares nothing.
    if (!worker.Terminated()) {
        try {
            PollClient.Connect(PollClient.ConnectTimeOut);
            if (!PollClient.Connected()) Simulated = true;
        } catch (...) {
            Simulated = true;
        }
        PollClient.Disconnect();  // the clients connect again on first use
    }
    if (Simulated) {
        // Whatever the points hold did not come from the device in this run; a value set by hand stays.
        for (const TIOPointObj& point : Registers)
            if (TRealDataPoint* p = DataPoints.Find(point.TagIndex); p && p->Quality() != kQualityLocalOverride)
                p->SetQuality(kQualityNotConnected);
    }
    Probing.store(false, std::memory_order_release);
}

void TModBusObj::ScanLoop(TBMDExecuteThread& worker) {
    Running.store(true, std::memory_order_release);
    Probe(worker);
    // Woken when the switch turns on, by Stop, and by a test's clock: the loop rests until something
    // is due instead of looking every few milliseconds, which a thousand devices would feel.
    TSwitchListener listening(PollingSwitch, worker);
    std::optional<TScanClock::time_point> lastPass;
    while (!worker.Terminated()) worker.Pause(ScanTurn(worker, lastPass));
    Running.store(false, std::memory_order_release);
}

TScanClock::duration TModBusObj::ScanTurn(const TBMDExecuteThread& worker,
                                          std::optional<TScanClock::time_point>& lastPass) {
    if (!PollingSwitch.load(std::memory_order_relaxed) || Simulated) return LongestRest;
    const TScanClock::time_point now = Clock();
    TScanClock::time_point due = BackOff.NextTry();
    if (ScanIntervalMs > 0 && lastPass) due = std::max(due, *lastPass + std::chrono::milliseconds(ScanIntervalMs));
    if (now < due) return std::min<TScanClock::duration>(due - now, LongestRest);
    lastPass = now;
    ScanPass(worker);
    return PassPause;
}

void TModBusObj::ScanPass(const TBMDExecuteThread& worker) {
    // Looking at the flag before every request bounds Stop by one request, not a whole pass.
    for (std::size_t u = 0; u < Plan.size() && !worker.Terminated() && !Simulated; ++u) {
        if (ScanUnit(u, worker) != TExchange::Lost) continue;
        // Every further request would wait out its own time-out: the rest of the pass fails at once.
        for (std::size_t rest = u; rest < Plan.size(); ++rest) MarkPoints(Plan[rest], kQualityCommFailure);
        return;
    }
}

TExchange TModBusObj::ScanUnit(std::size_t u, const TBMDExecuteThread& worker) {
    const TReadUnit& unit = Plan[u];
    const bool asBlock = unit.Count == 1 || Clock() >= SingleUntil[u];
    if (asBlock) {
        const TExchange outcome =
            ReadInto(PollClient, unit.Coil, unit.Number, unit.Count, unit.Members.data(), unit.Members.size());
        if (outcome == TExchange::Answered || outcome == TExchange::Lost || unit.Count == 1) return outcome;
        // Refused or answered short: some of these numbers may not exist on the device. One at a time
        // for a while, so that those that do exist are read.
        SingleUntil[u] = Clock() + SingleReadsFor;
    }
    TExchange last = TExchange::Answered;
    for (const TReadMember& member : unit.Members) {
        if (worker.Terminated()) break;
        last = ReadRegisterInto(PollClient, member.Register);
        if (last == TExchange::Lost) break;
    }
    return last;
}

TExchange TModBusObj::ReadInto(TIdModBusClient& client, bool coil, uint16_t number, uint16_t count,
                               const TReadMember* members, std::size_t memberCount, uint16_t* first) {
    uint16_t values[TIdModBusClient::MaxCoilRead];
    const TExchange outcome = Exchange(client, [&] {
        return coil ? client.ReadCoilBlock(number, count, values) : client.ReadRegisterBlock(number, count, values);
    });
    for (std::size_t m = 0; m < memberCount; ++m) {
        const int32_t tag = Registers[static_cast<std::size_t>(members[m].Register)].TagIndex;
        if (outcome == TExchange::Answered)
            DataPoints.Store(tag, values[members[m].Offset], kQualityGood);
        else
            DataPoints.SetQuality(tag, FailedQuality(outcome));
    }
    if (first && outcome == TExchange::Answered) *first = values[0];
    Note(outcome);
    return outcome;
}

TExchange TModBusObj::ReadRegisterInto(TIdModBusClient& client, int index, uint16_t* value) {
    const TIOPointObj& point = Registers[static_cast<std::size_t>(index)];
    const TReadMember member{index, 0};
    return ReadInto(client, point.RegisterType != 0, static_cast<uint16_t>(point.RegisterNo), 1, &member, 1, value);
}

void TModBusObj::MarkPoints(const TReadUnit& unit, uint16_t quality) const {
    for (const TReadMember& member : unit.Members)
        DataPoints.SetQuality(Registers[static_cast<std::size_t>(member.Register)].TagIndex, quality);
}

void TModBusObj::Note(TExchange outcome) {
    CommState.store(Reached(outcome) ? TCommState::Answering : TCommState::Failing, std::memory_order_relaxed);
    if (outcome == TExchange::Lost)
        BackOff.Failed(Clock());
    else
        BackOff.Succeeded();
}

bool TModBusObj::FailFast() {
    // With the polling switch on, the poll thread's retries notice the device's return; with it off
    // nobody retries, so an on-demand access may once the wait is over.
    return BackOff.Active() && (PollingSwitch.load(std::memory_order_relaxed) || !BackOff.MayTry(Clock()));
}

void TModBusObj::ScanRegister(int index) {
    if (Simulated || !ValidIndex(index)) return;
    ReadRegisterInto(PollClient, index);
}

uint16_t TModBusObj::ReadRegisterNow(int index) {
    if (Simulated || !ValidIndex(index)) return 0;
    return SampleRegisterNow(index).Value;
}

TPointSample TModBusObj::SampleRegisterNow(int index) {
    const int32_t tag = ValidIndex(index) ? Registers[static_cast<std::size_t>(index)].TagIndex : -1;
    const TRealDataPoint* point = DataPoints.Find(tag);
    const TPointSample held = point ? point->Sample() : TPointSample{};
    if (Simulated || !ValidIndex(index)) return held;
    uint16_t value = held.Value;
    TExchange outcome = TExchange::Lost;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (FailFast())
            DataPoints.SetQuality(tag, kQualityCommFailure);
        else
            outcome = ReadRegisterInto(ReadClient, index, &value);
    }
    if (outcome != TExchange::Lost) std::this_thread::sleep_for(OnDemandPause);
    // What this read obtained, not what the point holds now: a poll read that was in flight may have
    // stored an older value since.
    if (outcome == TExchange::Answered) return TPointSample{value, kQualityGood};
    return TPointSample{point ? point->Value() : held.Value, FailedQuality(outcome)};
}

TWriteResult TModBusObj::WriteRegisterValue(int index, uint16_t value) {
    if (!ValidIndex(index)) return TWriteResult::Failed;
    const TIOPointObj& point = Registers[static_cast<std::size_t>(index)];
    if (Simulated) {
        DataPoints.Store(point.TagIndex, HeldValue(point, value), kQualityLocalOverride);
        return TWriteResult::Simulated;
    }
    const auto number = static_cast<uint16_t>(point.RegisterNo);
    TExchange outcome = TExchange::Lost;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (!FailFast()) {
            outcome = Exchange(WriteClient, [&] {
                return point.RegisterType == 0 ? WriteClient.WriteSingleRegister(number, value)
                                               : WriteClient.WriteSingleCoil(number, value);
            });
            Note(outcome);
        }
    }
    if (outcome != TExchange::Lost) std::this_thread::sleep_for(OnDemandPause);
    switch (outcome) {
    case TExchange::Answered:
        DataPoints.Store(point.TagIndex, HeldValue(point, value), kQualityGood);
        return TWriteResult::Written;
    case TExchange::Refused: return TWriteResult::Refused;  // the device is there; the point keeps what it holds
    default: DataPoints.SetQuality(point.TagIndex, kQualityCommFailure); return TWriteResult::Failed;
    }
}

}  // namespace tw
