// Client side of Modbus TCP: one connection to one device, one request at a time.
#pragma once

#include "modbus/TcpSocket.h"

#include <array>
#include <cstdint>
#include <string>

namespace tw {

// How the last read or write ended: the device answered as asked, the device answered with an
// exception (it is there but refused the request), or there was no usable answer.
enum class TModbusOutcome : uint8_t { Answered, Exception, NoAnswer };

class TIdModBusClient {
public:
    // The most one read may ask for, as Modbus allows: 125 registers (250 data bytes) or 2,000 coils.
    static constexpr uint16_t MaxRegisterRead = 125;
    static constexpr uint16_t MaxCoilRead = 2000;
    static constexpr int DataBufferWords = MaxCoilRead;
    static constexpr int AnswerBufferSize = 266;  // 7-byte header, function code, 258 further bytes
    // The most values one read asks for; a block read of more fails without a request.
    static constexpr uint16_t MaxCoilsPerRead = MaxCoilRead;          // functions 1 and 2
    static constexpr uint16_t MaxRegistersPerRead = MaxRegisterRead;  // functions 3 and 4
    static_assert(MaxCoilsPerRead <= DataBufferWords && MaxRegistersPerRead <= DataBufferWords);
    // The most registers one Write Multiple Registers (function 16) may carry.
    static constexpr uint16_t MaxRegistersPerWrite = 123;

    // Properties: the settings of the connection and of the next request.
    std::string Host;
    int32_t Port = 502;
    uint8_t UnitID = 1;
    int32_t ConnectTimeOut = -1;  // ms; -1 leaves the limit to the system
    uint32_t TimeOut = 15000;     // ms to wait for the first byte of an answer
    int32_t ReadTimeout = 0;      // ms to wait for each further part of an answer; 0 = TimeOut
                                  // (the whole answer must come within TimeOut and ReadTimeout together)
    uint8_t ModBusFunction = 0;
    uint16_t RegNumber = 0;       // 1-based
    uint16_t BlockLength = 0;
    // Transaction identifier of the next request. It counts from 0 on every connection; an answer is
    // taken only with its request's identifier, so a late or repeated answer is never taken for another.
    uint16_t TransactionID = 0;
    const char* Version() const { return "1.0.1"; }

    // Before a write words 0.. hold the values (one but for function 16); after a read words 0.. hold
    // the values read.
    std::array<uint16_t, DataBufferWords> DataBuffer{};
    // Set by every read and write, also by one that raises; the exception code of an exception answer.
    TModbusOutcome LastOutcome = TModbusOutcome::NoAnswer;
    uint8_t LastExceptionCode = 0;

    // Connection operations. Failures raise ESocketError and leave the client disconnected. A new
    // connection starts its transaction identifiers from 0.
    void Connect(int timeoutMs);
    void Disconnect() { Socket.Close(); }
    // True while the socket is open; a close by the peer is noticed only by the next transaction.
    bool Connected() const { return Socket.IsOpen(); }

    // Reads and writes: true on success. A failed read hands back zeros, and so does an answer that
    // carries fewer values than were asked for, or a block read of more values than one request may
    // ask for. Transport failures raise ESocketError after disconnecting.
    bool ReadRegisterValue(uint16_t regNo, uint16_t& value);
    bool ReadRegisterBlock(uint16_t regNo, uint16_t count, uint16_t* values);
    bool ReadCoilValue(uint16_t coilNo, uint16_t& value);
    bool ReadCoilBlock(uint16_t coilNo, uint16_t count, uint16_t* values);
    bool ReadInputRegisterBlock(uint16_t regNo, uint16_t count, uint16_t* values);  // function 4
    bool ReadDiscreteInputBlock(uint16_t inputNo, uint16_t count, uint16_t* values);  // function 2
    // A read of function 1, 2, 3 or 4.
    bool ReadBlock(uint8_t function, uint16_t number, uint16_t count, uint16_t* values);
    bool WriteSingleRegister(uint16_t regNo, uint16_t value);
    bool WriteSingleCoil(uint16_t coilNo, uint16_t value);
    // Function 16: count registers from regNo on in one request, so a device takes a value of several
    // registers whole or not at all. More than MaxRegistersPerWrite fails without a request.
    bool WriteMultipleRegisters(uint16_t regNo, uint16_t count, const uint16_t* values);

    // One request built from the properties and DataBuffer, and its answer.
    bool Transact();
    void ClearDataBuffer() { DataBuffer.fill(0); }

private:
    struct TFrame;
    bool Write(uint8_t function, uint16_t number, uint16_t value);
    bool EnsureConnected();
    bool DiscardStale();
    bool ReceiveAnswer(uint16_t id, TFrame& answer);
    bool Unpack(const uint8_t* answer, int size);

    TTcpSocket Socket;
};

// A request as it goes out in one send: 12 bytes, or for function 16 the values after them.
struct TRequestFrame {
    std::array<uint8_t, 13 + 2 * TIdModBusClient::MaxRegistersPerWrite> Bytes{};
    std::size_t Size = 12;
    uint8_t operator[](std::size_t i) const { return Bytes[i]; }
};

// The request for a client's current properties and DataBuffer (exposed for tests and tools).
// Quantities are capped at the most one read or write may carry.
TRequestFrame BuildRequest(const TIdModBusClient& client);

}  // namespace tw
