"""The headless station confined as orvanedb.service confines it, fed by devices over TCP.

    confined_station.py UNIT ORVANEDB ORVANEDB_SIM

bubblewrap gives it the unit's view of the file system (root read-only, only the working folder
writable, a private /tmp, no home folders, no capabilities, no new privileges) and confine.py the
unit's system call rules (the allowed list, no writable code, the address families, no
namespaces) and its umask. Devices send lines, the rows go to the embedded database, SIGTERM
closes the station; then the rows are counted in the database file and every file the station
made is checked to be its owner's alone. Exits 77 (skipped) where bubblewrap cannot run.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

from station_support import free_port, send_lines, wait_for, write_settings

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"  # outside the home folders, which the sandbox hides
DEVICES, LINES = 2, 50
DEADLINE_S = 30  # a bound for a loaded machine; a run takes a few seconds


def fail(message, *logs):
    for log in logs:
        if os.path.exists(log):
            sys.stderr.write(f"--- {log}\n" + open(log, encoding="utf-8", errors="replace").read()[-3000:])
    sys.exit(f"FAIL: {message}")


def sandbox(work, *options):
    """bubblewrap's half of the unit: ProtectSystem=strict, ReadWritePaths, PrivateTmp, ProtectHome,
    ProtectHostname, an unprivileged user without capabilities, its own session."""
    return ["bwrap", *options, "--ro-bind", "/", "/", "--tmpfs", "/tmp", "--tmpfs", "/var/tmp",
            "--bind", work, work, "--tmpfs", "/home", "--tmpfs", "/root", "--tmpfs", "/run/user",
            "--dev", "/dev", "--proc", "/proc", "--unshare-user", "--uid", "1000", "--gid", "1000",
            "--cap-drop", "ALL", "--unshare-ipc", "--unshare-uts", "--new-session", "--die-with-parent",
            "--chdir", work, "--setenv", "HOME", work, "--setenv", "XDG_CONFIG_HOME", work + "/.config"]


def confined(unit, work, command, *options):
    return sandbox(work, *options) + [PYTHON, os.path.join(HERE, "confine.py"), unit, "--"] + command


def main():
    unit, orvanedb, simulator = (os.path.abspath(a) for a in sys.argv[1:4])
    if not shutil.which("bwrap"):
        print("SKIP: bwrap is not installed (Debian package bubblewrap)")
        return 77
    scratch = tempfile.mkdtemp(prefix="orvanedb-confined-")
    try:
        work = os.path.join(scratch, "trabajo")
        os.mkdir(work, 0o700)
        probe = subprocess.run(sandbox(work) + ["true"], capture_output=True, text=True)
        if probe.returncode != 0:
            print(f"SKIP: bubblewrap cannot make a sandbox here: {probe.stderr.strip()}")
            return 77
        return run(unit, orvanedb, simulator, scratch, work)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def run(unit, orvanedb, simulator, scratch, work):
    # The rules bite: writable code, a packet socket and a privileged call (even a setuid to the
    # user it already is) are refused, a plain program runs.
    check = subprocess.run(confined(unit, work, [PYTHON, "-c", """
import mmap, os, socket
try:
    os.setuid(os.getuid())
    print("setuid allowed")
except PermissionError:
    pass
try:
    mmap.mmap(-1, 4096, prot=mmap.PROT_READ | mmap.PROT_WRITE | mmap.PROT_EXEC)
    print("writable code allowed")
except PermissionError:
    pass
try:
    socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
    print("packet socket allowed")
except PermissionError:
    pass
