"""What tessel-cleanup.exe costs: its size and imports, its own work in a full
removal, one telemetry exchange, and the processor time of an idle prompt.
Run by scripts/bench, which installs what is missing and builds first.

    scripts/bench [--runs N] [--stagger SECONDS]

Everything runs under Wine on machines of the end-to-end harness (tests/e2e,
package tessel_e2e), each in a private network namespace with a local
collector. The benchmark reports; it fails only when it cannot measure.
"""

from __future__ import annotations

import argparse
import bisect
import os
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

from tessel_e2e import product  # noqa: E402
from tessel_e2e.machine import PROMPTS, Machine, Plan, make_template  # noqa: E402
from tessel_e2e.pe import machine_of  # noqa: E402
from tessel_e2e.prefix import WINE, WinePrefix, temporary_root  # noqa: E402
from tessel_e2e.sandbox import Sandbox  # noqa: E402

MIB = 1 << 20
BENCH_EXE = "tessel-bench.exe"
BENCH_TOOL = product.HELPER_DIR + "\\" + BENCH_EXE
KEYS_TOOL = product.HELPER_DIR + r"\e2e-keys.exe"

# Texts of the tool that mark the phases of a run.
AGREEMENT_PROMPT = PROMPTS["agreement"]
RESTART_PROMPT = PROMPTS["restart"]
EXIT_PROMPT = PROMPTS["exit"]
STOP_WAIT = "Waiting for %s to stop " % product.FILTER_SERVICE
TELEMETRY_PAUSE = "Sending telemetry "
LINE_END = "\r\n"

# The tool's fixed pauses: one dot per second.
PAUSE_STEP = 1.0
TELEMETRY_PAUSE_DOTS = 30

# How often the console output is looked at: the resolution of every
# timestamp taken from it.
WATCH_INTERVAL = 0.005
# Exchanges per process: the first pays for WinINet's first use in the
# process, as the tool's start event does; the others come warm, as its
# later events do.
EXCHANGES_PER_PROCESS = 5
PROMPT_IDLE_SECONDS = 10.0

TARGET_EXE_BYTES = MIB
TARGET_OWN_WORK = 1.0
TARGET_EXCHANGE = 0.100
TARGET_PROMPT_CPU_PERCENT = 1.0

# The compiler's runtime DLLs: a build that needs them does not start on a
# clean Windows, although a prefix may happen to hold copies.
COMPILER_RUNTIME = re.compile(r"^(libgcc|libstdc\+\+|libwinpthread|libssp|libgomp)", re.I)


class MeasureError(RuntimeError):
    """Something that the benchmark needs did not happen: no figure."""


def say(text: str) -> None:
    print("[bench] " + text, flush=True)


# ---------------------------------------------------------------------------
# Figures


@dataclass
class Summary:
    median: float
    low: float
    high: float
    count: int


def summarise(values: list[float]) -> Summary:
    if not values:
        raise MeasureError("no values to summarise")
    return Summary(statistics.median(values), min(values), max(values), len(values))


def milliseconds(seconds: float) -> str:
    return "%.1f ms" % (seconds * 1000)


def percent(value: float) -> str:
    return "%.2f%%" % value


def spread(summary: Summary, unit=milliseconds) -> str:
    return "median %s  min %s  max %s  (%d)" % (unit(summary.median), unit(summary.low),
                                                 unit(summary.high), summary.count)


def verdict(met: bool) -> str:
    return "met" if met else "MISSED"


# ---------------------------------------------------------------------------
# The exe


@dataclass
class Imports:
    dlls: dict[str, int]  # DLL name as imported -> number of functions

    def foreign(self, system_dir: Path) -> list[str]:
        """The DLLs that Windows does not bring: compiler runtimes, and
        anything that the system directory of a fresh machine lacks."""
        present = {entry.lower() for entry in os.listdir(system_dir)}
        return [name for name in self.dlls
                if COMPILER_RUNTIME.match(name) or name.lower() not in present]


