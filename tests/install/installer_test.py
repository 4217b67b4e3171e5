#!/usr/bin/python3
"""The installer under Wine, in a fresh prefix of its own (never the build's test prefix).

A silent install whose registration fails (the 32-bit proxy/stub cannot be registered) stops with an
error code and leaves nothing registered. Install silently; the registry then holds the class, the
ProgID, the OPC category and, only for the interfaces without one, our proxy/stubs, the 64-bit one and
the 32-bit one in the 32-bit registry view; opcda-cli finds the server among the OPC DA 2.0 servers, and
the 32-bit opcda-cli32 reaches it by ProgID. The configuration is edited (the demo device, a setting), a
second install runs over the running gateway, which it closes, and opcda-cli and opcda-cli32 read a demo
value by ProgID from the device through the upgraded gateway. Then the database becomes what an older
version leaves (a column fewer, no journal) and this version is installed over it; in the installed
folder, made one where no file can be made (even by root), the gateway saves a device and a register as
for a normal user. The uninstaller then leaves nothing it added, but keeps the configuration. Prints
what each phase cost.

Usage: installer_test.py BUILD_DIR INSTALLER VERSION DEMO_PORT"""
import contextlib
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import time

from pymodbus.client import ModbusTcpClient

import wineprefix

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PRODUCT_DIR = r"C:\Program Files\Velmora Tarnowick"
PROG_ID = "VelmoraTarnowick.DA2.1"
OPC_DA20_CATEGORY = "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"
IOPCSERVER = "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}"
IOPCITEMPROPERTIES = "{39C13A72-011E-11D0-9675-0020AFD8ADB3}"
FOREIGN_PROXY = "{0A0B0C0D-1111-2222-3333-444455556666}"  # another vendor's proxy/stub, already there
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
SETPOINT_REGISTER = 4  # the demo device's register that only writes change
CONFIGURATION = ["TARNOWICK.GDB", "TARNOWICK.GDB-journal", "Tarnowick.ini"]
# Runs the command after "--" where no file can be made in the folder $1, not even by root: in a mount
# namespace of its own (unshare) the folder is a read-only bind mount, with those of the files named
# before "--" that are there bound writable on top. The prefix's Wine server, which makes the files, starts in there and ends there.
LOCKED_FOLDER = r"""
set -e
dir=$1; shift
while [ "$1" != -- ]; do
  if [ -e "$dir/$1" ]; then mount --bind "$dir/$1" "$dir/$1"; fi
  shift
done
shift
mount --rbind "$dir" "$dir"
mount -o remount,bind,ro "$dir"
if touch "$dir/probe" 2>/dev/null; then echo "files can still be made in $dir"; exit 99; fi
set +e
"$@"; rc=$?
wineserver -w
exit $rc
"""

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, flush=True)


class Phases:
    def __init__(self):
        self.last = time.monotonic()
        self.costs = []

    def done(self, name):
        now = time.monotonic()
        self.costs.append((name, now - self.last))
        self.last = now