"""]), capture_output=True, text=True)
    if check.returncode != 0 or check.stdout:
        fail(f"the confinement does not hold: {check.stdout}{check.stderr}")

    device_port = free_port()
    os.umask(0o077)  # the settings as an administrator leaves them: the station's alone
    write_settings(work, device_port)

    stdout_path, stderr_path = os.path.join(scratch, "stdout"), os.path.join(scratch, "stderr")
    info_read, info_write = os.pipe()
    environment = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
    with open(stdout_path, "wb") as stdout, open(stderr_path, "wb") as stderr:
        station = subprocess.Popen(
            confined(unit, work, [orvanedb, "--console", "--metrics", "127.0.0.1:0"], "--info-fd",
                     str(info_write)),
            stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr, env=environment,
            pass_fds=(info_write,))
    os.close(info_write)
    logs = (stdout_path, stderr_path)
    try:
        with os.fdopen(info_read) as info:
            pid = json.loads(info.read())["child-pid"]
        deadline = time.monotonic() + DEADLINE_S
        read_stderr = lambda: open(stderr_path, encoding="utf-8", errors="replace").read()
        announced = wait_for(lambda: re.search(r"Métricas en (http://\S+/metrics)", read_stderr()),
                             deadline)
        if not announced:
            fail("the station never served its metrics", *logs)

        sent = send_lines(simulator, device_port, DEVICES, LINES, DEADLINE_S)
        if sent.returncode != 0:
            fail(f"the devices could not send: {sent.stderr}", *logs)

        def stored():
            try:
                text = urllib.request.urlopen(announced.group(1), timeout=2).read().decode()
            except OSError:
                return None
            found = re.search(r"^orvanedb_rows_stored_total (\d+)$", text, re.M)
            return found and int(found.group(1)) == DEVICES * LINES

        if not wait_for(stored, deadline):
            fail(f"the station did not store {DEVICES * LINES} rows", *logs)

        os.kill(pid, signal.SIGTERM)
        try:
            status = station.wait(timeout=DEADLINE_S)
        except subprocess.TimeoutExpired:
            fail("the station did not end after SIGTERM", *logs)
        if status != 0:
            fail(f"the station ended with status {status}", *logs)
    finally:
        if station.poll() is None:
            station.kill()
            station.wait()

    for complaint in ("Read-only file system", "Permission denied", "Operation not permitted",
                      "Sistema de ficheros de sólo lectura"):
        if complaint in read_stderr():
            fail(f"the station met the confinement: {complaint}", *logs)
    check_files(work, logs)
    print(f"confined station ok: {DEVICES * LINES} rows stored, settings and journals written, owner-only files")
    return 0


def check_files(work, logs):
    # The close stored the settings: the station writes them back as UTF-16 (the test wrote UTF-8).
    settings = os.path.join(work, ".config", "Tarvenix", "OrvaneDB.reg")
    if not open(settings, "rb").read().startswith(b"\xff\xfe"):
        fail("the close did not store the settings", *logs)
    for journal in ("lecturas.diario", "filas.diario"):
        if not os.path.isfile(os.path.join(work, journal)):
            fail(f"no {journal} in the working folder", *logs)

    database = os.path.join(work, "ROVEZOD30.FDB")
    if shutil.which("isql-fb"):
        query = subprocess.run(["isql-fb", "-q", "-user", "SYSDBA", database],
                               input="set list on;\nselect count(*) as filas from paquetes;\n",
                               capture_output=True, text=True, timeout=DEADLINE_S)
        found = re.search(r"FILAS\s+(\d+)", query.stdout)
        if not found or int(found.group(1)) != DEVICES * LINES:
            fail(f"the database holds {found and found.group(1)} rows: {query.stdout}{query.stderr}", *logs)

    # Owner only: UMask=0077 for everything the station makes. The embedded engine sets its
    # database file to 0660 itself; the group is the service user's own, and the folder is 0700.
    for folder, dirs, files in os.walk(work):
        for name in dirs + files:
            path = os.path.join(folder, name)
            mode = os.lstat(path).st_mode & 0o777
            allowed = 0o660 if path == database else (0o700 if name in dirs else 0o600)
            if mode & ~allowed:
                fail(f"{os.path.relpath(path, work)} has mode {mode:04o}", *logs)


if __name__ == "__main__":
    sys.exit(main())
