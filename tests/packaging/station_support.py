"""What the packaging tests that run a real station share: ports, waits, its settings, its devices."""

import os
import socket
import subprocess
import time


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for(check, deadline, pause=0.05):
    """The first true value of check() before the monotonic deadline, else None."""
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(pause)
    return None


def write_settings(work, device_port):
    """The settings file under work/.config with the devices' port, readable by its owner only, as
    an administrator leaves it; the station writes it back as UTF-16 at its close."""
    settings = os.path.join(work, ".config", "Tarvenix", "OrvaneDB.reg")
    os.makedirs(os.path.dirname(settings), exist_ok=True)
    with open(os.open(settings, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w", encoding="utf-8") as out:
        out.write("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Tarvenix\\OrvaneDB\\Vuruvov]\r\n"
                  f'"Edpuerto_Text"="{device_port}"\r\n')
    return settings


def send_lines(simulator, device_port, devices, lines, timeout):
    """The simulated devices send their lines as fast as they can; the finished run."""
    return subprocess.run([simulator, "--host", "127.0.0.1", "--port", str(device_port), "--devices",
                           str(devices), "--lines", str(lines), "--rate", "0"],
                          capture_output=True, text=True, timeout=timeout)