def parse_imports(objdump_text: str) -> Imports:
    """The import table from `objdump -p`: each "DLL Name:" line, then the
    hint/name lines of its functions up to the next blank line."""
    dlls: dict[str, int] = {}
    current = None
    in_table = False
    for line in objdump_text.splitlines():
        match = re.match(r"^\s*DLL Name:\s*(\S+)\s*$", line)
        if match:
            current = match.group(1)
            dlls[current] = 0
            in_table = False
            continue
        if current is None:
            continue
        if re.match(r"^\s*vma:\s+Hint/Ord\s+Member-Name", line):
            in_table = True
            continue
        if not line.strip():
            if in_table:
                current = None
            continue
        if in_table and re.match(r"^\s*[0-9a-fA-F]+\s+\d+\s+\S", line):
            dlls[current] += 1
    return Imports(dlls)


OBJDUMP = {"x86": "i686-w64-mingw32-objdump", "x64": "x86_64-w64-mingw32-objdump"}
# Where a fresh 64-bit Windows keeps the DLLs each kind of exe loads.
SYSTEM_DIR = {"x86": "syswow64", "x64": "system32"}


def read_imports(exe: Path) -> Imports:
    arch = machine_of(exe.read_bytes())
    result = subprocess.run([OBJDUMP[arch], "-p", str(exe)], capture_output=True,
                            text=True, check=False)
    if result.returncode != 0:
        raise MeasureError("objdump could not read %s: %s" % (exe, result.stderr.strip()))
    imports = parse_imports(result.stdout)
    if not imports.dlls:
        raise MeasureError("objdump shows no imported DLL in %s" % exe)
    return imports


# ---------------------------------------------------------------------------
# The console output, timestamped


class Transcript:
    """The tool's console output with the time at which each byte was seen
    (seconds since the tool was started)."""

    def __init__(self) -> None:
        self.data = bytearray()
        self._starts: list[int] = []
        self._times: list[float] = []

    def add(self, at: float, data: bytes) -> None:
        if not data:
            return
        if self._times and at < self._times[-1]:
            raise ValueError("output seen out of order")
        self._starts.append(len(self.data))
        self._times.append(at)
        self.data.extend(data)

    def text(self) -> str:
        # One character per byte: indexes into the text are byte offsets.
        return self.data.decode("latin-1")

    def time_of(self, index: int) -> float:
        """When the byte at `index` was first seen."""
        if not 0 <= index < len(self.data):
            raise IndexError("no byte %d in %d bytes of output" % (index, len(self.data)))
        return self._times[bisect.bisect_right(self._starts, index) - 1]


class OutputWatcher:
    """Follows a growing output file, reading what is new."""

    def __init__(self, path: Path, started: float, transcript: Transcript) -> None:
        self.path = path
        self.started = started
        self.transcript = transcript
        self._file = None

    def poll(self) -> bool:
        """Reads what is new; true when there was something."""
        if self._file is None:
            if not self.path.exists():
                return False
            self._file = open(self.path, "rb")
        data = self._file.read()
        if data:
            self.transcript.add(time.monotonic() - self.started, data)
        return bool(data)

    def close(self) -> None:
        if self._file is not None:
            self._file.close()
            self._file = None


# ---------------------------------------------------------------------------
# A full removal: the tool's own work


@dataclass
class Removal:
    wall: float  # start of the tool to the end of its process
    own: float  # wall less the fixed pauses and the waits for keys
    parts: dict[str, float]  # own work by phase; sums to `own`
    key_waits: dict[str, float]  # a prompt's text complete until the tool reacted
    stop_dots: int  # 1-second pauses of the stop wait


def _end_of(text: str, needle: str, start: int = 0) -> int:
    """The index just after `needle`, or -1."""
    at = text.find(needle, start)
    return -1 if at < 0 else at + len(needle)


