// Every test program here runs in one single-threaded COM apartment, as the server does.
#include <gtest/gtest.h>
#include <ole2.h>

namespace {

class TComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
    void TearDown() override { OleUninitialize(); }
};

const auto* const comEnvironment = ::testing::AddGlobalTestEnvironment(new TComEnvironment);

}  // namespace
