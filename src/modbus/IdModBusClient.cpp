#include "modbus/IdModBusClient.h"

#include <algorithm>

namespace tw {

namespace {
constexpr int HeaderSize = 7;  // transaction id, protocol id, length, unit id

void PutWord(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

uint16_t GetWord(const uint8_t* at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }
}  // namespace

std::array<uint8_t, 12> BuildRequest(const TIdModBusClient& client) {
    uint16_t word;
    switch (client.ModBusFunction) {
    case 1:
    case 2: word = std::min(client.BlockLength, TIdModBusClient::MaxCoilRead); break;
    case 3:
    case 4: word = std::min(client.BlockLength, TIdModBusClient::MaxRegisterRead); break;
    case 5: word = client.DataBuffer[0] != 0 ? 0xFF00 : 0x0000; break;
    case 6: word = client.DataBuffer[0]; break;
    default: word = client.BlockLength; break;
    }
    std::array<uint8_t, 12> frame{};  // transaction and protocol identifiers stay 0
    PutWord(&frame[4], 6);
    frame[6] = client.UnitID;
    frame[7] = client.ModBusFunction;
    PutWord(&frame[8], static_cast<uint16_t>(client.RegNumber - 1));  // register 0 wraps to 65535
    PutWord(&frame[10], word);
    return frame;
}

void TIdModBusClient::Connect(int timeoutMs) { Socket.Connect(Host, Port, timeoutMs); }

bool TIdModBusClient::EnsureConnected() {
    LastOutcome = TModbusOutcome::NoAnswer;
    LastExceptionCode = 0;
    if (!Connected()) Connect(ConnectTimeOut);
    return Connected();
}

bool TIdModBusClient::ReadBlock(uint8_t function, uint16_t number, uint16_t count, uint16_t* values) {
    ModBusFunction = function;
    BlockLength = count;
    RegNumber = number;
    if (!EnsureConnected()) return false;
    ClearDataBuffer();
    const bool ok = Transact();
    // A failed transaction hands back the cleared buffer: zeros.
    const int copied = std::min<int>(count, DataBufferWords);
    std::copy_n(DataBuffer.begin(), copied, values);
    std::fill(values + copied, values + count, 0);
    return ok;
}

bool TIdModBusClient::Write(uint8_t function, uint16_t number, uint16_t value) {
    ModBusFunction = function;
    RegNumber = number;
    DataBuffer[0] = value;
    return EnsureConnected() && Transact();
}

bool TIdModBusClient::ReadRegisterBlock(uint16_t regNo, uint16_t count, uint16_t* values) {
    return ReadBlock(3, regNo, count, values);
}

bool TIdModBusClient::ReadCoilBlock(uint16_t coilNo, uint16_t count, uint16_t* values) {
    return ReadBlock(1, coilNo, count, values);
}

bool TIdModBusClient::ReadRegisterValue(uint16_t regNo, uint16_t& value) { return ReadRegisterBlock(regNo, 1, &value); }

bool TIdModBusClient::ReadCoilValue(uint16_t coilNo, uint16_t& value) { return ReadCoilBlock(coilNo, 1, &value); }

bool TIdModBusClient::WriteSingleRegister(uint16_t regNo, uint16_t value) { return Write(6, regNo, value); }

bool TIdModBusClient::WriteSingleCoil(uint16_t coilNo, uint16_t value) { return Write(5, coilNo, value); }

bool TIdModBusClient::Transact() {
    LastOutcome = TModbusOutcome::NoAnswer;
    LastExceptionCode = 0;
    try {
        // Anything waiting now belongs to an earlier exchange and must not pass as this request's answer.
        Socket.DiscardPending();
        const auto request = BuildRequest(*this);
        Socket.Send(request.data(), request.size());

        uint8_t answer[AnswerBufferSize];
        int size = 0;
        if (!ReceiveAnswer(answer, size)) {
            // No whole answer in time: a late one would arrive out of step, so start afresh next time.
            Disconnect();
            return false;
        }
        if (answer[HeaderSize] == (ModBusFunction | 0x80) && size > HeaderSize + 1) {
            // The device is there and refused this request (an illegal address, say).
            LastOutcome = TModbusOutcome::Exception;
            LastExceptionCode = answer[HeaderSize + 1];
            return false;
        }
        if (answer[HeaderSize] != ModBusFunction || !Unpack(answer, size)) return false;
        LastOutcome = TModbusOutcome::Answered;
        return true;
    } catch (...) {
        Disconnect();
        throw;
    }
}

// Exactly one answer, delimited by the length field of its header. Bytes beyond it can only be a
// stray answer; they are dropped, as anything waiting before a request is.
bool TIdModBusClient::ReceiveAnswer(uint8_t* answer, int& size) {
    int wait = static_cast<int>(std::min<uint32_t>(TimeOut, 0x7FFFFFFF));
    const int laterWait = ReadTimeout > 0 ? ReadTimeout : wait;
    int got = 0;
    size = 0;
    while (size == 0 ? got < HeaderSize : got < size) {
        if (!Socket.WaitReadable(wait)) return false;
        got += static_cast<int>(Socket.Receive(answer + got, static_cast<std::size_t>(AnswerBufferSize - got)));
        wait = laterWait;
        if (size == 0 && got >= HeaderSize) {
            const int length = GetWord(&answer[4]);  // unit id, function code and data
            size = HeaderSize - 1 + length;
            if (length < 2 || size > AnswerBufferSize) return false;
        }
    }
    return true;
}

bool TIdModBusClient::Unpack(const uint8_t* answer, int size) {
    const uint8_t function = answer[HeaderSize];
    if (function < 1 || function > 4) return true;  // writes echo the request; nothing to unpack
    if (size < HeaderSize + 2) return false;
    const int byteCount = answer[HeaderSize + 1];
    if (HeaderSize + 2 + byteCount > size) return false;  // shorter than it claims
    const uint8_t* data = answer + HeaderSize + 2;
    const bool coils = function <= 2;
    const int asked = std::min(BlockLength, coils ? MaxCoilRead : MaxRegisterRead);
    // Fewer values than asked for would leave the missing ones as zeros that look read.
    const int carried = coils ? 8 * byteCount : byteCount / 2;
    if (carried < asked) return false;
    if (coils) {
        const int count = std::min<int>(carried, MaxCoilRead);
        for (int i = 0; i < count; ++i) DataBuffer[i] = (data[i / 8] >> (i % 8)) & 1;
    } else {
        const int count = std::min<int>(carried, MaxRegisterRead);
        for (int i = 0; i < count; ++i) DataBuffer[i] = GetWord(data + 2 * i);
    }
    return true;
}

}  // namespace tw
