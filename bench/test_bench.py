"""The benchmark's own arithmetic and checks, on made-up runs: a run of
another workload, or a verdict read the wrong way round, would report a
figure that means nothing.

    /usr/bin/python3 -m pytest -q bench
"""

from __future__ import annotations

import importlib.util
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[1]
_spec = importlib.util.spec_from_file_location("tessel_bench", REPO / "scripts" / "bench.py")
bench = importlib.util.module_from_spec(_spec)
sys.modules[_spec.name] = bench  # dataclasses look their module up by name
_spec.loader.exec_module(bench)

from tessel_e2e.collector import Request  # noqa: E402  (bench.py put it on the path)


def request(body: str) -> Request:
    return Request("POST http://host:80/entt HTTP/1.1", [], body.encode(), 0.0)


class TestWorkload:
    START = "product=tessel_remove&module=start&build=x&ping"
    OUTPUT = ("\r\nERROR deleting key: SOFTWARE\\Orvane Systems\\Tessel\r\n"
              "\r\nERROR deleting key: SOFTWARE\\Orvane Systems\r\n")

    def events(self, errors: int = 2):
        failure = request("module=error&error=RegDelete&ping")
        return [request(self.START), failure, failure,
                request("module=done&errors=%d&reboot=No&ping" % errors)]

    def test_two_failures_and_their_events_pass(self):
        bench.check_workload(self.OUTPUT, self.events(), "run")
        # A collector that never answers is not asked what it received.
        bench.check_workload(self.OUTPUT, None, "run")

    def test_another_workload_gives_no_figure(self):
        with pytest.raises(bench.MeasureError, match="two failures"):
            bench.check_workload(self.OUTPUT.split("\r\n\r\n")[0], None, "run")
        with pytest.raises(bench.MeasureError, match="reported 1 failures"):
            bench.check_workload(self.OUTPUT, self.events(errors=1), "run")
        with pytest.raises(bench.MeasureError, match="start', 'error', 'done"):
            bench.check_workload(self.OUTPUT, [self.events()[i] for i in (0, 1, 3)], "run")


class TestImports:
    def test_only_what_windows_brings_counts_as_system(self, tmp_path):
        for name in ("kernel32.dll", "libstdc++-6.dll"):  # a prefix may hold a runtime copy
            (tmp_path / name).write_bytes(b"")
        dlls = ["KERNEL32.dll", "libstdc++-6.dll", "WININET.DLL"]
        assert bench.foreign_dlls(dlls, tmp_path) == ["libstdc++-6.dll", "WININET.DLL"]
        (tmp_path / "wininet.dll").write_bytes(b"")
        assert bench.foreign_dlls(dlls, tmp_path) == ["libstdc++-6.dll"]


class TestProcessorTime:
    def test_ticks_are_counted_after_the_command_name(self):
        # A command name may hold spaces and parentheses.
        stat = "4242 (a) b (c)) S 1 2 3 4 5 6 7 8 9 10 111 222 13 14 15"
        assert bench.stat_ticks(stat) == 333

    def test_percent_of_one_core_over_the_processes_seen_throughout(self, monkeypatch):
        monkeypatch.setattr(bench.os, "sysconf", lambda name: 100)
        before = {1: 10, 2: 50, 3: 0}
        after = {1: 30, 2: 50, 4: 500}  # 3 ended, 4 started: neither counts
        assert bench.cpu_percent(before, after, [1, 2, 3, 4], 10.0) == pytest.approx(2.0)
        assert bench.cpu_percent(before, after, [2], 10.0) == 0.0

    def test_the_target_counts_the_server_and_the_console_with_the_tool(self):
        assert bench.PromptCpu(0.4, 0.7, 0.2).tool_and_server == pytest.approx(1.3)


class TestReport:
    def results(self, size: int, foreign: list[str], prompt_gap: float, removal_gap: float,
                cpu: float):
        removals = [bench.Removal("answers", 0.5, 31.0, bench.PromptCpu(cpu / 2, cpu / 2)),
                    bench.Removal("never answers", 0.5 + prompt_gap, 31.0 + removal_gap,
                                  bench.PromptCpu(cpu / 2, cpu / 2))]
        exe = bench.ExeFile(Path("tool.exe"), "x64", size, ["KERNEL32.dll"], foreign)
        return bench.Results([exe], removals, [0.1], [bench.PromptCpu(cpu / 2, cpu / 2)])

    def verdicts(self, lines: list[str]) -> list[str]:
        return [line.split("target ", 1)[1].split(": ")[1].split()[0] for line in lines
                if "target " in line]

    def test_targets_met(self):
        lines = bench.report_lines(self.results(bench.LIMIT_BYTES, [], -0.050, 1.0, 0.39), "wine",
                                   "Wine's 32-bit part could not be installed (why)")
        assert self.verdicts(lines) == ["met"] * 6
        assert any("never answers -50.0 ms" in line for line in lines)
        assert any("the x86 exe is only weighed: Wine's 32-bit part could not be installed (why)"
                   in line for line in lines)

    def test_targets_missed(self):
        lines = bench.report_lines(
            self.results(bench.LIMIT_BYTES + 1, ["libgcc_s_dw2-1.dll"], 0.051, -1.001, 1.0), "wine",
            None)
        assert self.verdicts(lines) == ["MISSED"] * 6
        assert any("(libgcc_s_dw2-1.dll)" in line for line in lines)
        assert not any("only weighed" in line for line in lines)

    def test_median_min_max(self):
        summary = bench.summarise([0.4, 0.1, 0.3, 0.2])
        assert (summary.median, summary.low, summary.high, summary.count) == (0.25, 0.1, 0.4, 4)
        assert bench.spread(summary) == "median 250.0 ms  min 100.0 ms  max 400.0 ms  (4)"
        with pytest.raises(bench.MeasureError):
            bench.summarise([])
