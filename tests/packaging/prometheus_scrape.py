"""A real Prometheus scrapes a running console station, with the package's alerting rules loaded.

    prometheus_scrape.py ORVANEDB ORVANEDB_SIM ALERT_RULES

Devices send lines over TCP; the rows stored must show through Prometheus' query API, the station
must be up, and every alerting rule must evaluate against the real series without an error.
Exits 77 (skipped) without /usr/bin/prometheus.
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
import urllib.parse
import urllib.request

from station_support import free_port, send_lines, wait_for, write_settings

PROMETHEUS = "/usr/bin/prometheus"
DEVICES, LINES = 2, 30
DEADLINE_S = 30  # a bound for a loaded machine; a run takes a few seconds


def get_json(url):
    try:
        return json.load(urllib.request.urlopen(url, timeout=2))
    except (OSError, ValueError):
        return None


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def main():
    orvanedb, simulator, rules = (os.path.abspath(a) for a in sys.argv[1:4])
    if not os.access(PROMETHEUS, os.X_OK):
        print(f"SKIP: {PROMETHEUS} is not installed (Debian package prometheus)")
        return 77
    scratch = tempfile.mkdtemp(prefix="orvanedb-prometheus-")
    processes = []
    logs = {name: os.path.join(scratch, name + ".log") for name in ("station", "prometheus")}

    def fail(message):
        for name, log in logs.items():
            if os.path.exists(log):
                sys.stderr.write(f"--- {name}\n" + open(log, encoding="utf-8", errors="replace").read()[-4000:])
        sys.exit(f"FAIL: {message}")

    try:
        deadline = time.monotonic() + DEADLINE_S
        work = os.path.join(scratch, "trabajo")
        device_port = free_port()
        write_settings(work, device_port)
        environment = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, ".config"), HOME=work,
                           ASAN_OPTIONS="detect_leaks=0")
        with open(logs["station"], "wb") as log:
            processes.append(subprocess.Popen([orvanedb, "--console", "--metrics", "127.0.0.1:0"], cwd=work,
                                              env=environment, stdin=subprocess.DEVNULL,
                                              stdout=subprocess.DEVNULL, stderr=log))
        announced = wait_for(lambda: re.search(r"Métricas en http://(127\.0\.0\.1:\d+)/metrics",
                                               open(logs["station"], encoding="utf-8", errors="replace").read()),
                             deadline)
        if not announced:
            fail("the station never served its metrics")

        web = f"127.0.0.1:{free_port()}"
        config = os.path.join(scratch, "prometheus.yml")
        with open(config, "w", encoding="utf-8") as out:
            out.write(f"""global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files:
  - {json.dumps(rules)}
scrape_configs:
  - job_name: orvanedb
    static_configs:
      - targets: ['{announced.group(1)}']
""")
        with open(logs["prometheus"], "wb") as log:
            processes.append(subprocess.Popen(
                [PROMETHEUS, f"--config.file={config}", f"--storage.tsdb.path={scratch}/datos",
                 f"--web.listen-address={web}"], cwd=scratch, stdin=subprocess.DEVNULL,
                stdout=log, stderr=subprocess.STDOUT))

        sent = send_lines(simulator, device_port, DEVICES, LINES, DEADLINE_S)
        if sent.returncode != 0:
            fail(f"the devices could not send: {sent.stderr}")

        def query(expression):
            answer = get_json(f"http://{web}/api/v1/query?query=" + urllib.parse.quote(expression))
            if not answer or answer.get("status") != "success":
                return []
            return [float(sample["value"][1]) for sample in answer["data"]["result"]]

        rows = DEVICES * LINES
        if not wait_for(lambda: query('orvanedb_rows_stored_total{job="orvanedb"}') == [rows], deadline):
            fail(f"Prometheus never saw {rows} rows stored: {query('orvanedb_rows_stored_total')}")
        if query('up{job="orvanedb"}') != [1.0]:
            fail("the station is not up for Prometheus")

        def evaluated():
            answer = get_json(f"http://{web}/api/v1/rules")
            groups = answer["data"]["groups"] if answer else []
            found = [rule for group in groups for rule in group["rules"]]
            # A rule not evaluated yet has the health "unknown".
            return found if found and all(rule.get("health") != "unknown" for rule in found) else None

        found = wait_for(evaluated, deadline, 0.1)
        if not found:
            fail("the alerting rules were not evaluated")
        broken = [f"{rule['name']}: {rule.get('lastError')}" for rule in found if rule["health"] != "ok"]
        if broken:
            fail(f"rules that do not evaluate: {broken}")
        firing = [rule["name"] for rule in found if rule.get("state") == "firing"]
        if firing:
            fail(f"alerts firing on a healthy station: {firing}")
        print(f"Prometheus read {rows} rows stored; {len(found)} rules evaluated")
        return 0
    finally:
        for process in reversed(processes):
            stop(process)
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
