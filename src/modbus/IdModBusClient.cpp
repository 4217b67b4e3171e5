#include "modbus/IdModBusClient.h"

#include <algorithm>

namespace tw {

namespace {
constexpr int HeaderSize = 7;  // transaction id, protocol id, length, unit id
// What may wait before a request, as whole answers (a device that answered twice, say); more than this
// is a device that does not stop sending.
constexpr int MaxStaleBytes = 16 * TIdModBusClient::AnswerBufferSize;

void PutWord(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

uint16_t GetWord(const uint8_t* at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }

uint16_t MaxQuantity(uint8_t function) {
    switch (function) {
    case 1:
    case 2: return TIdModBusClient::MaxCoilsPerRead;
    case 3:
    case 4: return TIdModBusClient::MaxRegistersPerRead;
    case 16: return TIdModBusClient::MaxRegistersPerWrite;
    default: return 0xFFFF;
    }
}
}  // namespace

// One frame as it comes in: the header, then as many bytes as its length field announces, never more,
// so that what follows it stays in the socket for whoever it belongs to.
struct TIdModBusClient::TFrame {
    uint8_t Bytes[AnswerBufferSize];
    int Got = 0;
    int Size = HeaderSize;  // the whole frame's, once the header is in

    bool Complete() const { return Got == Size; }
    void Restart() {
        Got = 0;
        Size = HeaderSize;
    }
    // Takes what the socket has of this frame. False when the header announces a length no answer can
    // have: the stream is then out of step.
    bool ReceiveFrom(TTcpSocket& socket) {
        Got += static_cast<int>(socket.Receive(Bytes + Got, static_cast<std::size_t>(Size - Got)));
        if (Got == HeaderSize && Size == HeaderSize) {
            const int length = GetWord(&Bytes[4]);  // unit id, function code and data
            Size = HeaderSize - 1 + length;
            if (length < 2 || Size > AnswerBufferSize) return false;
        }
        return true;
    }
};

TRequestFrame BuildRequest(const TIdModBusClient& client) {
    uint16_t word;
    switch (client.ModBusFunction) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 16: word = std::min(client.BlockLength, MaxQuantity(client.ModBusFunction)); break;
    case 5: word = client.DataBuffer[0] != 0 ? 0xFF00 : 0x0000; break;
    case 6: word = client.DataBuffer[0]; break;
    default: word = client.BlockLength; break;
    }
    TRequestFrame frame;  // protocol identifier stays 0
    uint8_t* bytes = frame.Bytes.data();
    PutWord(&bytes[0], client.TransactionID);
    bytes[6] = client.UnitID;
    bytes[7] = client.ModBusFunction;
    PutWord(&bytes[8], static_cast<uint16_t>(client.RegNumber - 1));  // register 0 wraps to 65535
    PutWord(&bytes[10], word);
    if (client.ModBusFunction == 16) {  // byte count, then the registers
        bytes[12] = static_cast<uint8_t>(2 * word);
        for (uint16_t i = 0; i < word; ++i) PutWord(&bytes[13 + 2 * i], client.DataBuffer[i]);
        frame.Size = 13u + 2u * word;
    }
    PutWord(&bytes[4], static_cast<uint16_t>(frame.Size - 6));  // what follows the length field
    return frame;
}

void TIdModBusClient::Connect(int timeoutMs) {
    Socket.Connect(Host, Port, timeoutMs);
    TransactionID = 0;
}

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
    if (count > MaxQuantity(function)) {
        // A capped request would leave the rest as zeros passed off as values.
        std::fill(values, values + count, 0);
        return false;
    }
    if (!EnsureConnected()) return false;
    ClearDataBuffer();
    const bool ok = Transact();
    // A failed transaction hands back the cleared buffer: zeros.
    std::copy_n(DataBuffer.begin(), count, values);
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

bool TIdModBusClient::ReadInputRegisterBlock(uint16_t regNo, uint16_t count, uint16_t* values) {
    return ReadBlock(4, regNo, count, values);
}

bool TIdModBusClient::ReadDiscreteInputBlock(uint16_t inputNo, uint16_t count, uint16_t* values) {
    return ReadBlock(2, inputNo, count, values);
}

bool TIdModBusClient::ReadCoilBlock(uint16_t coilNo, uint16_t count, uint16_t* values) {
    return ReadBlock(1, coilNo, count, values);
}

bool TIdModBusClient::ReadRegisterValue(uint16_t regNo, uint16_t& value) { return ReadRegisterBlock(regNo, 1, &value); }

bool TIdModBusClient::ReadCoilValue(uint16_t coilNo, uint16_t& value) { return ReadCoilBlock(coilNo, 1, &value); }

bool TIdModBusClient::WriteSingleRegister(uint16_t regNo, uint16_t value) { return Write(6, regNo, value); }

bool TIdModBusClient::WriteSingleCoil(uint16_t coilNo, uint16_t value) { return Write(5, coilNo, value); }

bool TIdModBusClient::WriteMultipleRegisters(uint16_t regNo, uint16_t count, const uint16_t* values) {
    ModBusFunction = 16;
    RegNumber = regNo;
    BlockLength = count;
    // A capped request would write part of the value.
    if (count == 0 || count > MaxRegistersPerWrite) {
        LastOutcome = TModbusOutcome::NoAnswer;
        return false;
    }
    std::copy_n(values, count, DataBuffer.begin());
    return EnsureConnected() && Transact();
}

bool TIdModBusClient::Transact() {
    LastOutcome = TModbusOutcome::NoAnswer;
    LastExceptionCode = 0;
    try {
        // Anything waiting now belongs to an earlier exchange and must not pass as this request's answer.
        // When it is not whole answers, the stream is out of step: start afresh on a new connection.
        if (!DiscardStale()) {
            Disconnect();
            Connect(ConnectTimeOut);
        }
        const TRequestFrame request = BuildRequest(*this);
        const uint16_t id = TransactionID++;
        Socket.Send(request.Bytes.data(), request.Size);

        TFrame answer;
        if (!ReceiveAnswer(id, answer)) {
            // No whole answer in time: a late one would arrive out of step, so start afresh next time.
            Disconnect();
            return false;
        }
        // Modbus is protocol 0: a frame of another protocol is no answer, whatever its identifier.
        if (GetWord(answer.Bytes + 2) != 0) return false;
        if (answer.Bytes[HeaderSize] == (ModBusFunction | 0x80) && answer.Size > HeaderSize + 1) {
            // The device is there and refused this request (an illegal address, say).
            LastOutcome = TModbusOutcome::Exception;
            LastExceptionCode = answer.Bytes[HeaderSize + 1];
            return false;
        }
        if (answer.Bytes[HeaderSize] != ModBusFunction || !Unpack(answer.Bytes, answer.Size)) return false;
        LastOutcome = TModbusOutcome::Answered;
        return true;
    } catch (...) {
        Disconnect();
        throw;
    }
}

// Reads and drops whole frames that arrived since the last exchange, without waiting. False when what
// is there ends inside a frame, cannot be frames, or does not stop coming.
bool TIdModBusClient::DiscardStale() {
    TFrame stale;
    int dropped = 0;
    while (Socket.WaitReadable(0)) {
        const int before = stale.Got;
        if (!stale.ReceiveFrom(Socket)) return false;
        dropped += stale.Got - before;
        if (dropped > MaxStaleBytes) return false;
        if (stale.Complete()) stale.Restart();
    }
    return stale.Got == 0;
}

// The answer with the request's transaction identifier, read frame by frame; frames with another one
// are answers to earlier requests, late or repeated, and are passed over. The first byte may take
// TimeOut, each further wait ReadTimeout, and the whole answer no longer than the two together, so a
// device that trickles or keeps sending cannot hold the client.
bool TIdModBusClient::ReceiveAnswer(uint16_t id, TFrame& answer) {
    using std::chrono::milliseconds;
    const int firstWait = static_cast<int>(std::min<uint32_t>(TimeOut, 0x3FFFFFFF));
    const int laterWait = ReadTimeout > 0 ? std::min(ReadTimeout, 0x3FFFFFFF) : firstWait;
    const auto deadline = TTcpSocket::Now() + milliseconds(firstWait) + milliseconds(laterWait);
    int wait = firstWait;
    for (;;) {
        answer.Restart();
        while (!answer.Complete()) {
            const auto left = std::chrono::ceil<milliseconds>(deadline - TTcpSocket::Now()).count();
            if (left < 0 || !Socket.WaitReadable(static_cast<int>(std::min<long long>(wait, left)))) return false;
            if (!answer.ReceiveFrom(Socket)) return false;
            wait = laterWait;
        }
        if (GetWord(answer.Bytes) == id) return true;
    }
}

bool TIdModBusClient::Unpack(const uint8_t* answer, int size) {
    const uint8_t function = answer[HeaderSize];
    if (function < 1 || function > 4) return true;  // writes echo the request; nothing to unpack
    if (size < HeaderSize + 2) return false;
    const int byteCount = answer[HeaderSize + 1];
    if (HeaderSize + 2 + byteCount > size) return false;  // shorter than it claims
    const uint8_t* data = answer + HeaderSize + 2;
    const int carried = function <= 2 ? 8 * byteCount : byteCount / 2;
    // Fewer values than asked for: the rest would be zeros passed off as values.
    if (carried < std::min(BlockLength, MaxQuantity(function))) return false;
    const int count = std::min<int>(carried, MaxQuantity(function));
    if (function <= 2) {
        for (int i = 0; i < count; ++i) DataBuffer[i] = (data[i / 8] >> (i % 8)) & 1;
    } else {
        for (int i = 0; i < count; ++i) DataBuffer[i] = GetWord(data + 2 * i);
    }
    return true;
}

}  // namespace tw
