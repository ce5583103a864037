"""The example scripts, each run by orvexa-run on the module that labgrid's environment names.

The environment (--lg-env) holds a NetworkSerialPort: a module's port exported by ser2net. Each
script runs against its address, rfc2217://HOST:PORT (or socket://HOST:PORT for a "raw"
port), and the JUnit file orvexa-run writes is attached to the test as the property
"orvexa_junit". A script with steps only the virtual module can do (touches, keys, screen
pictures) is skipped, as orvexa-run refuses it for a real module before sending anything.

    python3 -m pytest examples/labgrid --lg-env examples/labgrid/env.yaml --junitxml=labgrid.xml

orvexa-run is taken from $ORVEXA_RUN, else from PATH; its JUnit files go to $ORVEXA_RESULTS,
else to pytest's temporary folder.
"""

import os
import pathlib
import shutil
import subprocess

import pytest
from labgrid.resource import NetworkSerialPort

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent
SCHEMES = {"rfc2217": "rfc2217", "raw": "socket"}
# Generous: a script's own waits are bounded; this only stops a run that hangs.
RUN_TIMEOUT_S = 300


@pytest.fixture(scope="session")
def address(target):
    port = target.get_resource(NetworkSerialPort)
    scheme = SCHEMES.get(port.protocol)
    if scheme is None:
        pytest.fail(f"NetworkSerialPort protocol {port.protocol!r}: orvexa-run takes rfc2217 or raw")
    return f"{scheme}://{port.host}:{port.port}", port.speed


@pytest.fixture(scope="session")
def orvexa_run():
    program = os.environ.get("ORVEXA_RUN") or shutil.which("orvexa-run")
    if not program:
        pytest.fail("orvexa-run not found: install orvexa-testbox or set ORVEXA_RUN")
    return program


@pytest.mark.parametrize("script", sorted(EXAMPLES.glob("*.ots")), ids=lambda path: path.name)
def test_example(script, address, orvexa_run, tmp_path, record_property):
    url, speed = address
    results = pathlib.Path(os.environ.get("ORVEXA_RESULTS") or tmp_path)
    results.mkdir(parents=True, exist_ok=True)
    junit = results / f"{script.stem}.xml"
    run = subprocess.run(
        [orvexa_run, "--port", url, "--speed", str(speed), "--junit", str(junit), str(script)],
        capture_output=True, text=True, timeout=RUN_TIMEOUT_S, check=False)
    refusals = [line for line in run.stderr.splitlines() if "needs the virtual module" in line]
    if run.returncode == 2 and refusals:
        pytest.skip(refusals[0])
    record_property("orvexa_junit", str(junit))
    assert run.returncode == 0, f"orvexa-run exited {run.returncode}\n{run.stdout}{run.stderr}"
