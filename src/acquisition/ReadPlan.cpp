#include "acquisition/ReadPlan.h"

#include "modbus/IdModBusClient.h"

#include <algorithm>
#include <numeric>

namespace tw {

namespace {
// The client sends a register number n as the address n - 1, both as 16-bit numbers.
uint16_t Number(const TIOPointObj& point) { return static_cast<uint16_t>(point.RegisterNo); }
uint16_t Address(const TIOPointObj& point) { return static_cast<uint16_t>(Number(point) - 1); }
bool IsCoil(const TIOPointObj& point) { return point.RegisterType != 0; }

TReadUnit Single(const TIOPointObj& point, int index) { return TReadUnit{IsCoil(point), Number(point), 1, {{index, 0}}}; }
}  // namespace

std::vector<TReadUnit> PlanReads(const std::vector<TIOPointObj>& registers, bool blockReads) {
    std::vector<TReadUnit> plan;
    if (!blockReads) {
        for (std::size_t i = 0; i < registers.size(); ++i) plan.push_back(Single(registers[i], static_cast<int>(i)));
        return plan;
    }
    std::vector<int> order(registers.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const TIOPointObj& x = registers[static_cast<std::size_t>(a)];
        const TIOPointObj& y = registers[static_cast<std::size_t>(b)];
        return IsCoil(x) != IsCoil(y) ? !IsCoil(x) : Address(x) < Address(y);
    });
    uint16_t first = 0;  // address of the current unit's first value
    for (int index : order) {
        const TIOPointObj& point = registers[static_cast<std::size_t>(index)];
        const int offset = Address(point) - first;  // >= 0: the order is ascending within a kind
        const int limit = IsCoil(point) ? TIdModBusClient::MaxCoilRead : TIdModBusClient::MaxRegisterRead;
        TReadUnit* unit = plan.empty() ? nullptr : &plan.back();
        if (unit && unit->Coil == IsCoil(point) && offset <= unit->Count && offset < limit) {
            unit->Count = static_cast<uint16_t>(std::max<int>(unit->Count, offset + 1));
            unit->Members.push_back({index, static_cast<uint16_t>(offset)});
            continue;
        }
        plan.push_back(Single(point, index));
        first = Address(point);
    }
    return plan;
}

}  // namespace tw
