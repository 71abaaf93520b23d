"""Fixtures of the end-to-end scenarios: the exe and its helpers, one template
prefix per test run (shared by all pytest-xdist workers), and a fresh machine
for every scenario."""

from __future__ import annotations

import fcntl
import os
from pathlib import Path

import pytest

from tessel_e2e.machine import Machine, Plan, make_template
from tessel_e2e.prefix import WinePrefix
from tessel_e2e.sandbox import Sandbox

REPO = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("TESSEL_BUILD_DIR", REPO / "build" / "windows"))


@pytest.fixture(scope="session")
def tool_exe() -> Path:
    exe = BUILD_DIR / "tessel-cleanup.exe"
    if not exe.is_file():
        pytest.fail("%s is missing: build it with `cmake --preset windows && "
                    "cmake --build --preset windows` (or set TESSEL_BUILD_DIR)" % exe)
    return exe


@pytest.fixture(scope="session")
def template(tmp_path_factory, tool_exe) -> WinePrefix:
    """One prefix per test run, made by whichever worker comes first."""
    if not Sandbox.available():
        # Without a private network the tool would try to reach the real
        # telemetry host whenever a scenario turns the proxy off.
        pytest.fail("the scenarios need root, unshare, nsenter and ip (iproute2)")
    root = tmp_path_factory.getbasetemp()
    if os.environ.get("PYTEST_XDIST_WORKER"):
        root = root.parent
    path = root / "template"
    ready = root / "template.ready"
    with open(root / "template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not ready.exists():
            make_template(path, tool_exe, BUILD_DIR / "tests" / "e2e")
            ready.touch()
    return WinePrefix(path)


@pytest.fixture
def new_machine(template, tmp_path):
    """Makes a machine with a plan installed: new_machine(plan, collector_status=...,
    collector_hold=...). Each is torn down after the test."""
    machines: list[Machine] = []

    def make(plan: Plan, collector_status: int = 200, collector_hold: float = 0.0) -> Machine:
        machine = Machine(template, tmp_path / ("machine-%d" % len(machines)),
                          collector_status=collector_status, collector_hold=collector_hold)
        machines.append(machine)
        machine.setup(plan)
        return machine

    yield make
    for machine in machines:
        machine.close()


def pytest_collection_modifyitems(items):
    # The longest scenarios first, so that pytest-xdist does not leave one of
    # them for the end while the other workers idle.
    items.sort(key=lambda item: item.get_closest_marker("long") is None)


def pytest_sessionfinish(session):
    # The template takes 1.3 GB; the scenarios' outputs (transcripts, request
    # logs) stay in pytest's temporary directory for a look after a failure.
    if hasattr(session.config, "workerinput"):
        return  # a pytest-xdist worker: the controller cleans up after all
    factory = getattr(session.config, "_tmp_path_factory", None)
    if factory is not None and (factory.getbasetemp() / "template").is_dir():
        WinePrefix(factory.getbasetemp() / "template").remove()
