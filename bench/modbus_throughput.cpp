// Requests per second of our Modbus client, of one device's scan pass, and of libmodbus against the
// same local server; and the CPU a device costs while its peer is silent.
#include "LoopbackModbusServer.h"
#include "PymodbusServer.h"
#include "acquisition/ModBusObj.h"
#include "acquisition/PollingSwitch.h"
#include "modbus/IdModBusClient.h"
#include "values/DataPoints.h"

#include <modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace tw;
using Clock = std::chrono::steady_clock;

namespace {

// Short turns, taken in rotation, so that load from elsewhere on the machine hits every kind alike.
constexpr auto Turn = std::chrono::milliseconds(150);
constexpr int Turns = 15;
constexpr int ScanRegisters = 1000;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Calls one request in a loop for one turn; requests per second, or 0 on the first failure.
template <typename Request>
double Rate(Request request) {
    long done = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < Turn) {
        for (int i = 0; i < 20; ++i, ++done)
            if (!request()) return 0;
    }
    return done / Seconds(Clock::now() - start);
}

// One device scanning 1000 registers; whole passes are timed by watching the last register's
// data point being stored again.
class TScanner {
public:
    explicit TScanner(int port) {
        Device.SetConnection("127.0.0.1", port, 1);
        DataPoints.Append(ScanRegisters);
        for (int i = 0; i < ScanRegisters; ++i) {
            TIOPointObj& point = Device.Registers[static_cast<std::size_t>(Device.AddRegister())];
            point.RegisterNo = i + 1;
            point.RegisterType = i % 10 == 0 ? 1 : 0;
            point.TagIndex = i;
        }
        Device.Start();
    }
    ~TScanner() {
        PollingSwitch = false;
        Device.Stop();
        FreeDataPoints();
    }
    double Rate() {
        PollingSwitch = true;
        AwaitPass();
        int passes = 0;
        const auto start = Clock::now();
        auto end = start;
        while (end - start < Turn) {
            AwaitPass();
            ++passes;
            end = Clock::now();
        }
        PollingSwitch = false;
        return passes * ScanRegisters / Seconds(end - start);
    }

private:
    void AwaitPass() {
        TRealDataPoint& last = DataPoints[ScanRegisters - 1];
        last.Store(0xFFFF, kQualityBad);  // no server answers this for the last register
        while (last.Value() == 0xFFFF) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    TModBusObj Device;
};

struct TFigures {
    double Client, Libmodbus, Scan;
};

// Both servers answer a holding register at address a with a.
TFigures Measure(int port) {
    TIdModBusClient client;
    client.Host = "127.0.0.1";
    client.Port = port;
    client.TimeOut = 3000;
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (ctx == nullptr || modbus_connect(ctx) != 0) return {};
    TScanner scanner(port);
    std::vector<double> clients, libmodbuses, scans;
    for (int turn = 0; turn < Turns; ++turn) {
        uint16_t value;
        clients.push_back(Rate([&] { return client.ReadRegisterValue(40, value) && value == 39; }));
        libmodbuses.push_back(Rate([&] { return modbus_read_registers(ctx, 39, 1, &value) == 1 && value == 39; }));
        scans.push_back(scanner.Rate());
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return {Median(clients), Median(libmodbuses), Median(scans)};
}

double Ratio(double a, double b) { return b > 0 ? a / b : 0; }

// A peer that accepts connections (the system's backlog does) and never answers, with the
// product's own time-outs: the device should sleep in the system, not spin.
double SilentDeviceCpu() {
    TTcpListener silent;
    TModBusObj device;
    device.SetConnection("127.0.0.1", silent.Port(), 1);
    for (int i = 0; i < 10; ++i) device.Registers[static_cast<std::size_t>(device.AddRegister())].RegisterNo = i + 1;
    device.Start();
    PollingSwitch = true;
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double used = ProcessCpuSeconds() - before;
    PollingSwitch = false;
    device.Stop();
    return used;
}

}  // namespace

int main() {
    std::printf("each rate: median of %d turns of %lld ms taken in rotation; single reads over one connection on "
                "127.0.0.1\n", Turns, static_cast<long long>(Turn.count()));
    std::printf("scan pass: one device, %d registers (one in ten a coil), polling on\n", ScanRegisters);
    std::fflush(stdout);

    TFigures python{};
    {
        test::TPymodbusServer server;
        if (server.Port() > 0) python = Measure(server.Port());
    }
    std::printf("pymodbus server: client %.0f, scan %.0f, libmodbus %.0f req/s, client/libmodbus %.3f\n", python.Client,
                python.Scan, python.Libmodbus, Ratio(python.Client, python.Libmodbus));
    std::fflush(stdout);

    bench::TLoopbackModbusServer server;
    const TFigures native = Measure(server.Port());
    std::printf("built-in C++ server: client %.0f, scan %.0f, libmodbus %.0f req/s, client/libmodbus %.3f\n",
                native.Client, native.Scan, native.Libmodbus, Ratio(native.Client, native.Libmodbus));
    const double silentCpu = SilentDeviceCpu();
    std::printf("silent device: 10 registers, product time-outs (3000 ms), CPU over 5 s\n");

    std::printf("figures below: against the built-in C++ server; pymodbus's own cost per request hides most of "
                "the clients' difference\n");
    std::printf("client_req_per_s: %.0f\n", native.Client);
    std::printf("scan_req_per_s: %.0f\n", native.Scan);
    std::printf("libmodbus_req_per_s: %.0f\n", native.Libmodbus);
    std::printf("ratio_client_vs_libmodbus: %.3f\n", Ratio(native.Client, native.Libmodbus));
    std::printf("silent_device_cpu_s: %.3f\n", silentCpu);
    return native.Client > 0 && native.Libmodbus > 0 && native.Scan > 0 ? 0 : 1;
}
