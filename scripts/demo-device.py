#!/usr/bin/python3
"""A demo Modbus TCP device on 127.0.0.1 whose values change every second.

Usage: /usr/bin/python3 scripts/demo-device.py [PORT] [--trace FILE]
       (default port 5020; needs Debian's python3-pymodbus)

Holding registers (1-based numbers, as configured in Tarnowick):
  1 counter, +1 every second        2 level, a slow wave between 100 and 900
  3 temperature in tenths of a degree, drifting around 215    4 setpoint, changed only by writes
  5-6 energy in Wh, a 32-bit integer held low word first ("CDAB"), +1234 every second from 100000
  101-200 free for anybody's values, changed only by writes
Input registers:
  1-2 room temperature in degrees, a 32-bit float held high word first ("ABCD"), drifting around 21.5
  3 tank level from a 4-20 mA input, 0-27648 for 0-100 %, a slow wave between 20 % and 80 %
Coils:
  1 pump, toggles every second      2 alarm, on one second in five    3 valve, changed only by writes
Discrete inputs:
  1 door closed, open two seconds in seven
Any unit identifier is answered. --trace appends a line for every write a client sends: its function
code, the wire address of its first value and the values (registers as four hex digits, coils 0 or 1).
Stop it with Ctrl-C or by killing its process id."""
import asyncio
import logging
import math
import signal
import struct
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartAsyncTcpServer

HOST = "127.0.0.1"
DEFAULT_PORT = 5020
HOLDING, COILS, INPUTS, DISCRETE = 3, 1, 4, 2  # function codes that name the four tables
COIL_COUNT = 3
WRITES = (5, 6, 15, 16)  # what clients send; the device's own changes go in by table

logging.disable(logging.CRITICAL)  # a client hanging up is normal, not worth a traceback


def values_at(second):
    """Values of every table for the given second since the start (the written ones excluded)."""
    counter = second % 65536
    level = int(500 + 400 * math.sin(second / 10.0))
    temperature = int(215 + 15 * math.sin(second / 37.0) + 5 * math.sin(second / 3.0))
    high, low = struct.unpack(">HH", struct.pack(">i", 100000 + 1234 * second))
    energy = [low, high]  # low word first
    room = list(struct.unpack(">HH", struct.pack(">f", 21.5 + 1.5 * math.sin(second / 20.0))))
    tank = int(13824 + 8294 * math.sin(second / 15.0))
    pump = second % 2 == 1
    alarm = second % 5 == 4
    door_closed = second % 7 < 5
    return [counter, level, temperature], energy, room + [tank], [pump, alarm], [door_closed]


class TracingContext(ModbusSlaveContext):
    """Appends every write a client sends to a file, for tests that check the wire."""

    def __init__(self, trace, **kwargs):
        super().__init__(**kwargs)
        self.trace = trace

    def setValues(self, fc_as_hex, address, values):
        if self.trace and fc_as_hex in WRITES:
            words = " ".join(f"{int(v):04X}" if fc_as_hex in (6, 16) else str(int(bool(v))) for v in values)
            with open(self.trace, "a", encoding="ascii") as out:
                out.write(f"{fc_as_hex} {address} {words}\n")
        super().setValues(fc_as_hex, address, values)


async def change_every_second(slave):
    second = 0
    while True:
        registers, energy, room, coils, inputs = values_at(second)
        slave.setValues(HOLDING, 0, registers)  # register 4 keeps what was written
        slave.setValues(HOLDING, 4, energy)
        slave.setValues(INPUTS, 0, room)
        slave.setValues(COILS, 0, coils)        # coil 3 keeps what was written
        slave.setValues(DISCRETE, 0, inputs)
        second += 1
        await asyncio.sleep(1.0)


async def serve(port, trace):
    # zero_mode: register number n is wire address n - 1 is index n - 1.
    slave = TracingContext(trace, hr=ModbusSequentialDataBlock(0, [0] * 200),
                           co=ModbusSequentialDataBlock(0, [False] * 16), ir=ModbusSequentialDataBlock(0, [0] * 16),
                           di=ModbusSequentialDataBlock(0, [False] * 16), zero_mode=True)
    slave.setValues(HOLDING, 3, [100])
    # Reusing the address lets a device that was just stopped listen again at once (connections of its
    # last run may linger in TIME_WAIT).
    server = await StartAsyncTcpServer(context=ModbusServerContext(slaves=slave, single=True), address=(HOST, port),
                                       defer_start=True, allow_reuse_address=True)
    serving = asyncio.create_task(server.serve_forever())
    while getattr(server, "server", None) is None:
        if serving.done():
            serving.result()  # raises the reason, e.g. the port is taken
        await asyncio.sleep(0.01)
    print(f"Demo Modbus TCP device listening on {HOST}:{port}: holding registers 1-6, input registers 1-3, coils "
          f"1-{COIL_COUNT} and discrete input 1 change every second. Stop with Ctrl-C.", flush=True)
    changing = asyncio.create_task(change_every_second(slave))
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    changing.cancel()
    serving.cancel()


def main():
    args = sys.argv[1:]
    trace = None
    try:
        if "--trace" in args:
            at = args.index("--trace")
            trace = args[at + 1]
            del args[at:at + 2]
        port = int(args[0]) if args else DEFAULT_PORT
        if not 0 < port < 65536 or len(args) > 1:
            raise ValueError
    except (ValueError, IndexError):
        print(f"usage: {sys.argv[0]} [PORT] [--trace FILE]  (PORT 1-65535, default {DEFAULT_PORT})", file=sys.stderr)
        return 2
    try:
        asyncio.run(serve(port, trace))
    except OSError as error:
        print(f"demo device: cannot listen on {HOST}:{port}: {error.strerror or error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
