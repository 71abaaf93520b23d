"""What tessel-cleanup.exe costs under Wine, beside the same run with a
telemetry collector that never answers: the time to the agreement prompt,
the time from 'A' to the exit prompt of a removal with two failures, the
processor time at the prompt (the tool in a terminal, reading its console's
input, beside the tool started detached, reading the keyboard state), a
do-nothing exe's start, and both exes' sizes and imports. Run by
scripts/bench, which installs what is missing and builds first.

    scripts/bench [--runs N] [--stagger SECONDS]

Every machine is one of the end-to-end harness (tests/e2e, package
tessel_e2e), in a private network namespace with its own collector. The
benchmark reports; it fails only when it cannot measure.
"""

from __future__ import annotations

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

from tessel_e2e import product  # noqa: E402
from tessel_e2e.collector import Request  # noqa: E402
from tessel_e2e.machine import PROMPTS, Machine, Plan, ToolRun, make_template  # noqa: E402
from tessel_e2e.pe import imported_dlls, machine_of  # noqa: E402
from tessel_e2e.prefix import WINE, WinePrefix, temporary_root, x86_unavailable  # noqa: E402
from tessel_e2e.sandbox import Sandbox  # noqa: E402

LIMIT_BYTES = product.MAX_EXE_BYTES
BENCH_EXE = "tessel-bench.exe"
BENCH_TOOL = product.HELPER_DIR + "\\" + BENCH_EXE
LAUNCHER = product.HELPER_DIR + r"\e2e-launch.exe"

# The two collectors: one that answers at once, one that takes each request
# and holds it longer than any run.
COLLECTORS = {"answers": 0.0, "never answers": 600.0}
# Removing the product key fails while it holds a subkey, and so does its
# vendor key above it: two failures. No services, so nothing waits for one to
# stop and no restart is offered.
PRODUCT_SETTINGS = product.PRODUCT_KEY + r"\Settings"
FAILURES = 2

# How often the output is looked at: the resolution of the prompt times.
WATCH_INTERVAL = 0.005
PROMPT_IDLE_SECONDS = 5.0
TARGET_PROMPT_GAP = 0.050
TARGET_REMOVAL_GAP = 1.0
# Percent of one core at the prompt: the tool with Wine's processes that serve it.
TARGET_PROMPT_CPU_PERCENT = {"console input": 0.4, "keyboard state": 1.0}

# The compiler's runtime DLLs: a build that needs them does not start on a
# clean Windows, although a prefix may happen to hold copies.
COMPILER_RUNTIME = re.compile(r"^(libgcc|libstdc\+\+|libwinpthread|libssp|libgomp)", re.I)
# Where a fresh 64-bit Windows keeps the DLLs each kind of exe loads.
SYSTEM_DIR = {"x86": "syswow64", "x64": "system32"}


class MeasureError(RuntimeError):
    """Something that the benchmark needs did not happen: no figure."""


# figures
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


# the exes
@dataclass
class ExeFile:
    path: Path
    arch: str
    size: int
    dlls: list[str]
    foreign: list[str]  # DLLs that Windows does not bring


def foreign_dlls(dlls: list[str], system_dir: Path) -> list[str]:
    """Compiler runtimes, and anything the system directory of a fresh
    machine lacks."""
    present = {entry.lower() for entry in os.listdir(system_dir)}
    return [name for name in dlls if COMPILER_RUNTIME.match(name) or name.lower() not in present]


def weigh(exe: Path, prefix: Path) -> ExeFile:
    image = exe.read_bytes()
    arch = machine_of(image)
    dlls = imported_dlls(image)
    system_dir = prefix / "drive_c" / "windows" / SYSTEM_DIR[arch]
    if not (system_dir / "kernel32.dll").is_file():  # a prefix without its 32-bit side
        system_dir = system_dir.parent / "system32"
    return ExeFile(exe, arch, len(image), dlls, foreign_dlls(dlls, system_dir))


# processor time at the agreement prompt
def stat_ticks(stat_text: str) -> int:
    """utime + stime from /proc/PID/stat. The command name in parentheses may
    hold spaces and parentheses itself, so fields count from the last ')'."""
    rest = stat_text[stat_text.rindex(")") + 1:].split()
    # rest[0] is field 3 (state); utime and stime are fields 14 and 15.
    return int(rest[11]) + int(rest[12])


def _read(path: str) -> bytes | None:
    try:
        return Path(path).read_bytes()
    except OSError:  # the process has ended
        return None


