"""Fixtures of the end-to-end scenarios: the exe under test and its helpers,
one template prefix per test run (shared by all pytest-xdist workers), and a
fresh machine for every scenario.

`--exe x86` runs the scenarios with the 32-bit exe (build/windows), `--exe x64`
with the 64-bit one (build/windows-x64); the default is the 32-bit one where
this machine runs 32-bit code. TESSEL_BUILD_DIR names another build directory.
Both exes meet the same expectations: on 64-bit Windows each removes the
native driver file and the 64-bit registry keys."""

from __future__ import annotations

import fcntl
import os
from pathlib import Path

import pytest

from tessel_e2e import pe, product
from tessel_e2e.machine import Machine, Plan, make_template
from tessel_e2e.prefix import RUNS_X86, WinePrefix, x86_unavailable
from tessel_e2e.sandbox import Sandbox

REPO = Path(__file__).resolve().parents[2]
PRESETS = {"x86": "windows", "x64": "windows-x64"}


def pytest_addoption(parser):
    parser.addoption("--exe", choices=sorted(PRESETS), default="x86" if RUNS_X86 else "x64",
                     help="the exe under test: x86 (32-bit) or x64 (64-bit); default: x86 "
                          "where Wine runs 32-bit code here, else x64")


def build_dir(config) -> Path:
    preset = PRESETS[config.getoption("--exe")]
    return Path(os.environ.get("TESSEL_BUILD_DIR", REPO / "build" / preset))


def pytest_configure(config):
    # The version the transcripts and requests must carry: the exe's own, so
    # that a version bump needs no test changed.
    exe = build_dir(config) / "tessel-cleanup.exe"
    if exe.is_file():
        product.VERSION = pe.version_value(exe.read_bytes(), "ProductVersion") or "?"
    # The image checks need no Wine: they also run for an exe this machine
    # cannot start.
    only_images = config.getoption("-m") == "image"
    if config.getoption("--exe") == "x86" and not RUNS_X86 and not only_images:
        raise pytest.UsageError("--exe x86: the 32-bit exe cannot run here: %s; run the "
                                "scenarios with --exe x64" % x86_unavailable())


def pytest_report_header(config):
    return "exe under test: %s, %s" % (config.getoption("--exe"),
                                       build_dir(config) / "tessel-cleanup.exe")


def pytest_terminal_summary(terminalreporter, config):
    counts = {kind: len(terminalreporter.stats.get(kind, []))
              for kind in ("passed", "failed", "error", "skipped")}
    terminalreporter.write_line(
        "end-to-end with the %s exe: %d passed, %d failed, %d errors, %d skipped"
        % (config.getoption("--exe"), counts["passed"], counts["failed"], counts["error"],
           counts["skipped"]))


@pytest.fixture(scope="session")
def tool_exe(request) -> Path:
    arch = request.config.getoption("--exe")
    exe = build_dir(request.config) / "tessel-cleanup.exe"
    if not exe.is_file():
        pytest.fail("%s is missing: build it with `cmake --preset %s && cmake --build "
                    "--preset %s` (or set TESSEL_BUILD_DIR)" % (exe, PRESETS[arch], PRESETS[arch]))
    built_for = pe.machine_of(exe.read_bytes())
    if built_for != arch:
        pytest.fail("%s is built for %s, not for %s" % (exe, built_for, arch))
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
            make_template(path, tool_exe, tool_exe.parent / "tests" / "e2e")
            ready.touch()
    return WinePrefix(path)


@pytest.fixture
def new_machine(template, tmp_path):
    """Makes a machine with a plan installed: new_machine(plan, collector_status=...,
    collector_hold=..., collector_first_late=..., env=...). Each is torn down after the test."""
    machines: list[Machine] = []

    def make(plan: Plan, collector_status: int = 200, collector_hold: float = 0.0,
             env: dict[str, str] | None = None, collector_first_late: float = 0.0) -> Machine:
        machine = Machine(template, tmp_path / ("machine-%d" % len(machines)),
                          collector_status=collector_status, collector_hold=collector_hold,
                          env=env, collector_first_late=collector_first_late)
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
