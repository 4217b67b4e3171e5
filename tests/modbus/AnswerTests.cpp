// How the client takes answers apart, and how it copes with devices that misbehave.
#include "ScriptedServer.h"
#include "modbus/IdModBusClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace tw::test {
namespace {

class AnswerTest : public ::testing::Test {
protected:
    void Use(const TScriptedServer& server) {
        client.Host = "127.0.0.1";
        client.Port = server.Port();
        client.ConnectTimeOut = 2000;
        client.TimeOut = 400;  // short, yet long enough for a loaded machine
        client.ReadTimeout = 400;
    }
    uint16_t Read(uint16_t regNo = 1) {
        value = 0xBEEF;
        ok = client.ReadRegisterValue(regNo, value);
        return value;
    }

    TIdModBusClient client;
    uint16_t value = 0;
    bool ok = false;
};

TEST_F(AnswerTest, UnpacksRegistersAndCoils) {
    TScriptedServer server(Sequence({Send(Frame(1, 3, {2, 0x01, 0x02})), Send(Frame(1, 1, {1, 0x05}))}));
    Use(server);
    EXPECT_EQ(Read(), 258);
    EXPECT_TRUE(ok);

    // One coil asked for, a whole byte answered: each bit becomes a word.
    uint16_t coil = 9;
    EXPECT_TRUE(client.ReadCoilValue(1, coil));
    EXPECT_EQ(coil, 1);
    EXPECT_EQ(client.DataBuffer[1], 0);
    EXPECT_EQ(client.DataBuffer[2], 1);
    EXPECT_EQ(client.DataBuffer[7], 0);
}

// The largest blocks Modbus allows, every value in its place; an answer with fewer values than asked
// for fails as a whole and hands back zeros rather than passing zeros off as read.
TEST_F(AnswerTest, BlocksUnpackEveryValueAndShortAnswersFail) {
    TBytes coilData{250};
    for (int i = 0; i < 250; ++i) coilData.push_back(static_cast<uint8_t>(i * 37 + 11));
    std::vector<uint16_t> registers;
    for (int i = 0; i < 125; ++i) registers.push_back(static_cast<uint16_t>(i * 517 + 3));
    const std::vector<uint16_t> oneShort(registers.begin(), registers.end() - 1);
    TScriptedServer server(Sequence({Send(Frame(1, 1, coilData)), Send(RegisterAnswer(1, registers)),
                                     Send(RegisterAnswer(1, oneShort)), Send(Frame(1, 1, {1, 0xFF})),
                                     Send(RegisterAnswer(1, {6}))}));
    Use(server);
    std::vector<uint16_t> values(2000, 0xBEEF);
    ASSERT_TRUE(client.ReadCoilBlock(1, 2000, values.data()));
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(values[i], (coilData[1 + i / 8] >> (i % 8)) & 1) << "coil " << i;
    ASSERT_TRUE(client.ReadRegisterBlock(1, 125, values.data()));
    EXPECT_EQ(std::vector<uint16_t>(values.begin(), values.begin() + 125), registers);

    EXPECT_FALSE(client.ReadRegisterBlock(1, 125, values.data()));
    EXPECT_EQ(std::vector<uint16_t>(values.begin(), values.begin() + 125), std::vector<uint16_t>(125, 0));
    EXPECT_FALSE(client.ReadCoilBlock(1, 9, values.data()));  // one byte holds eight coils, not nine
    EXPECT_EQ(values[0], 0);
    EXPECT_EQ(client.LastOutcome, TModbusOutcome::NoAnswer);
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(Read(), 6);
    EXPECT_EQ(server.Connections(), 1);
}

TEST_F(AnswerTest, ExceptionAnswerFailsTheReadButKeepsTheConnection) {
    TScriptedServer server(Sequence({Send(Frame(1, 0x83, {2})), Send(RegisterAnswer(1, {7}))}));
    Use(server);
    EXPECT_EQ(Read(), 0);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(Read(), 7);
    EXPECT_EQ(server.Connections(), 1);
}

TEST_F(AnswerTest, AnswerSplitOverTwoSegments) {
    const TBytes answer = RegisterAnswer(1, {0x4142});
    TReply split{{{TBytes(answer.begin(), answer.begin() + 5), 0}, {TBytes(answer.begin() + 5, answer.end()), 60}}};
    TScriptedServer server(Sequence({split}));
    Use(server);
    EXPECT_EQ(Read(), 0x4142);
    EXPECT_TRUE(ok);
}

TEST_F(AnswerTest, SilenceFailsAndTheNextReadStartsOnAFreshConnection) {
    TScriptedServer server(Sequence({Silence(), Send(RegisterAnswer(1, {5}))}));
    Use(server);
    EXPECT_EQ(Read(), 0);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(Read(), 5);
    EXPECT_EQ(server.Connections(), 2);
}

TEST_F(AnswerTest, LateAnswerNeverReachesTheNextRead) {
    TReply late{{{RegisterAnswer(1, {111}), 900}}};
    TScriptedServer server(Sequence({late, Send(RegisterAnswer(1, {222}))}));
    Use(server);
    EXPECT_EQ(Read(1), 0);
    EXPECT_FALSE(ok);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(Read(2), 222);
}

TEST_F(AnswerTest, StrayBytesAfterAnAnswerAreDropped) {
    // A stray answer that comes with the real one lies beyond its length; one held back until the
    // client has its answer arrives between two requests, and only the drain before a request keeps
    // it from passing as the next answer.
    for (const bool betweenRequests : {false, true}) {
        std::atomic<bool> answered{false};
        TReplyStep stray(RegisterAnswer(1, {999}));
        if (betweenRequests) stray.HoldBack = [&answered] { WaitUntil([&answered] { return answered.load(); }); };
        TScriptedServer server(Sequence({TReply{{RegisterAnswer(1, {1}), stray}}, Send(RegisterAnswer(1, {2}))}));
        Use(server);
        EXPECT_EQ(Read(), 1);
        answered = true;
        ASSERT_TRUE(WaitUntil([&server] { return server.StepsSent() == 2; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // through loopback
        EXPECT_EQ(Read(), 2) << (betweenRequests ? "stray between requests" : "stray with the answer");
        EXPECT_EQ(server.Connections(), 1);
        client.Disconnect();
    }
}

TEST_F(AnswerTest, ConnectionClosedByTheDeviceBetweenReads) {
    TReply answerThenClose = Send(RegisterAnswer(1, {3}));
    answerThenClose.Close = true;
    TScriptedServer server(Sequence({answerThenClose, Send(RegisterAnswer(1, {4}))}));
    Use(server);
    EXPECT_EQ(Read(), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(client.Connected());  // not noticed until the next exchange
    EXPECT_THROW(Read(), ESocketError);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(Read(), 4);
    EXPECT_EQ(server.Connections(), 2);
}

TEST_F(AnswerTest, AnswersShorterThanTheirByteCountOrTooLongFail) {
    TBytes oversized = Frame(1, 3, TBytes(300, 0x11));
    oversized[8] = 250;
    TBytes otherProtocol = RegisterAnswer(1, {0x1234});
    otherProtocol[2] = 1;
    const std::vector<TBytes> bad = {
        otherProtocol,                             // protocol 0x0100 is not Modbus
        Frame(1, 3, {4, 0x12, 0x34}),              // byte count 4, two bytes of data
        Frame(1, 3, {4, 0x12, 0x34, 0x56}),        // byte count 4, three bytes of data
        oversized,                                 // more than an answer can hold
        TBytes{0, 0, 0, 0, 0, 10, 1, 3, 2, 0x12},  // length promises more than comes
    };
    std::vector<TReply> replies;
    for (std::size_t i = 0; i < bad.size(); ++i) {
        replies.push_back(Send(bad[i]));
        replies.push_back(Send(RegisterAnswer(1, {static_cast<uint16_t>(100 + i)})));
    }
    TScriptedServer server(Sequence(replies));
    Use(server);
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_EQ(Read(), 0) << "answer " << i;
        EXPECT_FALSE(ok) << "answer " << i;
        EXPECT_EQ(Read(), 100 + i) << "the read after answer " << i;
    }
}

TEST_F(AnswerTest, DeviceThatAcceptsLateIsReadWithinTheConnectTimeOut) {
    // Accepted only after 2 s, the connect completes at the system's next retry, 2 or 3 s after it
    // began (the spacing of the retries depends on the kernel): inside the connect time-out, past
    // the time-outs that wait for answers.
    TScriptedServer late(Sequence({Send(RegisterAnswer(1, {77}))}), TAcceptAfter{2000});
    Use(late);
    client.ConnectTimeOut = 10000;
    client.TimeOut = 1000;
    client.ReadTimeout = 1000;
    ASSERT_NO_THROW(Read());
    EXPECT_EQ(value, 77);
    EXPECT_TRUE(ok);
}

// A copy of an answer, or bytes that are no answer, keep reaching the client until after it has sent
// its next request: the next read must get its own answer all the same.
TEST_F(AnswerTest, StrayBytesNeverPassForTheNextAnswer) {
    const TBytes first = RegisterAnswer(1, {111});
    struct TRow {
        const char* what;
        TReply reply;  // to the first read
    } rows[] = {
        {"a copy of the answer, later", TReply{{{first, 0}, {first, 150}}}},
        {"a copy split around the next request",
         TReply{{{Concat(first, TBytes(first.begin(), first.begin() + 4)), 0},
                 {TBytes(first.begin() + 4, first.end()), 100}}}},
        {"noise before and after the next request", TReply{{{first, 0}, {TBytes(20, 0), 0}, {TBytes(20, 0), 100}}}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        TScriptedServer server(Sequence({row.reply, Send(RegisterAnswer(1, {222}))}));
        Use(server);
        EXPECT_EQ(Read(1), 111);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // what came at once is there now
        EXPECT_EQ(Read(2), 222);
        EXPECT_TRUE(ok);
        client.Disconnect();
    }
}

// A device that repeats its answer without pause: waiting for it to stop would hold the read, and with it
// Stop, for as long as the device keeps on.
TEST_F(AnswerTest, ADeviceThatNeverStopsSendingCannotHoldARead) {
    const TBytes answer = RegisterAnswer(1, {111});
    TBytes copies;
    for (int i = 0; i < 4000; ++i) copies.insert(copies.end(), answer.begin(), answer.end());
    TReply endless{{{copies, 0}}};
    endless.Endless = true;
    auto server = std::make_unique<TScriptedServer>(Sequence({endless, Send(RegisterAnswer(1, {222}))}));
    Use(*server);
    EXPECT_EQ(Read(1), 111);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto second = std::async(std::launch::async, [&] { return Read(2); });
    const bool done = second.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(done) << "the read is still taking in the device's stream";
    if (!done) server.reset();  // ends the stream, and so the read
    EXPECT_EQ(second.get(), 222);
}

TEST_F(AnswerTest, AnAnswerMustBeWholeWithinBothWaits) {
    const TBytes answer = RegisterAnswer(1, {0x1234});
    const auto trickle = [&](int gapMs) {
        TReply reply;
        for (uint8_t byte : answer) reply.Steps.push_back({{byte}, gapMs});
        return reply;
    };
    // Each gap within ReadTimeout, but the whole answer not within TimeOut and ReadTimeout together.
    TScriptedServer server(Sequence({trickle(10), trickle(150), Send(answer)}));
    Use(server);
    EXPECT_EQ(Read(), 0x1234);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(), 0);
    EXPECT_FALSE(ok);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));  // the trickle takes 1650
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(Read(), 0x1234);
}

// A block read hands over every value it asked for, or fails with zeros: never zeros as values.
TEST_F(AnswerTest, BlockReadsHandOverEveryValueOrFail) {
    struct TRow {
        bool coils;
        uint16_t count;
        TBytes answer;  // empty: no request may go out
        bool ok;
        std::vector<uint16_t> values;
    } rows[] = {
        {false, 3, RegisterAnswer(1, {1, 2, 3}), true, {1, 2, 3}},
        {false, 3, RegisterAnswer(1, {1, 2}), false, {0, 0, 0}},
        {true, 10, Frame(1, 1, {2, 0x81, 0x02}), true, {1, 0, 0, 0, 0, 0, 0, 1, 0, 1}},
        {true, 10, Frame(1, 1, {1, 0xFF}), false, std::vector<uint16_t>(10, 0)},
        {false, 126, {}, false, std::vector<uint16_t>(126, 0)},
        {true, 2001, {}, false, std::vector<uint16_t>(2001, 0)},
    };
    std::vector<TReply> replies;
    for (const TRow& row : rows)
        if (!row.answer.empty()) replies.push_back(Send(row.answer));
    TScriptedServer server(Sequence(replies));
    Use(server);
    std::size_t requests = 0;
    for (const TRow& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.coils ? "coils: " : "registers: ") << row.count);
        std::vector<uint16_t> values(row.count, 0xBEEF);
        const bool read = row.coils ? client.ReadCoilBlock(1, row.count, values.data())
                                    : client.ReadRegisterBlock(1, row.count, values.data());
        EXPECT_EQ(read, row.ok);
        EXPECT_EQ(values, row.values);
        requests += row.answer.empty() ? 0 : 1;
        EXPECT_EQ(server.Requests().size(), requests);
    }
}

