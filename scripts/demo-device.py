#!/usr/bin/python3
"""A demo Modbus TCP device on 127.0.0.1 whose values change every second.

Usage: /usr/bin/python3 scripts/demo-device.py [PORT]   (default 5020; needs Debian's python3-pymodbus)

Holding registers (1-based numbers, as configured in Tarnowick):
  1 counter, +1 every second        2 level, a slow wave between 100 and 900
  3 temperature in tenths of a degree, drifting around 215    4 setpoint, changed only by writes
Coils:
  1 pump, toggles every second      2 alarm, on one second in five    3 valve, changed only by writes
Any unit identifier is answered. Stop it with Ctrl-C or by killing its process id."""
import asyncio
import logging
import math
import signal
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartAsyncTcpServer

HOST = "127.0.0.1"
DEFAULT_PORT = 5020
HOLDING, COILS = 3, 1  # function codes that name the two tables
REGISTERS = 4
COIL_COUNT = 3

logging.disable(logging.CRITICAL)  # a client hanging up is normal, not worth a traceback


def values_at(second):
    """Register and coil values for the given second since the start (the written ones excluded)."""
    counter = second % 65536
    level = int(500 + 400 * math.sin(second / 10.0))
    temperature = int(215 + 15 * math.sin(second / 37.0) + 5 * math.sin(second / 3.0))
    pump = second % 2 == 1
    alarm = second % 5 == 4
    return [counter, level, temperature], [pump, alarm]


async def change_every_second(slave):
    second = 0
    while True:
        registers, coils = values_at(second)
        slave.setValues(HOLDING, 0, registers)  # register 4 keeps what was written
        slave.setValues(COILS, 0, coils)        # coil 3 keeps what was written
        second += 1
        await asyncio.sleep(1.0)


async def serve(port):
    # zero_mode: register number n is wire address n - 1 is index n - 1.
    slave = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, [0] * 16), co=ModbusSequentialDataBlock(0, [False] * 16),
                               zero_mode=True)
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
    print(f"Demo Modbus TCP device listening on {HOST}:{port}: holding registers 1-{REGISTERS} and coils "
          f"1-{COIL_COUNT} change every second. Stop with Ctrl-C.", flush=True)
    changing = asyncio.create_task(change_every_second(slave))
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    changing.cancel()
    serving.cancel()


def main():
    try:
        port = int(sys.argv[1]) if len(sys.argv) > 1 else DEFAULT_PORT
        if not 0 < port < 65536:
            raise ValueError
    except ValueError:
        print(f"usage: {sys.argv[0]} [PORT]  (1-65535, default {DEFAULT_PORT})", file=sys.stderr)
        return 2
    try:
        asyncio.run(serve(port))
    except OSError as error:
        print(f"demo device: cannot listen on {HOST}:{port}: {error.strerror or error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
