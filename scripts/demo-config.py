#!/usr/bin/python3
"""Gives a gateway without devices the demo configuration for the demo device on 127.0.0.1
(scripts/demo-device.py): its holding registers, coils, input registers and discrete input, as two
devices of the gateway, one of which keeps its 32-bit values low word first. The settings file beside
the database (Tarnowick.ini) gets "Publish device status items" ticked unless it says otherwise.

Usage: /usr/bin/python3 scripts/demo-config.py DATABASE [PORT]
  DATABASE  the configuration database, TARNOWICK.GDB beside Tarnowick.exe (a folder names the file in it)
  PORT      the demo device's port (default 5020)
A database that already holds a device is left exactly as it is, and so is a setting the file has."""
import os
import sqlite3
import sys

DEFAULT_PORT = 5020
DATABASE_NAME = "TARNOWICK.GDB"
# The tables as the data-access library creates them, and the columns it adds to them.
SCHEMA = """
CREATE TABLE IF NOT EXISTS DEVICE (
 ID INTEGER PRIMARY KEY AUTOINCREMENT, DESCRIPTION VARCHAR(100), IP_ADDRESS VARCHAR(15), PORT INTEGER,
 UNIT_ID INTEGER, DISABLED INTEGER DEFAULT 0);
CREATE TABLE IF NOT EXISTS I_O_SETTING (
 ID INTEGER PRIMARY KEY AUTOINCREMENT, DEVICE_ID INTEGER, DESCRIPTION VARCHAR(100), REGISTER_NO INTEGER,
 REGISTER_TYPE INTEGER, TAG_NAME VARCHAR(100));
"""
ADDED_COLUMNS = [("DEVICE", "BLOCK_READS", "INTEGER"), ("DEVICE", "WORD_ORDER", "INTEGER"),
                 ("DEVICE", "WRITE_MULTIPLE", "INTEGER"), ("I_O_SETTING", "DATA_TYPE", "INTEGER"),
                 ("I_O_SETTING", "RAW_LOW", "REAL"), ("I_O_SETTING", "RAW_HIGH", "REAL"),
                 ("I_O_SETTING", "EU_LOW", "REAL"), ("I_O_SETTING", "EU_HIGH", "REAL"),
                 ("I_O_SETTING", "EU_UNITS", "VARCHAR(32)"), ("I_O_SETTING", "EU_CLAMP", "INTEGER")]
REGISTER, COIL, INPUT_REGISTER, DISCRETE_INPUT = 0, 1, 2, 3
UINT16, INT32, FLOAT32 = 0, 3, 4
HIGH_WORD_FIRST, LOW_WORD_FIRST = 0, 1
NONE = (None, None, None, None, None, 0)  # no scaling: raw low/high, EU low/high, units, clamp
PERCENT_OF_4_20_MA = (0, 27648, 0, 100, "%", 1)
# The gateway lists registers by description: the prefixes keep each table in number order.
DEVICES = [
    ("Demo device", HIGH_WORD_FIRST, [
        ("C1 Pump (toggles)", 1, COIL, "Demo.Pump", UINT16),
        ("C2 Alarm (1 s in 5)", 2, COIL, "Demo.Alarm", UINT16),
        ("C3 Valve (write me)", 3, COIL, "Demo.Valve", UINT16),
        ("D1 Door closed (open 2 s in 7)", 1, DISCRETE_INPUT, "Demo.DoorClosed", UINT16),
        ("I1 Room temperature (Float32, degrees)", 1, INPUT_REGISTER, "Demo.RoomTemperature", FLOAT32),
        ("I3 Tank level (4-20 mA, 0-27648 scaled to 0-100 %)", 3, INPUT_REGISTER, "Demo.TankLevel", UINT16,
         PERCENT_OF_4_20_MA),
        ("R1 Counter (+1 every second)", 1, REGISTER, "Demo.Counter", UINT16),
        ("R2 Level (slow wave)", 2, REGISTER, "Demo.Level", UINT16),
        ("R3 Temperature (0.1 degree)", 3, REGISTER, "Demo.Temperature", UINT16),
        ("R4 Setpoint (write me)", 4, REGISTER, "Demo.Setpoint", UINT16),
    ]),
    ("Demo meter (low word first)", LOW_WORD_FIRST, [
        ("R5 Energy (Int32, Wh)", 5, REGISTER, "Demo.Energy", INT32),
    ]),
]


SETTINGS_NAME = "Tarnowick.ini"
STATUS_SECTION, STATUS_KEY = "System", "Publish device status items"


def publish_status_items(folder):
    """Ticks the setting in the settings file unless the file has it already (as 0 or 1): the file is
    the gateway's, so only a line is added, the way the gateway's own profile calls read it."""
    path = os.path.join(folder, SETTINGS_NAME)
    try:
        with open(path, encoding="latin-1", newline="") as f:
            lines = f.read().splitlines()
    except FileNotFoundError:
        lines = []
    section = None
    for i, line in enumerate(lines):
        text = line.strip()
        if text.startswith("[") and text.endswith("]"):
            section = text[1:-1].strip().lower()
        elif section == STATUS_SECTION.lower() and text.split("=", 1)[0].strip().lower() == STATUS_KEY.lower():
            return
    header = next((i for i, line in enumerate(lines) if line.strip().lower() == f"[{STATUS_SECTION.lower()}]"), None)
    if header is None:
        lines += [f"[{STATUS_SECTION}]", f"{STATUS_KEY}=1"]
    else:
        lines.insert(header + 1, f"{STATUS_KEY}=1")
    with open(path, "w", encoding="latin-1", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    print(f"Device status items published ({path}): _Devices.<device>.Connected, .Failing, .Failures, ...")


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

    publish_status_items(os.path.dirname(os.path.abspath(path)))
    db = sqlite3.connect(path)
    try:
        with db:  # one transaction: all of the demo or nothing
            db.executescript(SCHEMA)
            if db.execute("SELECT COUNT(*) FROM DEVICE").fetchone()[0] > 0:
                print(f"Configuration kept: {path} already has devices.")
                return 0
            for table, column, kind in ADDED_COLUMNS:
                if column not in [row[1] for row in db.execute(f"PRAGMA table_info({table})")]:
                    db.execute(f"ALTER TABLE {table} ADD COLUMN {column} {kind}")
            tags = 0
            for description, word_order, points in DEVICES:
                device = db.execute(
                    "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED, WORD_ORDER) "
                    "VALUES (?, ?, ?, ?, 0, ?)", (description, "127.0.0.1", port, 1, word_order)).lastrowid
                db.executemany(
                    "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME, DATA_TYPE, "
                    "RAW_LOW, RAW_HIGH, EU_LOW, EU_HIGH, EU_UNITS, EU_CLAMP) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                    [(device, *point[:5], *(point[5] if len(point) > 5 else NONE)) for point in points])
                tags += len(points)
    finally:
        db.close()
    print(f"Demo configuration written to {path}: {len(DEVICES)} devices at 127.0.0.1:{port} with "
          f"{tags} tags (Demo.*).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