def prefix_processes(prefix: Path) -> dict[int, str]:
    """pid -> command line of every process that runs for the prefix."""
    marker = b"WINEPREFIX=" + str(prefix).encode() + b"\0"
    found = {}
    for entry in filter(str.isdigit, os.listdir("/proc")):
        environ = _read("/proc/%s/environ" % entry)
        if environ is not None and marker in b"\0" + environ:
            cmdline = _read("/proc/%s/cmdline" % entry) or b""
            found[int(entry)] = cmdline.replace(b"\0", b" ").decode("utf-8", "replace").strip()
    return found


def cpu_ticks(pids) -> dict[int, int]:
    texts = {pid: _read("/proc/%d/stat" % pid) for pid in pids}
    return {pid: stat_ticks(text.decode("utf-8", "replace"))
            for pid, text in texts.items() if text is not None}


def cpu_percent(before: dict[int, int], after: dict[int, int], pids, seconds: float) -> float:
    """Percent of one core used by those of `pids` seen at both ends."""
    hz = os.sysconf("SC_CLK_TCK")
    used = sum(after[pid] - before[pid] for pid in pids if pid in before and pid in after)
    return used / hz / seconds * 100


@dataclass
class PromptCpu:
    """Percent of one core while the tool waits at its prompt."""

    tool: float
    wineserver: float  # serves every system call of the machine's processes
    console: float = 0.0  # Wine's console host, for a tool in a terminal

    @property
    def tool_and_server(self) -> float:
        return self.tool + self.wineserver + self.console


def idle_at_prompt(machine: Machine, run: ToolRun, seconds: float) -> PromptCpu:
    processes = prefix_processes(machine.prefix.path)
    tools = [pid for pid, cmd in processes.items() if cmd.lower().startswith(product.TOOL.lower())]
    servers = [pid for pid, cmd in processes.items() if "wineserver" in cmd]
    consoles = [pid for pid, cmd in processes.items() if "conhost.exe" in cmd.lower()]
    in_terminal = 1 if run.keys == "terminal" else 0
    if len(tools) != 1 or len(servers) != 1 or len(consoles) != in_terminal:
        raise MeasureError("cannot tell the tool's, wineserver's and the console's processes "
                           "apart: %s" % processes)
    output, began, before = len(run.output_bytes()), time.monotonic(), cpu_ticks(processes)
    time.sleep(seconds)
    after, seconds = cpu_ticks(processes), time.monotonic() - began
    if len(run.output_bytes()) != output or run.proc.poll() is not None:
        raise MeasureError("the tool did not stay at its prompt:\n" + run.output())
    return PromptCpu(*(cpu_percent(before, after, pids, seconds)
                       for pids in (tools, servers, consoles)))


# a removal with two failures
@dataclass
class Removal:
    collector: str
    to_prompt: float  # the tool started to its agreement prompt complete
    to_exit_prompt: float  # 'A' pressed to the exit prompt complete
    prompt_cpu: PromptCpu


def check_workload(output: str, requests: list[Request] | None, name: str) -> None:
    """The run reported two failures, and a collector that answers received
    the start event, one per failure and the done event counting them."""
    if output.count("ERROR deleting key: ") != FAILURES:
        raise MeasureError("%s: not the two failures measured; output:\n%s" % (name, output))
    if requests is None:
        return
    modules = [dict(r.fields()).get("module") for r in requests]
    if modules != ["start"] + ["error"] * FAILURES + ["done"]:
        raise MeasureError("%s: expected the events start, error, error and done, the "
                           "collector got %s" % (name, modules))
    errors = dict(requests[-1].fields()).get("errors")
    if errors != str(FAILURES):
        raise MeasureError("%s: the done event reported %s failures" % (name, errors))


def measure_removal(machine: Machine, collector: str, name: str) -> Removal:
    run = machine.run_tool()
    to_prompt = run.wait_for(PROMPTS["agreement"], 90, WATCH_INTERVAL)
    prompt_cpu = idle_at_prompt(machine, run, PROMPT_IDLE_SECONDS)
    pressed = time.monotonic() - run.started
    run.press("A")
    try:
        to_exit_prompt = run.wait_for(PROMPTS["exit"], 240, WATCH_INTERVAL) - pressed
    except TimeoutError as error:
        raise MeasureError("%s: %s; output:\n%s" % (name, error, run.output())) from error
    run.press("E")
    status = run.wait(60)
    if status.code != 0:
        raise MeasureError("%s: the tool ended with exit code %s, not 0; output:\n%s"
                           % (name, status.code, run.output()))
    check_workload(run.output(), machine.requests() if COLLECTORS[collector] == 0 else None, name)
    return Removal(collector, to_prompt, to_exit_prompt, prompt_cpu)