def _dots(text: str, start: int) -> tuple[int, int]:
    """The number of dots from `start` up to the next line end, and where
    that line end begins."""
    end = text.find(LINE_END, start)
    if end < 0:
        raise MeasureError("a line of dots has no end: %r" % text[start:start + 60])
    dots = text[start:end]
    if dots.strip("."):
        raise MeasureError("not a line of dots: %r" % dots)
    return len(dots), end


def analyse_removal(transcript: Transcript, ended: float, exit_key_waited: bool) -> Removal:
    """Splits one run into the tool's own work and the time it spent in its
    fixed pauses or waiting for keys.

    A key wait runs from the moment the prompt's last line is complete to the
    first byte written after it. `exit_key_waited` tells that the exit prompt
    waited for its key (rather than finding it already down), so its time up
    to the end of the process is a wait too.
    """
    text = transcript.text()
    at = transcript.time_of

    agreement = _end_of(text, AGREEMENT_PROMPT)
    if agreement < 0:
        raise MeasureError("the agreement prompt never appeared")
    if agreement == len(text):
        raise MeasureError("nothing was written after the agreement prompt")

    stop_dots = 0
    stop = _end_of(text, STOP_WAIT, agreement)
    if stop >= 0:
        stop_dots, _ = _dots(text, stop)

    pause = text.find(TELEMETRY_PAUSE, agreement)
    if pause < 0:
        raise MeasureError("the telemetry pause never started")
    pause_dots, pause_end = _dots(text, pause + len(TELEMETRY_PAUSE))
    if pause_dots != TELEMETRY_PAUSE_DOTS:
        raise MeasureError("the telemetry pause wrote %d dots, not %d"
                           % (pause_dots, TELEMETRY_PAUSE_DOTS))

    waits = {"agreement": at(agreement) - at(agreement - 1)}
    restart = _end_of(text, RESTART_PROMPT, pause_end)
    if restart >= 0:
        if restart == len(text):
            raise MeasureError("nothing was written after the restart prompt")
        waits["restart"] = at(restart) - at(restart - 1)
    exit_prompt = _end_of(text, EXIT_PROMPT, pause_end)
    if exit_prompt < 0:
        raise MeasureError("the exit prompt never appeared")
    if ended < at(len(text) - 1):
        raise MeasureError("the process ended before its last output was seen")
    if exit_key_waited:
        waits["exit"] = ended - at(exit_prompt - 1)

    parts = {
        "process start": at(0),
        "banner, start event, agreement prompt": at(agreement - 1) - at(0),
        "stop and removal steps": at(pause - 1) - at(agreement) - stop_dots * PAUSE_STEP,
        "done event": at(pause) - at(pause - 1),
        "telemetry pause beyond 30 s": at(pause_end) - at(pause) - pause_dots * PAUSE_STEP,
        "restart prompt, exit prompt, exit": (ended - at(pause_end) - waits.get("restart", 0.0)
                                              - waits.get("exit", 0.0)),
    }
    own = sum(parts.values())
    return Removal(ended, own, parts, waits, stop_dots)


class KeyPresser:
    """Presses keys on one machine without waiting for the presser."""

    def __init__(self, machine: Machine, name: str) -> None:
        self.machine = machine
        self.name = name
        self.procs: list[subprocess.Popen] = []

    def press(self, key: str, hold_ms: int = 400) -> None:
        number = len(self.procs)
        out = self.machine.workdir / ("%s-keys-%d.out" % (self.name, number))
        self.procs.append(self.machine.prefix.spawn(
            [WINE, KEYS_TOOL, "--hold", str(hold_ms), key], out, out.with_suffix(".err")))

    def stop(self) -> None:
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.wait()


