#include "acquisition/ReadPlan.h"

#include "modbus/IdModBusClient.h"

#include <algorithm>
#include <numeric>

namespace tw {

namespace {
// The client sends a register number n as the address n - 1, both as 16-bit numbers.
uint16_t Number(const TIOPointObj& point) { return static_cast<uint16_t>(point.RegisterNo); }
uint16_t Address(const TIOPointObj& point) { return static_cast<uint16_t>(Number(point) - 1); }

TReadUnit Single(const TIOPointObj& point, int index) {
    return TReadUnit{point.ReadFunction(), Number(point), static_cast<uint16_t>(point.Width()), {{index, 0}}, true};
}
}  // namespace

std::vector<TReadUnit> PlanReads(const std::vector<TIOPointObj>& registers, bool blockReads) {
    std::vector<TReadUnit> plan;
    std::vector<int> order;
    for (std::size_t i = 0; i < registers.size(); ++i)
        if (!registers[i].Unusable) order.push_back(static_cast<int>(i));
    if (!blockReads) {
        for (int index : order) plan.push_back(Single(registers[static_cast<std::size_t>(index)], index));
        return plan;
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const TIOPointObj& x = registers[static_cast<std::size_t>(a)];
        const TIOPointObj& y = registers[static_cast<std::size_t>(b)];
        return x.Kind() != y.Kind() ? x.Kind() < y.Kind() : Address(x) < Address(y);
    });
    uint16_t first = 0;  // address of the current unit's first value
    for (int index : order) {
        const TIOPointObj& point = registers[static_cast<std::size_t>(index)];
        const int offset = Address(point) - first;  // >= 0: the order is ascending within a table
        const int width = point.Width();
        const int limit = point.IsBit() ? TIdModBusClient::MaxCoilRead : TIdModBusClient::MaxRegisterRead;
        TReadUnit* unit = plan.empty() ? nullptr : &plan.back();
        if (unit && unit->Function == point.ReadFunction() && offset <= unit->Count && offset + width <= limit) {
            unit->SingleValue = unit->SingleValue && offset == 0 && width == unit->Count;
            unit->Count = static_cast<uint16_t>(std::max<int>(unit->Count, offset + width));
            unit->Members.push_back({index, static_cast<uint16_t>(offset)});
            continue;
        }
        plan.push_back(Single(point, index));
        first = Address(point);
    }
    return plan;
}

}  // namespace tw
