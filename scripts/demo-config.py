#!/usr/bin/python3
"""Gives a gateway without devices the demo configuration: one device on 127.0.0.1 (scripts/demo-device.py)
with its four holding registers and three coils.

Usage: /usr/bin/python3 scripts/demo-config.py DATABASE [PORT]
  DATABASE  the configuration database, TARNOWICK.GDB beside Tarnowick.exe (a folder names the file in it)
  PORT      the demo device's port (default 5020)
A database that already holds a device is left exactly as it is."""
import os
import sqlite3
import sys

DEFAULT_PORT = 5020
DATABASE_NAME = "TARNOWICK.GDB"
# The tables as the data-access library creates them.
SCHEMA = """
CREATE TABLE IF NOT EXISTS DEVICE (
 ID INTEGER PRIMARY KEY AUTOINCREMENT, DESCRIPTION VARCHAR(100), IP_ADDRESS VARCHAR(15), PORT INTEGER,
 UNIT_ID INTEGER, DISABLED INTEGER DEFAULT 0);
CREATE TABLE IF NOT EXISTS I_O_SETTING (
 ID INTEGER PRIMARY KEY AUTOINCREMENT, DEVICE_ID INTEGER, DESCRIPTION VARCHAR(100), REGISTER_NO INTEGER,
 REGISTER_TYPE INTEGER, TAG_NAME VARCHAR(100));
"""
REGISTER, COIL = 0, 1
# The gateway lists registers by description: the prefixes keep coils and registers in number order.
POINTS = [
    ("R1 Counter (+1 every second)", 1, REGISTER, "Demo.Counter"),
    ("R2 Level (slow wave)", 2, REGISTER, "Demo.Level"),
    ("R3 Temperature (0.1 degree)", 3, REGISTER, "Demo.Temperature"),
    ("R4 Setpoint (write me)", 4, REGISTER, "Demo.Setpoint"),
    ("C1 Pump (toggles)", 1, COIL, "Demo.Pump"),
    ("C2 Alarm (1 s in 5)", 2, COIL, "Demo.Alarm"),
    ("C3 Valve (write me)", 3, COIL, "Demo.Valve"),
]


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = sys.argv[1]
    if os.path.isdir(path):
        path = os.path.join(path, DATABASE_NAME)
    try:
        port = int(sys.argv[2]) if len(sys.argv) == 3 else DEFAULT_PORT
        if not 0 < port < 65536:
            raise ValueError
    except ValueError:
        print(f"demo-config: PORT must be 1-65535, not {sys.argv[2]!r}", file=sys.stderr)
        return 2

    db = sqlite3.connect(path)
    try:
        with db:  # one transaction: all of the demo or nothing
            db.executescript(SCHEMA)
            if db.execute("SELECT COUNT(*) FROM DEVICE").fetchone()[0] > 0:
                print(f"Configuration kept: {path} already has devices.")
                return 0
            device = db.execute(
                "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES (?, ?, ?, ?, 0)",
                ("Demo device", "127.0.0.1", port, 1)).lastrowid
            db.executemany(
                "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) "
                "VALUES (?, ?, ?, ?, ?)", [(device, *point) for point in POINTS])
    finally:
        db.close()
    print(f"Demo configuration written to {path}: \"Demo device\" at 127.0.0.1:{port} with "
          f"{len(POINTS)} tags (Demo.*).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