# A person at the keyboard: 'A' to accept, 'N' to restart later, 'E' to exit.
# 'E' goes down while the tool sits in its telemetry pause and stays down, so
# the exit prompt finds it at its first query and the tool's exit is timed as
# its own work; 'A' and 'N' are pressed once their prompt is complete.
EXIT_KEY_HOLD_MS = 90_000
EXIT_PROMPT_PATIENCE = 5.0
RUN_TIMEOUT = 150.0


class DirectRun:
    """The tool started by `wine` itself, as from a user's command prompt,
    its output going to a file. (The harness's runs go through a launcher that
    records the full exit code; its start-up would be timed as the tool's.)"""

    def __init__(self, machine: Machine, name: str) -> None:
        self.out_path = machine.workdir / (name + ".out")
        machine.collector.output_pointer.write_text(str(self.out_path))
        self.started = time.monotonic()
        self.proc = machine.prefix.spawn([WINE, product.TOOL], self.out_path,
                                         machine.workdir / (name + ".err"))

    def kill(self) -> None:
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


def measure_removal(machine: Machine, name: str) -> Removal:
    transcript = Transcript()
    run = DirectRun(machine, name)
    watcher = OutputWatcher(run.out_path, run.started, transcript)
    keys = KeyPresser(machine, name)
    pressed: set[str] = set()
    exit_key_waited = False
    exit_seen_at = None
    try:
        while True:
            watcher.poll()
            now = time.monotonic() - run.started
            text = transcript.text()
            if "A" not in pressed and AGREEMENT_PROMPT in text:
                pressed.add("A")
                keys.press("A")
            if "hold E" not in pressed and TELEMETRY_PAUSE in text:
                pressed.add("hold E")
                keys.press("E", EXIT_KEY_HOLD_MS)
            if "N" not in pressed and RESTART_PROMPT in text:
                pressed.add("N")
                keys.press("N")
            pause = text.find(TELEMETRY_PAUSE)
            if pause >= 0 and EXIT_PROMPT in text[pause:]:
                if exit_seen_at is None:
                    exit_seen_at = now
                elif not exit_key_waited and now - exit_seen_at > EXIT_PROMPT_PATIENCE:
                    # The held key was not seen: press it once more and count
                    # the exit as a wait.
                    exit_key_waited = True
                    keys.press("E")
            if run.proc.poll() is not None:
                ended = time.monotonic() - run.started
                watcher.poll()
                break
            if now > RUN_TIMEOUT:
                raise MeasureError("%s: the tool did not end within %d s; output:\n%s"
                                   % (name, RUN_TIMEOUT, transcript.text()))
            time.sleep(WATCH_INTERVAL)
    finally:
        watcher.close()
        run.kill()
        keys.stop()

    if run.proc.returncode != 0:
        raise MeasureError("%s: the tool ended with exit code %s, not 0; output:\n%s"
                           % (name, run.proc.returncode, transcript.text()))
    check_clean_removal(machine.requests(), name)
    return analyse_removal(transcript, ended, exit_key_waited)


def check_clean_removal(requests, name: str) -> None:
    """A full removal without failures sends two events: "start", and "done"
    with no errors. Anything else is another workload than the one measured."""
    modules = [dict(r.fields()).get("module") for r in requests]
    if modules != ["start", "done"]:
        raise MeasureError("%s: expected the events start and done, the collector got %s"
                           % (name, modules))
    done = dict(requests[1].fields())
    if done.get("errors") != "0":
        raise MeasureError("%s: the removal reported %s failures" % (name, done.get("errors")))


# ---------------------------------------------------------------------------
# Telemetry exchanges, and starting a process


def parse_exchanges(output: str) -> list[tuple[int, float]]:
    """(status, seconds) per line "post INDEX STATUS MICROSECONDS", in order."""
    exchanges = []
    for line in output.splitlines():
        if not line.strip():
            continue
        match = re.fullmatch(r"post (\d+) (\d+) (\d+)", line.strip())
        if not match:
            raise MeasureError("unexpected line from %s: %r" % (BENCH_EXE, line))
        index, status, micros = (int(g) for g in match.groups())
        if index != len(exchanges) + 1:
            raise MeasureError("exchange %d came out of order" % index)
        exchanges.append((status, micros / 1e6))
    return exchanges


