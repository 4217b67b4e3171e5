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
    bool Start();
    // Ends the poll thread, waiting at most for the register read in progress, and closes the connections.
    void Stop();

    // Poll thread only: reads register i through PollClient into its data point (0 when the read fails).
    void ScanRegister(int index);
    // On demand, under Lock, through ReadClient: reads register i into its data point and returns it.
    uint16_t ReadRegisterNow(int index);
    // On demand, under Lock, through WriteClient. Failures are not reported.
    void WriteRegisterValue(int index, uint16_t value);

private:
    void ScanLoop(TBMDExecuteThread& worker);
    bool ValidIndex(int index) const { return index >= 0 && static_cast<std::size_t>(index) < Registers.size(); }
};

}  // namespace tw
