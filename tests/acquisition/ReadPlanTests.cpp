// Which requests a scan pass sends for a device's registers, with and without block reads.
#include "acquisition/ReadPlan.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tw::test {
namespace {

// "R1+3[2@0 3@1 1@2]": registers from number 1, three values, register 2 takes value 0, ... Units
// with many members show only their number, as "{126}".
std::string Describe(const std::vector<TReadUnit>& plan) {
    std::ostringstream out;
    for (const TReadUnit& unit : plan) {
        out << (out.tellp() > 0 ? " " : "") << (unit.Coil ? 'C' : 'R') << unit.Number << '+' << unit.Count;
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
    bool coil;
};
std::vector<TReg> Numbers(int first, int last, bool coil) {
    std::vector<TReg> regs;
    for (int n = first; n <= last; ++n) regs.push_back({n, coil});
    return regs;
}
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
    };
    for (const TRow& row : rows) {
        std::vector<TIOPointObj> registers;
        for (const TReg& r : row.regs) {
            registers.emplace_back();
            registers.back().RegisterNo = r.no;
            registers.back().RegisterType = r.coil ? 1 : 0;
        }
        EXPECT_EQ(Describe(PlanReads(registers, row.blocks)), row.plan) << row.name;
    }
}

}  // namespace
}  // namespace tw::test