@dataclass
class Exchanges:
    first: list[float] = field(default_factory=list)  # the first in each process
    later: list[float] = field(default_factory=list)


def measure_exchanges(machine: Machine, processes: int, expected_status: int) -> Exchanges:
    figures = Exchanges()
    for _ in range(processes):
        result = machine.prefix.wine(BENCH_TOOL, "post", str(EXCHANGES_PER_PROCESS), timeout=120)
        if result.returncode != 0:
            raise MeasureError("%s failed: %r" % (BENCH_EXE, result))
        exchanges = parse_exchanges(result.stdout)
        if len(exchanges) != EXCHANGES_PER_PROCESS:
            raise MeasureError("%s made %d exchanges, not %d"
                               % (BENCH_EXE, len(exchanges), EXCHANGES_PER_PROCESS))
        for status, _ in exchanges:
            if status != expected_status:
                raise MeasureError("an exchange gave status %d, not %d" % (status, expected_status))
        figures.first.append(exchanges[0][1])
        figures.later.extend(seconds for _, seconds in exchanges[1:])
    return figures


def measure_process_start(machine: Machine, runs: int) -> list[float]:
    """A do-nothing exe started and ended the way the tool is run: what Wine
    alone costs."""
    times = []
    for _ in range(runs):
        started = time.monotonic()
        result = machine.prefix.wine(BENCH_TOOL, "noop", timeout=60)
        times.append(time.monotonic() - started)
        if result.returncode != 0:
            raise MeasureError("the do-nothing exe failed: %r" % result)
    return times


# ---------------------------------------------------------------------------
# Processor time at the agreement prompt


def stat_ticks(stat_text: str) -> int:
    """utime + stime from /proc/PID/stat. The command name in parentheses may
    hold spaces and parentheses itself, so fields count from the last ')'."""
    rest = stat_text[stat_text.rindex(")") + 1:].split()
    # rest[0] is field 3 (state); utime and stime are fields 14 and 15.
    return int(rest[11]) + int(rest[12])


def _read(path: str) -> bytes | None:
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def prefix_processes(prefix: Path) -> dict[int, str]:
    """pid -> command line of every process that runs for the prefix."""
    marker = b"WINEPREFIX=" + str(prefix).encode() + b"\0"
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        environ = _read("/proc/%s/environ" % entry)
        if environ is None or marker not in b"\0" + environ:
            continue
        cmdline = _read("/proc/%s/cmdline" % entry) or b""
        found[int(entry)] = cmdline.replace(b"\0", b" ").decode("utf-8", "replace").strip()
    return found


def cpu_ticks(pids) -> dict[int, int]:
    ticks = {}
    for pid in pids:
        text = _read("/proc/%d/stat" % pid)
        if text is not None:
            ticks[pid] = stat_ticks(text.decode("utf-8", "replace"))
    return ticks


@dataclass
class PromptCpu:
    """Percent of one core while the tool waits at its prompt."""

    tool: float
    wineserver: float  # serves every system call of the machine's processes
    others: float  # the machine's other processes: Wine's services and driver hosts

    @property
    def tool_and_server(self) -> float:
        return self.tool + self.wineserver


def cpu_percent(before: dict[int, int], after: dict[int, int], pids, seconds: float) -> float:
    """Percent of one core used by those of `pids` seen at both ends."""
    hz = os.sysconf("SC_CLK_TCK")
    used = sum(after[pid] - before[pid] for pid in pids if pid in before and pid in after)
    return used / hz / seconds * 100


