#!/usr/bin/env python3
"""Writes the seed corpus of the Modbus client fuzz target (tests/fuzz/corpus/): valid exchanges for every
function the client uses, and the edges of answer framing, stale answers and broken connections.

The input format is the one ModbusClientFuzz.cpp and SimulatedLink.cpp read: five bytes of settings,
then operations; the device's choices (how a connect ends, the script for each request) come from the
input at the moment the client connects or sends.
"""
import os
import sys

# Operations
READ_REGISTER, READ_COIL, READ_REGISTERS, READ_COILS, WRITE_REGISTER, WRITE_COIL, IDLE = range(7)
# Script actions
ANSWER, EXCEPTION, REPLAY, NOISE, HANGUP, RESET, FLOOD = range(7)
# Connect outcomes
ACCEPT, REFUSE, HANG = 0, 6, 7


def settings(timeout=29, later=10, connect=3, unit=1, seed=7):
    """timeout 29 -> 300 ms, later 10 -> 105 ms per further wait, connect 3 -> 200 ms."""
    return bytes([timeout, later, connect, unit, seed])


def word(v):
    return bytes([v >> 8 & 0xFF, v & 0xFF])


def op(kind, number=1, count=None, value=None):
    out = bytes([kind]) + (word(number) if kind != IDLE else word(value or 0))
    if kind in (READ_REGISTERS, READ_COILS):
        out += bytes([count])
    if kind in (WRITE_REGISTER, WRITE_COIL):
        out += word(value)
    return out


def answer(changes=b"\x00", delay=0, cut=0):
    """The correct answer; changes is the mutation byte followed by its parameters."""
    return bytes([ANSWER]) + changes + bytes([delay, cut])


def exception(code=2, delay=0):
    return bytes([EXCEPTION, code, delay, 0])


def replay(back=0, delay=0, cut=0):
    return bytes([REPLAY, back, delay, cut])


def noise(data, delay=0, cut=0):
    return bytes([NOISE, len(data)]) + data + bytes([delay, cut])


def hangup(delay=0):
    return bytes([HANGUP, delay])


def reset(delay=0):
    return bytes([RESET, delay])


def flood(data=b"", delay=0):
    # selector 0 floods copies of an earlier answer; otherwise noise of len(data) bytes
    if not data:
        return bytes([FLOOD, 0, 0, delay])
    return bytes([FLOOD, 1, len(data)]) + data + bytes([delay])


def script(*actions):
    return bytes([len(actions)]) + b"".join(actions)


