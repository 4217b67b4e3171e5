// Which requests a scan pass sends for a device's registers, with and without block reads.
#include "acquisition/ReadPlan.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tw::test {
namespace {

// "R1+3[2@0 3@1 1@2]": registers from number 1, three values, register 2 takes value 0, ... (R
// holding registers, C coils, I input registers, D discrete inputs). Units with many members show
// only their number, as "{126}".
std::string Describe(const std::vector<TReadUnit>& plan) {
    std::ostringstream out;
    for (const TReadUnit& unit : plan) {
        const char table = unit.Function == 3 ? 'R' : unit.Function == 1 ? 'C' : unit.Function == 4 ? 'I' : 'D';
        out << (out.tellp() > 0 ? " " : "") << table << unit.Number << '+' << unit.Count;
        if (unit.Members.size() > 4) {
            out << '{' << unit.Members.size() << '}';
            continue;
        }
        out << '[';
        for (std::size_t m = 0; m < unit.Members.size(); ++m)
            out << (m ? " " : "") << unit.Members[m].Register << '@' << unit.Members[m].Offset;
        out << ']';
    }
    return out.str();
}

struct TReg {
    int no;
    int kind;  // 0 register, 1 coil, 2 input register, 3 discrete input
    TDataType type = TDataType::UInt16;
    bool unusable = false;
};
std::vector<TReg> Numbers(int first, int last, int kind) {
    std::vector<TReg> regs;
    for (int n = first; n <= last; ++n) regs.push_back({n, kind});
    return regs;
}
constexpr TDataType F32 = TDataType::Float32, F64 = TDataType::Float64;
std::vector<TReg> operator+(std::vector<TReg> a, const std::vector<TReg>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ReadPlan, RunsSplitAtGapsKindsAndSizeLimits) {
    struct TRow {
        const char* name;
        std::vector<TReg> regs;
        bool blocks;
        const char* plan;
    };
    const TRow rows[] = {
        {"without block reads: one request each, in configuration order",
         {{40, false}, {3, true}, {40, false}, {4, true}}, false, "R40+1[0@0] C3+1[1@0] R40+1[2@0] C4+1[3@0]"},
        {"the same with block reads: registers, then coils, duplicates in one request",
         {{40, false}, {3, true}, {40, false}, {4, true}}, true, "R40+1[0@0 2@0] C3+2[1@0 3@1]"},
        {"a gap starts a new request, whatever the configuration order",
         {{5, false}, {3, false}, {1, false}, {2, false}}, true, "R1+3[2@0 3@1 1@2] R5+1[0@0]"},
        {"a number configured twice: both registers take its value",
         {{2, false}, {1, false}, {2, false}, {3, false}}, true, "R1+3[1@0 0@1 2@1 3@2]"},
        {"a coil and a register of the same number are read apart",
         {{1, true}, {1, false}, {2, true}, {2, false}}, true, "R1+2[1@0 3@1] C1+2[0@0 2@1]"},
        {"125 registers a request", Numbers(1, 126, false), true, "R1+125{125} R126+1[125@0]"},
        {"250 registers", Numbers(1, 250, false), true, "R1+125{125} R126+125{125}"},
        {"a duplicate of the last of 125 stays in the request", Numbers(1, 125, false) + Numbers(125, 125, false), true,
         "R1+125{126}"},
        {"2,000 coils a request", Numbers(1, 2001, true), true, "C1+2000{2000} C2001+1[2000@0]"},
        {"addresses never wrap: number 0 is address 65535, after 65535",
         {{0, false}, {1, false}, {65535, false}}, true, "R1+1[1@0] R65535+2[2@0 0@1]"},
        {"no registers", {}, true, ""},
        {"the four tables are read apart, each with its own function",
         {{1, 0}, {1, 2}, {1, 3}, {2, 2}, {1, 1}}, true, "R1+1[0@0] C1+1[4@0] I1+2[1@0 3@1] D1+1[2@0]"},
        {"a value of several registers is read whole, alone",
         {{2, 0, F32}, {7, 2, F64}, {9, 1, F64}}, false, "R2+2[0@0] I7+4[1@0] C9+1[2@0]"},
        {"a Float32 between 16-bit registers: one request, each its own offset",
         {{4, 0}, {2, 0, F32}, {1, 0}}, true, "R1+4[2@0 1@1 0@3]"},
        {"a value is never split at the size limit", Numbers(1, 124, 0) + std::vector<TReg>{{125, 0, F32}}, true,
         "R1+124{124} R125+2[124@0]"},
        {"a register that cannot be read is left out", {{1, 0}, {2, 0, F32, true}, {3, 0}}, true, "R1+1[0@0] R3+1[2@0]"},
    };
    for (const TRow& row : rows) {
        std::vector<TIOPointObj> registers;
        for (const TReg& r : row.regs) {
            registers.emplace_back();
            registers.back().RegisterNo = r.no;
            registers.back().RegisterType = r.kind;
            registers.back().DataType = r.type;
            registers.back().Unusable = r.unusable;
        }
        EXPECT_EQ(Describe(PlanReads(registers, row.blocks)), row.plan) << row.name;
    }
}

}  // namespace
}  // namespace tw::test
