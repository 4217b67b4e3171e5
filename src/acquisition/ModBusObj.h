// The run-time object of one enabled Modbus TCP device: its registers, three connections and poll thread.
#pragma once

#include "acquisition/BMDThread.h"
#include "acquisition/IOPointObj.h"
#include "modbus/IdModBusClient.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tw {

// What a write to a device came to. Only Written and Simulated mean the value is where the client
// wanted it.
enum class TWriteResult { Written, Simulated, Refused, Failed };

// Whether a device answers, as its reads and writes last found it: the event log reports the changes.
enum class TCommState : int { Unknown, Answering, Failing };

class TModBusObj {
public:
    std::string Description;
    std::atomic<bool> Simulated{false};  // set when Start cannot reach the device; never cleared
    std::vector<TIOPointObj> Registers;  // configuration order; index = register index
    // Separate connections so that no client is ever used by two threads: ReadClient and WriteClient
    // under Lock for on-demand access, PollClient by the poll thread alone.
    TIdModBusClient ReadClient;
    TIdModBusClient WriteClient;
    TIdModBusClient PollClient;
    std::atomic<bool> Running{false};  // true while the scan loop runs
    // Written by whichever thread talked to the device last; read by the main thread's log check.
    std::atomic<TCommState> CommState{TCommState::Unknown};
    TCommState LoggedCommState = TCommState::Unknown;  // main thread only
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

    // Probes the device (marking it simulated when unreachable) and starts the poll thread. Always true.
    // The points of a simulated device read as not connected until a value is set by hand.
    bool Start();
    // Ends the poll thread, waiting at most for the register read in progress, and closes the connections.
    void Stop();

    // Poll thread only: reads register i through PollClient into its data point. A failed read keeps
    // the value last obtained and marks it BAD: comm failure, or config error for an exception answer.
    void ScanRegister(int index);
    // On demand, under Lock, through ReadClient: reads register i into its data point, as a scan read
    // does, and returns the point's value.
    uint16_t ReadRegisterNow(int index);
    // On demand, under Lock, through WriteClient. The data point takes the value only when the device
    // took it (GOOD), or when the device is simulated (GOOD local override); a transport failure marks
    // the point's last value as a comm failure.
    TWriteResult WriteRegisterValue(int index, uint16_t value);

private:
    void ScanLoop(TBMDExecuteThread& worker);
    // Reads register i through client into its data point. value is what was read, or the point's
    // value when the read failed; false when the device did not answer.
    bool ReadIntoPoint(TIdModBusClient& client, const TIOPointObj& point, uint16_t& value);
    void NoteAnswer(bool answered) {
        CommState.store(answered ? TCommState::Answering : TCommState::Failing, std::memory_order_relaxed);
    }
    bool ValidIndex(int index) const { return index >= 0 && static_cast<std::size_t>(index) < Registers.size(); }
};

}  // namespace tw