def measure_detached_prompt(machine: Machine) -> PromptCpu:
    """The agreement prompt of the tool started without a console: it reads
    the keyboard state."""
    run = machine.run_tool(keys="detached")
    run.wait_for(PROMPTS["agreement"], 90, WATCH_INTERVAL)
    prompt_cpu = idle_at_prompt(machine, run, PROMPT_IDLE_SECONDS)
    run.press("E")
    if run.wait(60).code != 2:
        raise MeasureError("detached: the tool did not end with exit code 2:\n" + run.output())
    return prompt_cpu


# a do-nothing exe
def measure_process_start(machine: Machine, runs: int) -> list[float]:
    """A do-nothing exe started and ended the way the tool is started (through
    the harness's launcher): what Wine alone costs."""
    times = []
    for number in range(runs):
        code_file = "%s\\noop-%d.exit" % (product.RUN_DIR, number)
        started = time.monotonic()
        result = machine.prefix.wine(LAUNCHER, code_file, BENCH_TOOL, "noop", timeout=60)
        times.append(time.monotonic() - started)
        if result.returncode != 0:
            raise MeasureError("the do-nothing exe failed: %r" % result)
    return times


# putting it together
@dataclass
class Results:
    files: list[ExeFile]  # the exe timed first, then the other build
    removals: list[Removal]  # the tool in a terminal
    process_start: list[float]
    detached_cpu: list[PromptCpu]


def measure(build_dir: Path, runs: int, stagger: float, other_exe: Path | None,
            root: Path, machines: list[Machine]) -> Results:
    exe, helpers = build_dir / "tessel-cleanup.exe", build_dir / "tests" / "e2e"
    bench_exe, others = build_dir / "bench" / BENCH_EXE, [other_exe] if other_exe else []
    for needed in (exe, bench_exe, *others, *(helpers / (h + ".exe") for h in product.HELPERS)):
        if not needed.is_file():
            raise MeasureError("%s is missing: build it first (scripts/bench does)" % needed)
    if not Sandbox.available():
        raise MeasureError("needs root, unshare, nsenter and ip: every Wine machine runs in "
                           "a private network, so that nothing leaves this computer")
    print("[bench] preparing a Wine prefix in %s" % root, flush=True)
    template = make_template(root / "template", exe, helpers)
    shutil.copy2(bench_exe, template.unix_path(product.HELPER_DIR) / BENCH_EXE)
    files = [weigh(path, template.path) for path in (exe, *others)]

    def machine(name: str, plan: Plan, hold: float = 0.0) -> Machine:
        machines.append(Machine(template, root / name, collector_hold=hold))
        machines[-1].setup(plan)
        # The first process of a fresh prefix brings up Wine's desktop; a
        # real machine has it running already.
        machines[-1].prefix.wine(BENCH_TOOL, "noop", check=True)
        return machines[-1]

    print("[bench] a do-nothing exe started %d times" % runs, flush=True)
    process_start = measure_process_start(machine("probe", Plan()), runs)

    print("[bench] removals with two failures: %d per collector, started %g s apart"
          % (runs, stagger), flush=True)
    plan = (Plan().driver_file().install_dir().start_menu_dir().product_keys()
            .key(PRODUCT_SETTINGS, Mode="strict"))
    # The collectors take turns, and each run starts `stagger` seconds after
    # the one before, so that their busy phases meet no other.
    jobs = [(collector, machine("%s-%d" % (collector.replace(" ", "-"), n), plan, hold))
            for n in range(runs) for collector, hold in COLLECTORS.items()]
    began = time.monotonic()

    def staggered(number: int, collector: str, on: Machine) -> Removal:
        time.sleep(max(0.0, began + number * stagger - time.monotonic()))
        return measure_removal(on, collector, on.workdir.name)

    with ThreadPoolExecutor(len(jobs)) as pool:
        futures = [pool.submit(staggered, n, *job) for n, job in enumerate(jobs)]
    removals = [f.result() for f in futures]
    print("[bench] the agreement prompt of the tool started detached, %d times" % runs,
          flush=True)
    detached = [measure_detached_prompt(machine("detached-%d" % n, Plan())) for n in range(runs)]
    return Results(files, removals, process_start, detached)