A = script(answer())  # the plain, correct answer
SEEDS = {
    "read-register": settings() + op(READ_REGISTER, 40) + bytes([ACCEPT]) + A,
    "read-coil": settings() + op(READ_COIL, 10) + bytes([ACCEPT]) + A,
    "read-register-block": settings() + op(READ_REGISTERS, 100, count=9) + bytes([ACCEPT]) + A,
    "read-register-block-125": settings() + op(READ_REGISTERS, 1, count=124) + bytes([ACCEPT]) + A,
    "read-register-block-too-many": settings() + op(READ_REGISTERS, 1, count=130) + bytes([ACCEPT]) + A,
    "read-coil-block": settings() + op(READ_COILS, 7, count=99) + bytes([ACCEPT]) + A,
    "read-coil-block-2000": settings() + op(READ_COILS, 1, count=255) + bytes([ACCEPT]) + A,
    "write-register": settings() + op(WRITE_REGISTER, 100, value=0x1234) + bytes([ACCEPT]) + A,
    "write-coil": settings() + op(WRITE_COIL, 10, value=1) + bytes([ACCEPT]) + A
    + op(WRITE_COIL, 10, value=0) + A,
    "several-on-one-connection": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + A + op(READ_COIL, 2) + A
    + op(WRITE_REGISTER, 3, value=9) + A + op(READ_REGISTERS, 4, count=3) + A,
    "exception-answer": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(exception(2))
    + op(READ_REGISTER, 1) + A,
    "one-byte-segments": settings() + op(READ_REGISTERS, 1, count=4) + bytes([ACCEPT]) + script(answer(cut=0x10)),
    "segments-of-five": settings() + op(READ_COILS, 1, count=20) + bytes([ACCEPT]) + script(answer(cut=0x24)),
    "late-answer": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(delay=150))
    + op(READ_REGISTER, 2) + bytes([ACCEPT]) + A,
    "silence": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script()
    + op(READ_REGISTER, 1) + bytes([ACCEPT]) + A,
    "answered-twice-at-once": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(), answer())
    + op(READ_REGISTER, 2) + A,
    "answered-twice-late": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(), answer(delay=20))
    + op(READ_REGISTER, 2) + script(answer(delay=40)),
    "stale-before-request": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(), answer(delay=20))
    + op(IDLE, value=50) + op(READ_REGISTER, 2) + A,
    "stale-cut-by-request": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT])
    + script(answer(), answer(delay=20, cut=0xA3)) + op(IDLE, value=25) + op(READ_REGISTER, 2) + bytes([ACCEPT]) + A,
    "replay-of-earlier": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + A + op(READ_REGISTER, 2)
    + script(replay(0), answer(delay=5)),
    "noise-then-answer": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT])
    + script(noise(b"\x00\x00\x00\x00\x00\x03\x01\x83\x02"), answer()),
    "garbage": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(noise(bytes(range(40)))),
    "other-transaction-id": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT])
    + script(answer(b"\x01\x12\x34"), answer(delay=2)),
    "other-function": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(b"\x02\x04")),
    "byte-count-short": settings() + op(READ_REGISTERS, 1, count=3) + bytes([ACCEPT]) + script(answer(b"\x04\xfe")),
    "byte-count-long": settings() + op(READ_REGISTERS, 1, count=3) + bytes([ACCEPT]) + script(answer(b"\x04\x02")),
    "extra-data": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(b"\x08\x03abc")),
    "length-short": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(b"\x10\xfe")),
    "length-long": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(b"\x10\x05")),
    "length-two": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(b"\x10\xfd")),
    "length-zero": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(b"\x10\xfb")),
    "length-huge": settings() + op(READ_COILS, 1, count=255) + bytes([ACCEPT]) + script(answer(b"\x10\x7f")),
    "truncated": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(b"\x80\x05")),
    "unit-and-protocol": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(b"\x60\x09\x00\x01")),
    "hangup-mid-answer": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(cut=0x25), hangup(1))
    + op(READ_REGISTER, 1) + bytes([ACCEPT]) + A,
    "hangup-between": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(), hangup(1))
    + op(IDLE, value=10) + op(READ_REGISTER, 1) + op(READ_REGISTER, 1) + bytes([ACCEPT]) + A,
    "reset-mid-answer": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(cut=0x25), reset(1))
    + op(READ_REGISTER, 1) + bytes([ACCEPT]) + A,
    "flood-of-copies": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + A + op(READ_REGISTER, 2)
    + script(flood()) + op(READ_REGISTER, 3) + bytes([ACCEPT]) + A,
    "flood-of-noise": settings() + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(), flood(b"\x00\x01", 1))
    + op(IDLE, value=5) + op(READ_REGISTER, 2) + bytes([ACCEPT]) + A,
    "connect-refused": settings() + op(READ_REGISTER, 1) + bytes([REFUSE]) + op(READ_REGISTER, 1) + bytes([ACCEPT]) + A,
    "connect-hangs": settings() + op(WRITE_REGISTER, 1, value=5) + bytes([HANG])
    + op(READ_REGISTER, 1) + bytes([ACCEPT]) + A,
    "no-read-timeout": settings(timeout=5, later=0) + op(READ_REGISTER, 1) + bytes([ACCEPT]) + script(answer(cut=0x31)),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    print(f"{len(SEEDS)} seeds in {folder}")


if __name__ == "__main__":
    main()
