// The run-time object of one enabled Modbus TCP device: its registers, three connections and poll thread.
#pragma once

#include "acquisition/BackOff.h"
#include "acquisition/BMDThread.h"
#include "acquisition/IOPointObj.h"
#include "acquisition/ReadPlan.h"
#include "modbus/IdModBusClient.h"
#include "values/DataPoints.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tw {

// What a write to a device came to. Only Written and Simulated mean the value is where the client
// wanted it. ReadOnly: an input register or discrete input of a live device, to which nothing is sent.
enum class TWriteResult { Written, Simulated, Refused, Failed, ReadOnly };

// Whether a device answers, as its reads and writes last found it: the event log reports the changes.
enum class TCommState : int { Unknown, Answering, Failing };

// How one exchange with a device went: answered; refused with an exception answer; failed with a
// useless answer on a connection that stays open; or lost: no connection, or no answer in time.
enum class TExchange { Answered, Refused, Failed, Lost };

// What a device's exchanges since its Start came to, for its status items. Written by whichever
// thread talked to the device, read by the main thread: each figure on its own, relaxed, no lock, so
// the scan loop pays a few uncontended atomic operations a request. Every exchange counts: poll
// reads, on-demand reads and writes, a block and a single read alike, once also when it was sent
// again on a fresh connection; an access that fails at once during a back-off sends nothing and
// counts nothing.
struct TExchangeCounters {
    std::atomic<uint32_t> Requests{0};        // modulo 2^32
    std::atomic<uint32_t> Failures{0};        // without an answer: none in time, none framed, no connection
    std::atomic<uint32_t> LastResponseMs{0};  // of the last answered one, rounded up; 0: none answered yet
    std::atomic<bool> LastFailed{false};      // the last one failed
    std::atomic<bool> Connected{false};       // the last one left its connection open, and no Stop closed it
    void Clear();
};

// A device's health as its status items publish it.
struct TDeviceStatus {
    bool Connected = false;
    bool Simulated = false;
    bool Failing = false;  // the last exchange failed, or the device is in its back-off
    uint32_t Requests = 0;
    uint32_t Failures = 0;
    uint32_t LastResponseMs = 0;
    bool BlockReads = false;
};

class TModBusObj {
public:
    std::string Description;
    std::atomic<bool> Simulated{false};  // set when Start cannot reach the device; never cleared
    std::vector<TIOPointObj> Registers;  // configuration order; index = register index
    // Read runs of consecutive registers with one request each (set while stopped; off: one per register).
    bool BlockReads = false;
    // How the device lays out values of several registers (set while stopped).
    TWordOrder WordOrder = TWordOrder::HighFirst;
    // Writes a 16-bit register with function 16 instead of 6: some devices take only 16.
    bool WriteMultiple = false;
    // A pass starts no sooner than this after the previous one started; 0 scans continuously. Set while stopped.
    uint32_t ScanIntervalMs = 0;
    // Separate connections so that no client is ever used by two threads: ReadClient and WriteClient
    // under Lock for on-demand access, PollClient by the poll thread alone.
    TIdModBusClient ReadClient;
    TIdModBusClient WriteClient;
    TIdModBusClient PollClient;
    std::atomic<bool> Running{false};  // true while the scan loop runs
    // Written by whichever thread talked to the device last; read by the main thread's log check.
    std::atomic<TCommState> CommState{TCommState::Unknown};
    TCommState LoggedCommState = TCommState::Unknown;  // main thread only
    TExchangeCounters Counters;  // cleared by Start
    // After a lost connection the device is left alone for a while: the poll thread's retry is what
    // notices it is back; on-demand reads and writes fail at once meanwhile (with the polling switch
    // off nobody else retries, so one of them may then try once the wait is over).
    TDeviceBackOff BackOff;
    // A block the device refused, or answered short, is read one register at a time for this long
    // before it is tried as a block again.
    static constexpr auto SingleReadsFor = std::chrono::seconds(60);
    // The time the back-off and the block memory go by; tests drive their own. Set while stopped.
    std::function<TScanClock::time_point()> Clock = [] { return TScanClock::now(); };
    TBMDThread PollThread;             // declared after what its worker uses, so it ends first
    std::mutex Lock;

    TModBusObj();
    ~TModBusObj();
    TModBusObj(const TModBusObj&) = delete;
    TModBusObj& operator=(const TModBusObj&) = delete;