# the report
def report_lines(results: Results, wine_version: str,
                 x86_missing: str | None = x86_unavailable()) -> list[str]:
    lines = []
    width = 46

    def row(label: str, text: str, target: str = "") -> None:
        lines.append(("%-*s %s" % (width, label, "   ".join(filter(None, (text, target))))).rstrip())

    timed = results.files[0]
    lines += ["tessel-cleanup benchmark under %s" % wine_version,
              "Timed runs use the %s exe, %s%s" % (
                  timed.arch, timed.path, "" if not x86_missing or timed.arch != "x64" else
                  "; the x86 exe is only weighed: " + x86_missing), ""]
    for number, exe in enumerate(results.files):
        row("%s exe size%s" % (exe.arch, "" if number == 0 else " (not timed)"),
            "%d bytes = %.1f%% of %d KiB (%+d bytes to the limit)"
            % (exe.size, exe.size / LIMIT_BYTES * 100, LIMIT_BYTES // 1024, LIMIT_BYTES - exe.size),
            "target <= %d bytes: " % LIMIT_BYTES + verdict(exe.size <= LIMIT_BYTES))
        row("  imported DLLs", ", ".join(exe.dlls),
            "target Windows system DLLs only: " + verdict(not exe.foreign)
            + ("" if not exe.foreign else " (" + ", ".join(exe.foreign) + ")"))
    lines.append("")

    def side_by_side(label: str, figure, target: float, unit=milliseconds) -> None:
        summaries = {c: summarise([figure(r) for r in results.removals if r.collector == c])
                     for c in COLLECTORS}
        gap = summaries["never answers"].median - summaries["answers"].median
        row(label, "", "target medians within %s: %s (never answers %s%s)" % (
            unit(target), verdict(abs(gap) <= target), "+" if gap >= 0 else "-", unit(abs(gap))))
        for collector, summary in summaries.items():
            row("  collector that %s" % collector, spread(summary))

    side_by_side("start to the agreement prompt", lambda r: r.to_prompt, TARGET_PROMPT_GAP)
    side_by_side("'A' to the exit prompt, %d failures" % FAILURES, lambda r: r.to_exit_prompt,
                 TARGET_REMOVAL_GAP)
    row("a do-nothing exe started the same way", spread(summarise(results.process_start)))
    lines.append("")

    row("CPU at the agreement prompt, %g s idle" % PROMPT_IDLE_SECONDS, "")
    for route, figures in (("console input", [r.prompt_cpu for r in results.removals]),
                           ("keyboard state", results.detached_cpu)):
        idle = summarise([f.tool_and_server for f in figures])
        target = TARGET_PROMPT_CPU_PERCENT[route]
        row("  %s, tool and Wine's servers" % route, spread(idle, percent),
            "target < %g%% of one core: %s" % (target, verdict(idle.median < target)))
        row("    the tool's process alone", spread(summarise([f.tool for f in figures]), percent))
    lines += ["", "Times are median, min, max (number of runs); prompts are looked for every %d ms."
              % (WATCH_INTERVAL * 1000),
              "Console input: the tool in a terminal (wineserver and Wine's console host serve it);"
              " keyboard state: started detached (wineserver)."]
    return lines


def wine_version() -> str:
    return subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip()


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=REPO / "build" / "windows")
    parser.add_argument("--other-exe", type=Path, default=None,
                        help="the other build's exe: its size and imports are reported too")
    parser.add_argument("--runs", type=int, default=3,
                        help="runs of every figure, per collector (default 3)")
    parser.add_argument("--stagger", type=float, default=8.0,
                        help="seconds between the starts of the removals (default 8)")
    args = parser.parse_args(argv)
    if args.runs < 1:
        parser.error("--runs takes a positive number")

    root, machines = temporary_root("tessel-bench-"), []
    try:
        results = measure(args.build_dir, args.runs, args.stagger, args.other_exe, root, machines)
    # The harness raises RuntimeError (a failed Wine command, failed staging),
    # TimeoutError and AssertionError (the tool ended without a prompt).
    except (RuntimeError, TimeoutError, AssertionError) as error:
        print("cannot measure: %s" % error, file=sys.stderr)
        return 1
    finally:
        for machine in machines:
            machine.close()
        if (root / "template").is_dir():
            WinePrefix(root / "template").remove()
        shutil.rmtree(root, ignore_errors=True)
    print()
    for line in report_lines(results, wine_version()):
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