class PromptWatch:
    """The tool started on a machine and left waiting at its agreement prompt."""

    def __init__(self, machine: Machine) -> None:
        self.machine = machine
        self.run = machine.run_tool()
        self.run.wait_for(AGREEMENT_PROMPT, timeout=90)
        processes = prefix_processes(machine.prefix.path)
        tools = [pid for pid, cmd in processes.items()
                 if cmd.lower().startswith(product.TOOL.lower())]
        servers = [pid for pid, cmd in processes.items() if "wineserver" in cmd]
        if len(tools) != 1 or len(servers) != 1:
            raise MeasureError("cannot tell the tool's and wineserver's processes apart: %s"
                               % processes)
        self.tool, self.server, self.all = tools[0], servers[0], list(processes)
        self.before: dict[int, int] = {}
        self.began = 0.0

    def begin(self) -> None:
        self.began = time.monotonic()
        self.before = cpu_ticks(self.all)
        self.output_before = len(self.run.output_bytes())

    def end(self) -> PromptCpu:
        after = cpu_ticks(self.all)
        seconds = time.monotonic() - self.began
        if len(self.run.output_bytes()) != self.output_before or self.run.proc.poll() is not None:
            raise MeasureError("the tool did not stay at its prompt:\n" + self.run.output())
        others = [pid for pid in self.all if pid not in (self.tool, self.server)]
        return PromptCpu(cpu_percent(self.before, after, [self.tool], seconds),
                         cpu_percent(self.before, after, [self.server], seconds),
                         cpu_percent(self.before, after, others, seconds))

    def leave(self) -> None:
        """'E' at the agreement prompt: the tool ends with exit code 2."""
        self.run.press("E")
        status = self.run.wait(30)
        if status.code != 2:
            raise MeasureError("the tool left its prompt with exit code %s, not 2" % status.code)


# ---------------------------------------------------------------------------
# Putting it together


@dataclass
class ExeFile:
    path: Path
    arch: str
    size: int
    imports: Imports
    foreign_dlls: list[str]


def weigh(exe: Path, prefix: Path) -> ExeFile:
    arch = machine_of(exe.read_bytes())
    imports = read_imports(exe)
    return ExeFile(exe, arch, exe.stat().st_size, imports,
                   imports.foreign(prefix / "drive_c" / "windows" / SYSTEM_DIR[arch]))


@dataclass
class Results:
    exe: Path
    files: list[ExeFile]  # the exe measured first, then the other build
    removals: list[Removal]
    process_start: list[float]
    online: Exchanges
    offline: Exchanges
    prompt: list[PromptCpu]