TEST(ConnectFailure, RefusedPortFailsAtOnceAndUnknownHostFails) {
    int port;
    {
        TTcpListener closedSoon;
        port = closedSoon.Port();
    }
    TIdModBusClient client;
    client.Host = "127.0.0.1";
    client.Port = port;
    client.ConnectTimeOut = 5000;
    const auto start = std::chrono::steady_clock::now();
    uint16_t value = 1;
    EXPECT_THROW(client.ReadRegisterValue(1, value), ESocketError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(value, 1);  // untouched when no connection was made

    // A label longer than 63 characters cannot be resolved, and is refused before any query goes out.
    client.Host = std::string(64, 'x') + ".invalid";
    EXPECT_THROW(client.Connect(1000), ESocketError);
    client.Host.clear();
    EXPECT_THROW(client.Connect(1000), ESocketError);
    EXPECT_FALSE(client.Connected());
}

TEST(ConnectFailure, ConnectGivesUpAfterItsTimeOut) {
    // A listener whose queue is full answers further connects not at all.
    TScriptedServer neverAccepting(Sequence({}), TAcceptAfter{600000});
    TTcpSocket socket;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(socket.Connect("127.0.0.1", neverAccepting.Port(), 300), ESocketError);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_FALSE(socket.IsOpen());
}

}  // namespace
}  // namespace tw::test
