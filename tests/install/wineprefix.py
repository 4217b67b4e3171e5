"""A Wine prefix of a test's own, and its registry as the prefix's files hold it."""
import os
import re
import shutil
import signal
import subprocess
import tempfile

# What Wine itself changes in a prefix while programs run: hardware it finds, the console's settings, and
# the uninstaller's temporary copy of itself, which Windows deletes at the next restart.
WINE_OWN = [
    (r"HKLM\System\CurrentControlSet\Control\Class", None),
    (r"HKLM\System\CurrentControlSet\Enum", None),
    (r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards", None),
    (r"HKCU\Console", None),
    (r"HKLM\System\CurrentControlSet\Control\Session Manager", '"PendingFileRenameOperations"'),
]
START_MENU = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Velmora Tarnowick"


def _unescape(data):
    m = re.match(r'^(?:str\(\d+\):)?"(.*)"$', data)
    return re.sub(r"\\(.)", r"\1", m.group(1)) if m else data


def _parse(path, root):
    keys = {}
    current = None
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        while line.endswith("\\") and i < len(lines):  # hex data goes on over several lines
            line = line[:-1] + lines[i].strip()
            i += 1
        if line.startswith("["):
            name = root + "\\" + line[1:line.rindex("]")].replace("\\\\", "\\")
            current = keys.setdefault(name.lower(), (name, {}))[1]
        elif current is not None:
            m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
            if m:
                current[m.group(1).lower()] = m.group(2)
    return keys


class Registry:
    def __init__(self, keys):
        self.keys = keys

    @staticmethod
    def _full(key):
        return re.sub(r"^HKCR\\", r"HKLM\\Software\\Classes\\", key).lower()

    def has_key(self, key):
        return self._full(key) in self.keys

    def value(self, key, name=None):
        """A value's text (None when missing); no name: the key's default value."""
        entry = self.keys.get(self._full(key))
        data = entry[1].get("@" if name is None else f'"{name}"'.lower()) if entry else None
        return None if data is None else _unescape(data)

    def added_since(self, later):
        """Keys and values of `later` that are not here, or differ, apart from Wine's own."""
        found = []
        for lower, (name, values) in sorted(later.keys.items()):
            if any(lower.startswith(k.lower()) and v is None for k, v in WINE_OWN):
                continue
            mine = self.keys.get(lower)
            if mine is None:
                found.append(name)
                continue
            for value, data in values.items():
                if mine[1].get(value) != data and not any(lower == k.lower() and value == v.lower() for k, v in WINE_OWN):
                    found.append(f"{name} {value}")
        return found


class Prefix:
    def __init__(self, path, root, build):
        self.path = path
        self.env = dict(os.environ, WINEPREFIX=path, WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d")
        self.root = root
        self.build = build
        self.xvfb = None

    def create(self):
        """A new prefix, and a display: ours, the test session's Xvfb, or a private one."""
        shutil.rmtree(self.path, ignore_errors=True)
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        subprocess.run(["wineboot", "--init"], env=dict(self.env, DISPLAY=""), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wait_idle()
        display = subprocess.run(
            ["bash", "-c", '. "$1/scripts/wine-env.sh" "$2" && tw_display pid && echo "$DISPLAY ${pid:-0}"', "-",
             self.root, self.build], env=self.env, capture_output=True, text=True, check=True).stdout.split()
        self.env["DISPLAY"], self.xvfb = display[0], int(display[1])

    def run(self, program, *args, timeout=120, launcher=(), overrides=""):
        """Runs a Windows program (a Windows path, or a Unix path to a file) and waits for it; `launcher`
        is a command that runs wine. Its output goes through files: services Wine starts for it inherit
        its handles and outlive it. overrides: more WINEDLLOVERRIDES entries for it and the programs it
        starts."""
        env = dict(self.env, WINEDLLOVERRIDES=self.env["WINEDLLOVERRIDES"] + ";" + overrides) if overrides else self.env
        with tempfile.TemporaryFile() as out:
            code = subprocess.run([*launcher, "wine", program, *args], env=env, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=timeout).returncode
            out.seek(0)
            return subprocess.CompletedProcess(program, code, out.read().decode(errors="replace"))

    def unix(self, windows_path):
        drive, rest = windows_path.split(":", 1)
        return os.path.join(self.path, f"drive_{drive.lower()}", *rest.strip("\\").split("\\"))

    def wait_idle(self):
        """Every program of the prefix has ended and the registry is on disk."""
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=120)

    def registry(self):
        self.wait_idle()
        keys = _parse(os.path.join(self.path, "system.reg"), "HKLM")
        keys.update(_parse(os.path.join(self.path, "user.reg"), "HKCU"))
        return Registry(keys)

    def start_menu_entries(self):
        folder = self.unix(START_MENU)
        return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

    def close(self):
        self.wait_idle()
        if self.xvfb:
            os.kill(self.xvfb, signal.SIGTERM)