class Bench:
    def __init__(self, build_dir: Path, runs: int, full_runs: int, stagger: float,
                 other_exe: Path | None = None) -> None:
        self.build_dir = build_dir
        self.other_exe = other_exe
        self.runs = runs
        self.full_runs = full_runs
        self.stagger = stagger
        self.root = temporary_root("tessel-bench-")
        self.template: WinePrefix | None = None
        self.machines: list[Machine] = []

    def machine(self, name: str, plan: Plan) -> Machine:
        machine = Machine(self.template, self.root / name)
        self.machines.append(machine)
        machine.setup(plan)
        # The first process of a fresh prefix brings up Wine's desktop; a
        # real machine has it running already.
        machine.prefix.wine(BENCH_TOOL, "noop", check=True)
        return machine

    def run(self) -> Results:
        exe = self.build_dir / "tessel-cleanup.exe"
        helpers = self.build_dir / "tests" / "e2e"
        bench_exe = self.build_dir / "bench" / BENCH_EXE
        for needed in (exe, bench_exe, *(helpers / (h + ".exe") for h in product.HELPERS)):
            if not needed.is_file():
                raise MeasureError("%s is missing: build it first (scripts/bench does)" % needed)
        if not Sandbox.available():
            raise MeasureError("needs root, unshare, nsenter and ip: every Wine machine runs in "
                               "a private network, so that nothing leaves this computer")

        say("preparing a Wine prefix in %s" % self.root)
        self.template = make_template(self.root / "template", exe, helpers)
        shutil.copy2(bench_exe, self.template.unix_path(product.HELPER_DIR) / BENCH_EXE)

        files = [weigh(exe, self.template.path)]
        if self.other_exe is not None:
            if not self.other_exe.is_file():
                raise MeasureError("%s is missing: build it first (scripts/bench does)"
                                   % self.other_exe)
            files.append(weigh(self.other_exe, self.template.path))

        say("telemetry exchanges: %d processes, %d exchanges each, with the collector and "
            "offline" % (self.runs, EXCHANGES_PER_PROCESS))
        online_machine = self.machine("exchange-online", Plan())
        online = measure_exchanges(online_machine, self.runs, 200)
        sent = len(online_machine.requests())
        if sent != self.runs * EXCHANGES_PER_PROCESS:
            raise MeasureError("the collector received %d requests, not %d"
                               % (sent, self.runs * EXCHANGES_PER_PROCESS))
        process_start = measure_process_start(online_machine, self.runs)
        offline_machine = self.machine("exchange-offline", Plan().without_proxy())
        offline = measure_exchanges(offline_machine, self.runs, 0)
        self.close_machines()

        say("processor time at the agreement prompt: %d tools idle for %d s side by side"
            % (self.runs, PROMPT_IDLE_SECONDS))
        prompt = self.measure_prompts()
        self.close_machines()

        say("full removals: %d, started %g s apart (about %d s)"
            % (self.full_runs, self.stagger, 35 + self.stagger * (self.full_runs - 1)))
        removals = self.measure_removals()
        self.close_machines()
        return Results(exe, files, removals, process_start, online, offline, prompt)

    def measure_prompts(self) -> list[PromptCpu]:
        watches = [PromptWatch(self.machine("prompt-%d" % n, Plan())) for n in range(self.runs)]
        # Let the start-up settle before the window opens.
        time.sleep(1.0)
        for watch in watches:
            watch.begin()
        time.sleep(PROMPT_IDLE_SECONDS)
        figures = [watch.end() for watch in watches]
        for watch in watches:
            watch.leave()
        return figures

    def measure_removals(self) -> list[Removal]:
        machines = [self.machine("removal-%d" % n, Plan.full_installation())
                    for n in range(self.full_runs)]
        # The runs overlap only in their pauses: each starts `stagger` seconds
        # after the one before, so that their busy phases meet no other.
        results: list[Removal | None] = [None] * len(machines)
        errors: list[BaseException] = []
        start = time.monotonic()

        def one(number: int, machine: Machine) -> None:
            time.sleep(max(0.0, start + number * self.stagger - time.monotonic()))
            try:
                results[number] = measure_removal(machine, "removal-%d" % number)
            except BaseException as error:  # reported by the main thread
                errors.append(error)

        threads = [threading.Thread(target=one, args=(n, m)) for n, m in enumerate(machines)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        if errors:
            raise errors[0]
        return [r for r in results if r is not None]

    def close_machines(self) -> None:
        for machine in self.machines:
            machine.close()
        self.machines = []

    def close(self) -> None:
        self.close_machines()
        if self.template is not None:
            self.template.remove()
        shutil.rmtree(self.root, ignore_errors=True)


# ---------------------------------------------------------------------------
# The report


def report_lines(results: Results, wine_version: str) -> list[str]:
    lines = []
    add = lines.append
    width = 46

    def row(label: str, text: str, target: str = "") -> None:
        add("%-*s %s%s" % (width, label, text, ("   " + target) if target else ""))

    add("tessel-cleanup benchmark: %s, under %s" % (results.exe, wine_version))
    add("")
    for number, exe in enumerate(results.files):
        name = "%s exe%s" % (exe.arch, "" if number == 0 else " (not run here)")
        row(name + " size", "%d bytes = %.2f%% of 1 MiB (%+d bytes to 1 MiB)"
            % (exe.size, exe.size / MIB * 100, MIB - exe.size),
            "target <= 1 MiB: " + verdict(exe.size <= TARGET_EXE_BYTES))
        dlls = ", ".join("%s (%d)" % item for item in exe.imports.dlls.items())
        row("  imported DLLs (functions)", dlls,
            "target Windows system DLLs only: " + verdict(not exe.foreign_dlls)
            + ("" if not exe.foreign_dlls else " (" + ", ".join(exe.foreign_dlls) + ")"))
    add("")

    own = summarise([r.own for r in results.removals])
    row("own work of a full removal", spread(own),
        "target < 1 s: " + verdict(own.median < TARGET_OWN_WORK))
    for part in results.removals[0].parts:
        row("  " + part, spread(summarise([r.parts[part] for r in results.removals])))
    row("  wall time of the run", spread(summarise([r.wall for r in results.removals])))
    for prompt in results.removals[0].key_waits:
        row("  not counted: wait at the %s prompt" % prompt,
            spread(summarise([r.key_waits.get(prompt, 0.0) for r in results.removals])))
    row("  not counted: fixed pauses", "%d x 1 s telemetry pause, %s x 1 s stop wait"
        % (TELEMETRY_PAUSE_DOTS, "/".join(str(r.stop_dots) for r in results.removals)))
    row("  a do-nothing exe, started the same way", spread(summarise(results.process_start)))
    add("")

    first = summarise(results.online.first)
    row("one exchange, local collector: first", spread(first),
        "target < 100 ms: " + verdict(first.median < TARGET_EXCHANGE))
    row("  later ones in the same process", spread(summarise(results.online.later)))
    row("one exchange, offline (status 0): first", spread(summarise(results.offline.first)),
        "no target")
    row("  later ones in the same process", spread(summarise(results.offline.later)))
    add("")

    # The wineserver answers the tool's key queries, so its time counts too.
    idle = summarise([p.tool_and_server for p in results.prompt])
    add("CPU at the agreement prompt, idle for %d s" % PROMPT_IDLE_SECONDS)
    row("  tool and wineserver", spread(idle, percent),
        "target < 1%% of one core: %s" % verdict(idle.median < TARGET_PROMPT_CPU_PERCENT))
    row("  the tool's process alone", spread(summarise([p.tool for p in results.prompt]), percent))
    row("  Wine's other processes, not the tool's",
        spread(summarise([p.others for p in results.prompt]), percent))
    add("")
    add("Times are median, min, max (number of runs); output timestamps are taken every %d ms."
        % (WATCH_INTERVAL * 1000))
    return lines


def wine_version() -> str:
    result = subprocess.run([WINE, "--version"], capture_output=True, text=True, check=False)
    return result.stdout.strip() or "Wine"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=REPO / "build" / "windows")
    parser.add_argument("--other-exe", type=Path, default=None,
                        help="the other build's exe: its size and imports are reported too")
    parser.add_argument("--runs", type=int, default=None,
                        help="runs of every figure (default: 5, and 3 full removals)")
    parser.add_argument("--stagger", type=float, default=8.0,
                        help="seconds between the starts of the full removals (default 8)")
    args = parser.parse_args(argv)
    if args.runs is not None and args.runs < 1:
        parser.error("--runs takes a positive number")
    runs = args.runs or 5
    full_runs = args.runs or 3

    bench = Bench(args.build_dir, runs, full_runs, args.stagger, args.other_exe)
    try:
        results = bench.run()
    # The harness raises RuntimeError (a failed Wine command, failed staging),
    # TimeoutError and AssertionError (the tool ended without a prompt).
    except (RuntimeError, TimeoutError, AssertionError) as error:
        print("cannot measure: %s" % error, file=sys.stderr)
        return 1
    finally:
        bench.close()
    print()
    for line in report_lines(results, wine_version()):
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
