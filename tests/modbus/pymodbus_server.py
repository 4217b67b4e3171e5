"""Modbus TCP server on 127.0.0.1 for the integration tests; prints its port, then serves until killed.

Holding register at address a holds a; coil at address a is on when a is even."""
import asyncio
import logging

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartAsyncTcpServer


logging.disable(logging.CRITICAL)  # a client hanging up is normal here, not worth a traceback


async def main():
    store = ModbusSlaveContext(co=ModbusSequentialDataBlock(0, [a % 2 == 0 for a in range(2000)]),
                               hr=ModbusSequentialDataBlock(0, list(range(2000))), zero_mode=True)
    server = await StartAsyncTcpServer(context=ModbusServerContext(slaves=store, single=True),
                                       address=("127.0.0.1", 0), defer_start=True)
    serving = asyncio.create_task(server.serve_forever())
    while getattr(server, "server", None) is None:
        await asyncio.sleep(0.01)
    print(server.server.sockets[0].getsockname()[1], flush=True)
    await serving


asyncio.run(main())