    // Sets host, port and unit on all three clients; connects nothing.
    void SetConnection(const std::string& host, int32_t port, uint8_t unitId);
    void ClearRegisters() { Registers.clear(); }
    // Appends an empty register record and returns its index.
    int AddRegister();

    // Starts the poll thread, which first probes the device (marking it simulated when unreachable);
    // Started() tells when the probe is over. The points of a simulated device read as not connected
    // until a value is set by hand, those of unusable registers as config error. A poll thread that
    // runs keeps its plan and what its probe found.
    void BeginStart();
    bool Started() const { return !Probing.load(std::memory_order_acquire); }
    // BeginStart, and the wait for the probe. Always true.
    bool Start();
    // Tells the poll thread to end, without waiting: Stop then waits for one device at most.
    void RequestStop() { PollThread.Stop(); }
    // Ends the poll thread, waiting at most for the register read in progress, and closes the connections.
    void Stop();

    // Poll thread only: reads register i through PollClient into its data point. A failed read keeps
    // the value last obtained and marks it BAD: comm failure, or config error for an exception answer.
    void ScanRegister(int index);
    // On demand, under Lock, through ReadClient: reads register i into its data point, as a scan read
    // does, and returns the point's value. During a back-off it only marks the point comm failure.
    uint64_t ReadRegisterNow(int index);
    // ReadRegisterNow, answering the value and quality this very read obtained: the last value with
    // the failure's quality when it failed. A simulated device's point is answered as it stands.
    TPointSample SampleRegisterNow(int index);
    // On demand, under Lock, through WriteClient: value, in the bits of the register's data type, goes
    // out in the device's word order with function 6 (5 for a coil), or 16 for a value of several
    // registers or a device that writes with function 16. The data point takes the value only when the
    // device took it (GOOD), or when the device is simulated (GOOD local override); a transport
    // failure marks the point's last value as a comm failure. During a back-off nothing is sent:
    // Failed at once.
    TWriteResult WriteRegisterValue(int index, uint64_t value);
    // The counters and states as they stand; any thread.
    TDeviceStatus Status() const;

private:
    void ScanLoop(TBMDExecuteThread& worker);
    // On the poll thread, before its first pass: can the device be reached at all?
    void Probe(const TBMDExecuteThread& worker);
    // How long the loop may rest before it looks again; runs a pass when one is due.
    TScanClock::duration ScanTurn(const TBMDExecuteThread& worker, std::optional<TScanClock::time_point>& lastPass);
    // One pass over the read plan that Start made. A lost connection ends the pass: the points not
    // read yet are marked comm failure at once, and the device enters its back-off.
    void ScanPass(const TBMDExecuteThread& worker);
    // Reads unit u of the plan; a block that fails but for a lost connection is read register by
    // register, and only a register whose own read fails changes quality.
    TExchange ScanUnit(std::size_t u, const TBMDExecuteThread& worker);
    // One read of the unit through client, every member's value stored in its point. A failed read
    // keeps their values; markFailure marks them with its quality. first, when given, receives the
    // first member's value (untouched unless answered).
    TExchange ReadInto(TIdModBusClient& client, const TReadUnit& unit, bool markFailure, uint64_t* first = nullptr);
    TExchange ReadRegisterInto(TIdModBusClient& client, int index, uint64_t* value = nullptr);
    // The exchange that writes value to register i through WriteClient.
    bool SendWrite(const TIOPointObj& point, uint64_t value);
    void MarkPoints(const TReadUnit& unit, uint16_t quality) const;
    // What an exchange that took elapsed tells about the device, for the event log, the back-off and
    // the counters.
    void Note(TExchange outcome, TScanClock::duration elapsed);
    // On-demand access finds the device in its back-off: it fails without a request.
    bool FailFast();
    bool ValidIndex(int index) const { return index >= 0 && static_cast<std::size_t>(index) < Registers.size(); }

    // Made by Start, read by the poll thread while it runs (the destructor ends it before these go).
    std::vector<TReadUnit> Plan;
    std::vector<TScanClock::time_point> SingleUntil;  // per unit of Plan: read register by register until then
    std::atomic<bool> Probing{false};  // from BeginStart until the poll thread's probe is over
};

}  // namespace tw