def device_register(port, number):
    client = ModbusTcpClient("127.0.0.1", port=port)
    client.connect()
    try:
        return client.read_holding_registers(number - 1, 1, slave=1).registers[0]
    finally:
        client.close()


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    build, installer, version, port = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
    check(os.path.basename(installer) == f"TarnowickSetup-{version}.exe", "the installer is named for the version")
    work = os.path.join(build, "install-test")
    shutil.rmtree(work, ignore_errors=True)
    prefix = wineprefix.Prefix(os.path.join(work, "wineprefix"), ROOT, build)
    phases = Phases()
    device = subprocess.Popen(["/usr/bin/python3", os.path.join(ROOT, "scripts", "demo-device.py"), str(port)],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        check("listening" in device.stdout.readline(), "the demo device listens")
        prefix.create()
        phases.done("fresh prefix (wineboot)")

        # Another vendor's proxy/stub already serves one OPC interface, for 64- and 32-bit clients: it stays.
        for view in ("/reg:64", "/reg:32"):
            prefix.run("reg", "add", rf"HKCR\Interface\{IOPCITEMPROPERTIES}\ProxyStubClsid32", "/ve", "/d",
                       FOREIGN_PROXY, "/f", view)
        before = prefix.registry()
        phases.done("registry before")

        # The 32-bit regsvr32 cannot run: the registration fails after much of it was written (classes,
        # type library, the 64-bit proxy/stub). The installation stops with an error and undoes all of it.
        failed = prefix.run(installer, "/S", overrides=r"c:\windows\syswow64\regsvr32.exe=d")
        check(failed.returncode == 2, f"an install whose registration fails ends with error 2: {failed.returncode}")
        residue = before.added_since(prefix.registry())
        check(not residue, "a failed registration leaves nothing registered:\n  " + "\n  ".join(residue))
        phases.done("install with a failing registration")

        check(prefix.run(installer, "/S").returncode == 0, "silent install succeeds")
        installed = prefix.unix(PRODUCT_DIR)
        dist = sorted(os.listdir(os.path.join(build, "dist")))
        check(sorted(os.listdir(installed)) == sorted(dist + ["Uninstall.exe"] + CONFIGURATION),
              f"installed exactly the shipped files, the uninstaller and the configuration: {os.listdir(installed)}")
        x86 = sorted(os.listdir(os.path.join(installed, "x86")))
        check(x86 == sorted(os.listdir(os.path.join(build, "dist", "x86"))), f"the 32-bit files in x86: {x86}")
        cli = PRODUCT_DIR + r"\opcda-cli.exe"
        cli32 = PRODUCT_DIR + r"\x86\opcda-cli32.exe"
        listed = prefix.run(cli, "servers")
        check(listed.returncode == 0 and f"- {PROG_ID} " in listed.stdout,
              f"a server browser lists the server under its ProgID: {listed.stdout}")
        status = prefix.run(cli32, PROG_ID, "status")
        check(status.returncode == 0 and "state: running" in status.stdout,
              f"a 32-bit client reaches the server by ProgID: {status.stdout}")
        phases.done("install, list the servers, a 32-bit client")

        reg = prefix.registry()
        clsid = reg.value(rf"HKCR\{PROG_ID}\CLSID")
        check(clsid is not None and reg.value(rf"HKCR\CLSID\{clsid}\ProgID") is not None, "class and ProgID registered")
        check(reg.has_key(rf"HKCR\CLSID\{clsid}\Implemented Categories\{OPC_DA20_CATEGORY}"), "in the OPC DA 2.0 category")
        ours = reg.value(rf"HKCR\Interface\{IOPCSERVER}\ProxyStubClsid32")
        check(ours is not None and reg.value(rf"HKCR\CLSID\{ours}\InprocServer32") == PRODUCT_DIR + r"\TarnowickPS.dll",
              "the installed proxy/stub serves IOPCServer")
        check(reg.value(rf"HKCR\Wow6432Node\Interface\{IOPCSERVER}\ProxyStubClsid32") == ours and
              reg.value(rf"HKCR\Wow6432Node\CLSID\{ours}\InprocServer32") == PRODUCT_DIR + r"\x86\TarnowickPS32.dll",
              "the installed 32-bit proxy/stub serves IOPCServer in the 32-bit view")
        for view in ("", "Wow6432Node\\"):
            check(reg.value(rf"HKCR\{view}Interface\{IOPCITEMPROPERTIES}\ProxyStubClsid32") == FOREIGN_PROXY,
                  f"the other proxy/stub is kept ({view or 'the 64-bit view'})")
        check(reg.value(RUN_KEY, "Velmora Tarnowick") is None, "no run at logon unless chosen")
        check(len(prefix.start_menu_entries()) == 2, f"two Start-menu entries: {prefix.start_menu_entries()}")
        phases.done("registry after install")

        # The operator's configuration: the demo device and a setting of the gateway's own.
        database = os.path.join(installed, "TARNOWICK.GDB")
        settings = os.path.join(installed, "Tarnowick.ini")
        subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "scripts", "demo-config.py"), database, str(port)],
                       check=True, stdout=subprocess.DEVNULL)
        with open(settings, "a") as f:
            f.write("Load on Startup=1\n")  # "Hide on Startup", under [System]
        # The gateway runs (hidden now, as just configured) when the upgrade comes: it must make way.
        exe = PRODUCT_DIR + r"\Tarnowick.exe"
        gateway = subprocess.Popen(["wine", exe], env=prefix.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        check(prefix.run(os.path.join(build, "bin", "tw-setup-helper.exe"), "wait", exe, "60").returncode == 0,
              "the installed gateway runs")
        check(prefix.run(installer, "/S", "/RUNATLOGON=yes").returncode == 0, "the upgrade succeeds")
        try:
            gateway.wait(30)
        except subprocess.TimeoutExpired:
            gateway.kill()
        check(gateway.returncode == 0, f"the upgrade closed the running gateway ({gateway.returncode})")
        for client in (cli, cli32):
            read = prefix.run(client, PROG_ID, "add-group", "G", "add", "G", "Demo.Setpoint", "read", "G")
            check(read.returncode == 0 and f"value={device_register(port, SETPOINT_REGISTER)} " in read.stdout,
                  f"the upgraded gateway reads the device's value by ProgID for {client}: {read.stdout}")
        phases.done("edit, upgrade, read a demo value")

        reg = prefix.registry()
        check(reg.value(RUN_KEY, "Velmora Tarnowick") == PRODUCT_DIR + r"\Tarnowick.exe", "run at logon as chosen")
        phases.done("registry after upgrade")

        # An older version leaves the database without the columns added since and without a journal.
        with contextlib.closing(sqlite3.connect(database)) as db, db:
            db.execute("ALTER TABLE DEVICE DROP COLUMN BLOCK_READS")
        journal = database + "-journal"
        if os.path.exists(journal):
            os.remove(journal)
        check(prefix.run(installer, "/S").returncode == 0 and os.path.exists(journal),
              "the upgrade over an older version's database succeeds and makes the journal")
        with open(settings) as f:
            shown = f.read().replace("Load on Startup=1", "Load on Startup=0")  # the window, for the edits
        with open(settings, "w") as f:
            f.write(shown)
        # A normal user's edits through the gateway's windows, driven by the end-to-end test's program.
        driver = os.path.join(build, "bin", "e2e_settings_test.exe")
        test = "SettingsPage.DISABLED_InstalledGatewaySavesForANormalUser"
        prefix.wait_idle()
        edits = prefix.run(driver, f"--gtest_filter={test}", "--gtest_also_run_disabled_tests", timeout=180,
                           launcher=["env", f"TW_INSTALLED_GATEWAY={PRODUCT_DIR}\\", "unshare", "--mount",
                                     "--propagation", "private", "bash", "-c", LOCKED_FOLDER, "-", installed,
                                     *CONFIGURATION, "--"])
        check(edits.returncode == 0 and "[  PASSED  ] 1 test" in edits.stdout,
              f"a normal user saves a device and a register after the upgrade:\n{edits.stdout}")
        phases.done("upgrade from an older version, a normal user's edits")

        configured = sqlite3.connect(database).execute("SELECT DESCRIPTION FROM DEVICE").fetchall()
        uninstall = prefix.run(PRODUCT_DIR + r"\Uninstall.exe", "/S")
        prefix.wait_idle()  # the uninstaller works from a copy of itself and returns at once
        check(uninstall.returncode == 0, "silent uninstall starts")
        after = prefix.registry()
        residue = before.added_since(after)
        check(not residue, "the uninstaller removes every key and value it added:\n  " + "\n  ".join(residue))
        for view in ("", "Wow6432Node\\"):
            check(after.value(rf"HKCR\{view}Interface\{IOPCITEMPROPERTIES}\ProxyStubClsid32") == FOREIGN_PROXY,
                  f"the other proxy/stub is still there ({view or 'the 64-bit view'})")
        check(sorted(os.listdir(installed)) == CONFIGURATION,
              f"only the configuration stays: {os.listdir(installed)}")
        check(prefix.start_menu_entries() == [], "no Start-menu entry stays")
        devices = sqlite3.connect(database).execute("SELECT DESCRIPTION FROM DEVICE").fetchall()
        check(devices == configured and ("Demo device",) in devices, f"the database keeps its devices: {devices}")
        with open(settings) as f:
            kept = f.read()
        check("Load on Startup=0" in kept and "Load on Windows startup=1" in kept, f"the settings are kept: {kept}")
        phases.done("uninstall, registry after")
    finally:
        device.send_signal(signal.SIGTERM)
        device.wait(10)
        prefix.close()
    for name, seconds in phases.costs:
        print(f"  {seconds:5.1f} s  {name}")
    print(f"  {sum(s for _, s in phases.costs):5.1f} s  in all")
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    shutil.rmtree(work, ignore_errors=True)  # a failed run keeps its prefix for a look
    return 0


if __name__ == "__main__":
    sys.exit(main())
