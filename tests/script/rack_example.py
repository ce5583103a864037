#!/usr/bin/python3
"""The rack as a lab runs it, for real: virtual modules (orvexa-module, offscreen) on their
pseudo-terminals, exported by a real ser2net on loopback through both accepters with the
example configuration examples/labgrid/ser2net.yaml (its devices and ports swapped for this
test's own), then
- orvexa-run on two modules at once, one over RFC 2217 and one over raw TCP, running
  examples/rack.ots, which must pass with a suite per port in the JUnit file;
- the labgrid example (examples/labgrid) under pytest with labgrid's plugin, once on a module's
  RFC 2217 port and once on its raw port, each with the example environment file pointed at it;
  rack.ots must pass there and the scripts that need the virtual module be skipped.

rack_example.py ORVEXA_RUN ORVEXA_MODULE SOURCE_DIR
"""

import os
import pathlib
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

# Generous: each piece is up in milliseconds, but CI is a loaded machine.
START_S = 30
RUN_S = 240


def fail(message):
    print(f"rack_example: {message}", file=sys.stderr)
    sys.exit(1)


def free_ports(count):
    """Distinct loopback ports the kernel has just found free."""
    sockets = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        sockets.append(s)
    ports = [s.getsockname()[1] for s in sockets]
    for s in sockets:
        s.close()
    return ports


def listening(ports):
    """The ports among `ports` that something listens on at 127.0.0.1, seen without connecting:
    a connection would make ser2net open the module's device."""
    found = set()
    with open("/proc/net/tcp") as table:
        next(table)
        for line in table:
            fields = line.split()
            if fields[3] == "0A" and fields[1].startswith("0100007F:"):
                found.add(int(fields[1][9:], 16))
    return found & set(ports)


def start_module(program, number, environment, log):
    """An orvexa-module as COM<number>; its pseudo-terminal once it says it is ready."""
    process = subprocess.Popen([program, "--port", str(number)], env=environment,
                               stdout=subprocess.PIPE, stderr=log, text=True)
    line = process.stdout.readline()
    match = re.fullmatch(rf"COM{number} (/dev/pts/\d+)\n", line)
    if not match:
        fail(f"orvexa-module did not get ready: {line!r}")
    return process, match.group(1)


def main():
    if len(sys.argv) != 4:
        fail("usage: rack_example.py ORVEXA_RUN ORVEXA_MODULE SOURCE_DIR")
    orvexa_run, orvexa_module, source = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])
    ser2net = shutil.which("ser2net") or shutil.which("ser2net", path="/usr/sbin:/sbin")
    if not ser2net:
        fail("ser2net is not installed (tools/deps.sh test installs it)")

    work = pathlib.Path(tempfile.mkdtemp(prefix="rack-example-"))
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                       XDG_CONFIG_HOME=str(work / "config"), XDG_DATA_HOME=str(work / "data"),
                       XDG_RUNTIME_DIR=str(work))
    processes = []
    try:
        log = open(work / "modules.log", "w")
        devices = []
        for number in (1, 2):
            process, device = start_module(orvexa_module, number, environment, log)
            processes.append(process)
            devices.append(device)

        # The example configuration, on this test's devices and free loopback ports; the
        # modules not started here get devices that do not exist, unused.
        config = (source / "examples/labgrid/ser2net.yaml").read_text()
        examplePorts = sorted({int(p) for p in re.findall(r"tcp,(\d+)", config)})
        ports = dict(zip(examplePorts, free_ports(len(examplePorts))))
        config = re.sub(r"tcp,(\d+)", lambda m: f"tcp,127.0.0.1,{ports[int(m.group(1))]}", config)
        for n in range(1, 9):
            device = devices[n - 1] if n <= len(devices) else str(work / f"absent{n}")
            config = config.replace(f"/dev/serial/by-id/module{n},", device + ",")
        (work / "ser2net.yaml").write_text(config)
        server = subprocess.Popen([ser2net, "-d", "-u", "-c", str(work / "ser2net.yaml"), "-P",
                                   str(work / "ser2net.pid")],
                                  stdout=open(work / "ser2net.log", "w"), stderr=subprocess.STDOUT,
                                  stdin=subprocess.DEVNULL)
        processes.append(server)
        deadline = time.monotonic() + START_S
        while listening(ports.values()) != set(ports.values()):
            if server.poll() is not None or time.monotonic() > deadline:
                fail("ser2net did not listen:\n" + (work / "ser2net.log").read_text())
            time.sleep(0.05)
        rfc2217 = {n: ports[7000 + 2 * n - 1] for n in (1, 2)}
        raw = {n: ports[7000 + 2 * n] for n in (1, 2)}

        # Two modules at once, one through each accepter.
        junit = work / "r.xml"
        run = subprocess.run([orvexa_run, "--port", f"rfc2217://127.0.0.1:{rfc2217[1]}",
                              "--port", f"socket://127.0.0.1:{raw[2]}",
                              str(source / "examples/rack.ots"), "--junit", str(junit)],
                             env=environment, capture_output=True, text=True, timeout=RUN_S)
        print(run.stdout + run.stderr)
        if run.returncode != 0:
            fail(f"orvexa-run on two modules exited {run.returncode}")
        suites = [s.get("name") for s in ET.parse(junit).getroot().iter("testsuite")]
        if len(suites) != 2 or not all(" on rfc2217://" in s or " on socket://" in s
                                       for s in suites):
            fail(f"the JUnit file's suites are {suites}")

        # The labgrid example, through each accepter.
        example = (source / "examples/labgrid/env.yaml").read_text()
        for name, port, protocol in (("rfc2217", rfc2217[1], "rfc2217"), ("raw", raw[2], "raw")):
            env_file = work / f"env-{name}.yaml"
            env_file.write_text(example.replace("port: 7001", f"port: {port}")
                                .replace("protocol: rfc2217", f"protocol: {protocol}"))
            report = work / f"labgrid-{name}.xml"
            pytest = subprocess.run(
                ["/usr/bin/python3", "-m", "pytest", "-p", "no:cacheprovider", "-q",
                 str(source / "examples/labgrid"), "--lg-env", str(env_file),
                 f"--junitxml={report}"],
                env=dict(environment, ORVEXA_RUN=orvexa_run, PYTHONDONTWRITEBYTECODE="1",
                         ORVEXA_RESULTS=str(work / f"results-{name}")),
                capture_output=True, text=True, timeout=RUN_S, cwd=work)
            print(pytest.stdout + pytest.stderr)
            if pytest.returncode != 0:
                fail(f"the labgrid example over {name} exited {pytest.returncode}")
            cases = {c.get("name"): c for c in ET.parse(report).getroot().iter("testcase")}
            rack = cases.get("test_example[rack.ots]")
            if rack is None or any(c.tag in ("failure", "error", "skipped") for c in rack):
                fail(f"rack.ots did not pass over {name}")
            attached = [p.get("value") for p in rack.iter("property")
                        if p.get("name") == "orvexa_junit"]
            if attached != [str(work / f"results-{name}/rack.xml")] or \
                    not pathlib.Path(attached[0]).is_file():
                fail(f"over {name}, rack.ots's JUnit file is not attached: {attached}")
        print("rack_example: passed")
    finally:
        for process in reversed(processes):
            process.send_signal(signal.SIGTERM)
        for process in reversed(processes):
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
