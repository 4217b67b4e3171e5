#include "acquisition/ModBusObj.h"

#include "acquisition/PollingSwitch.h"
#include "values/DataPoints.h"
#include "values/Quality.h"

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

// Whole milliseconds, rounded up: an answer is never 0, which stands for none yet.
uint32_t ResponseMs(TScanClock::duration elapsed) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    if (us <= 0) return 1;
    const long long ms = (us + 999) / 1000;
    return ms > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

// What a register or coil holds after value was written to it: only the bits of its data type (a
// 16-bit register the value modulo 65536, as always); a coil is on (1) for any 16-bit value but 0.
uint64_t HeldValue(const TIOPointObj& point, uint64_t value) {
    return point.IsBit() ? static_cast<uint64_t>((value & 0xFFFF) != 0) : Normalized(value, point.DataType);
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
    Counters.Clear();  // the status items count since Start
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
    Counters.Connected.store(false, std::memory_order_relaxed);
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
    for (const TIOPointObj& point : Registers) {
        TRealDataPoint* p = DataPoints.Find(point.TagIndex);
        if (p && point.Unusable)
            p->SetQuality(kQualityConfigError);
        // Whatever the points of a simulated device hold did not come from it in this run; a value set
        // by hand stays.
        else if (p && Simulated && p->Quality() != kQualityLocalOverride)
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
    if (unit.SingleValue || Clock() >= SingleUntil[u]) {
        // A block that fails is not the failure of each of its registers: they are read one by one
        // below, and a lost connection marks the rest of the pass.
        const TExchange outcome = ReadInto(PollClient, unit, unit.SingleValue);
        if (outcome == TExchange::Answered || outcome == TExchange::Lost || unit.SingleValue) return outcome;
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

TExchange TModBusObj::ReadInto(TIdModBusClient& client, const TReadUnit& unit, bool markFailure, uint64_t* first) {
    uint16_t values[TIdModBusClient::MaxCoilRead];
    const auto began = Clock();
    const TExchange outcome =
        Exchange(client, [&] { return client.ReadBlock(unit.Function, unit.Number, unit.Count, values); });
    const auto elapsed = Clock() - began;
    for (std::size_t m = 0; m < unit.Members.size(); ++m) {
        const TReadMember& member = unit.Members[m];
        const TIOPointObj& point = Registers[static_cast<std::size_t>(member.Register)];
        if (outcome == TExchange::Answered) {
            // Every word of a value comes from this one answer: it is never torn between two reads.
            const uint64_t value = point.IsBit() ? values[member.Offset]
                                                 : DecodeWords(&values[member.Offset], point.DataType, WordOrder);
            DataPoints.Store(point.TagIndex, value, kQualityGood);
            if (first && m == 0) *first = value;
        } else if (markFailure) {
            DataPoints.SetQuality(point.TagIndex, FailedQuality(outcome));
        }
    }
    Note(outcome, elapsed);
    return outcome;
}

TExchange TModBusObj::ReadRegisterInto(TIdModBusClient& client, int index, uint64_t* value) {
    const TIOPointObj& point = Registers[static_cast<std::size_t>(index)];
    const TReadUnit unit{point.ReadFunction(), static_cast<uint16_t>(point.RegisterNo),
                         static_cast<uint16_t>(point.Width()), {{index, 0}}, true};
    return ReadInto(client, unit, true, value);
}

void TModBusObj::MarkPoints(const TReadUnit& unit, uint16_t quality) const {
    for (const TReadMember& member : unit.Members)
        DataPoints.SetQuality(Registers[static_cast<std::size_t>(member.Register)].TagIndex, quality);
}

void TModBusObj::Note(TExchange outcome, TScanClock::duration elapsed) {
    CommState.store(Reached(outcome) ? TCommState::Answering : TCommState::Failing, std::memory_order_relaxed);
    // An exception answer is an answer: the device is there and said no (its points show config error).
    const bool failed = !Reached(outcome);
    Counters.Requests.fetch_add(1, std::memory_order_relaxed);
    if (failed) Counters.Failures.fetch_add(1, std::memory_order_relaxed);
    Counters.LastFailed.store(failed, std::memory_order_relaxed);
    Counters.Connected.store(outcome != TExchange::Lost, std::memory_order_relaxed);
    if (!failed) Counters.LastResponseMs.store(ResponseMs(elapsed), std::memory_order_relaxed);
    if (outcome == TExchange::Lost)
        BackOff.Failed(Clock());
    else
        BackOff.Succeeded();
}

bool TModBusObj::FailFast() {
    // A running poll thread with the polling switch on retries the device and notices its return;
    // otherwise (the switch off, or the device stopped) nobody does, so an on-demand access may once
    // the wait is over.
    const bool pollRetries = PollingSwitch.load(std::memory_order_relaxed) && Running.load(std::memory_order_acquire);
    return BackOff.Active() && (pollRetries || !BackOff.MayTry(Clock()));
}

void TModBusObj::ScanRegister(int index) {
    if (Simulated || !ValidIndex(index) || Registers[static_cast<std::size_t>(index)].Unusable) return;
    ReadRegisterInto(PollClient, index);
}

uint64_t TModBusObj::ReadRegisterNow(int index) {
    if (Simulated || !ValidIndex(index)) return 0;
    return SampleRegisterNow(index).Value;
}

TPointSample TModBusObj::SampleRegisterNow(int index) {
    const int32_t tag = ValidIndex(index) ? Registers[static_cast<std::size_t>(index)].TagIndex : -1;
    const TRealDataPoint* point = DataPoints.Find(tag);
    const TPointSample held = point ? point->Sample() : TPointSample{};
    if (Simulated || !ValidIndex(index)) return held;
    if (Registers[static_cast<std::size_t>(index)].Unusable) return TPointSample{held.Value, kQualityConfigError};
    uint64_t value = held.Value;
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

TWriteResult TModBusObj::WriteRegisterValue(int index, uint64_t value) {
    if (!ValidIndex(index)) return TWriteResult::Failed;
    const TIOPointObj& point = Registers[static_cast<std::size_t>(index)];
    if (point.Unusable) return TWriteResult::Failed;
    const uint64_t held = HeldValue(point, value);
    if (Simulated) {
        DataPoints.Store(point.TagIndex, held, kQualityLocalOverride);
        return TWriteResult::Simulated;
    }
    if (point.IsReadOnly()) return TWriteResult::ReadOnly;
    TExchange outcome = TExchange::Lost;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (!FailFast()) {
            const auto began = Clock();
            outcome = Exchange(WriteClient, [&] { return SendWrite(point, held); });
            Note(outcome, Clock() - began);
        }
    }
    if (outcome != TExchange::Lost) std::this_thread::sleep_for(OnDemandPause);
    switch (outcome) {
    case TExchange::Answered:
        DataPoints.Store(point.TagIndex, held, kQualityGood);
        return TWriteResult::Written;
    case TExchange::Refused: return TWriteResult::Refused;  // the device is there; the point keeps what it holds
    default: DataPoints.SetQuality(point.TagIndex, kQualityCommFailure); return TWriteResult::Failed;
    }
}

void TExchangeCounters::Clear() {
    Requests.store(0, std::memory_order_relaxed);
    Failures.store(0, std::memory_order_relaxed);
    LastResponseMs.store(0, std::memory_order_relaxed);
    LastFailed.store(false, std::memory_order_relaxed);
    Connected.store(false, std::memory_order_relaxed);
}

TDeviceStatus TModBusObj::Status() const {
    TDeviceStatus status;
    status.Connected = Counters.Connected.load(std::memory_order_relaxed);
    status.Simulated = Simulated.load(std::memory_order_relaxed);
    status.Failing = Counters.LastFailed.load(std::memory_order_relaxed) || BackOff.Active();
    status.Requests = Counters.Requests.load(std::memory_order_relaxed);
    status.Failures = Counters.Failures.load(std::memory_order_relaxed);
    status.LastResponseMs = Counters.LastResponseMs.load(std::memory_order_relaxed);
    status.BlockReads = BlockReads;
    return status;
}

bool TModBusObj::SendWrite(const TIOPointObj& point, uint64_t value) {
    const auto number = static_cast<uint16_t>(point.RegisterNo);
    if (point.IsBit()) return WriteClient.WriteSingleCoil(number, static_cast<uint16_t>(value));
    uint16_t words[4];
    EncodeWords(value, point.DataType, WordOrder, words);
    const int width = point.Width();
    // A value of several registers goes in one request, so the device never holds half of it.
    if (width == 1 && !WriteMultiple) return WriteClient.WriteSingleRegister(number, words[0]);
    return WriteClient.WriteMultipleRegisters(number, static_cast<uint16_t>(width), words);
}

}  // namespace tw
