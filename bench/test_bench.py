"""The benchmark's own arithmetic and parsing, on made-up runs: a wrong split
of a run into work and waits would report a figure that means nothing.

    /usr/bin/python3 -m pytest -q bench
"""

from __future__ import annotations

import importlib.util
import sys
import time
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[1]
_spec = importlib.util.spec_from_file_location("tessel_bench", REPO / "scripts" / "bench.py")
bench = importlib.util.module_from_spec(_spec)
sys.modules[_spec.name] = bench  # dataclasses look their module up by name
_spec.loader.exec_module(bench)

from tessel_e2e.collector import Request  # noqa: E402  (bench.py put it on the path)

BANNER = "\r\ntessel-cleanup v1.2\r\n\r\n"
AGREEMENT = ("\r\nPress one of the following keys:\r\n  'A' to accept the EULA\r\n"
             "  'E' to exit the tool\r\n" + bench.AGREEMENT_PROMPT)
REMOVAL = "Service deleted: tslwfs\r\nRegistry key deleted: SOFTWARE\\Orvane Systems\r\n"
RESTART = ("\r\nCan the computer be restarted to complete the removal procedure?\r\n"
           + bench.RESTART_PROMPT)
MANUAL = "\r\n\r\nPlease manually restart the computer to complete the removal procedure.\r\n"


def full_run(stop_dots: int = 0, pause_dots: int = 30, restart: bool = True):
    """A run as the tool writes it, each piece seen at the given time:
    start-up 0.150 s, start event 0.010 s, agreement wait 0.120 s, removal
    0.060 s (plus the stop dots), done event 0.015 s, pause 30 s + 0.030 s,
    restart wait 0.100 s, and the exit prompt 0.005 s after the tool's
    answer. Returns the transcript and the time its last byte was seen."""
    t = bench.Transcript()
    t.add(0.150, BANNER.encode())
    t.add(0.160, AGREEMENT.encode())
    now = 0.280
    t.add(now, bench.STOP_WAIT.encode())
    for _ in range(stop_dots):
        now += 1.0
        t.add(now, b".")
    t.add(now + 0.010, b"\r\ntslwfs is stopped\r\n")
    t.add(now + 0.060, REMOVAL.encode())
    now += 0.075
    t.add(now, bench.TELEMETRY_PAUSE.encode())
    step = 30.030 / pause_dots
    for _ in range(pause_dots - 1):
        now += step
        t.add(now, b".")
    now += step
    if restart:
        t.add(now, (".\r\n" + RESTART).encode())
        now += 0.100
        t.add(now, MANUAL.encode())
        now += 0.005
        t.add(now, bench.EXIT_PROMPT.encode())
    else:
        t.add(now, (".\r\n\r\n" + bench.EXIT_PROMPT).encode())
    return t, now


class TestTranscript:
    def test_each_byte_takes_the_time_its_chunk_was_seen(self):
        t = bench.Transcript()
        t.add(0.5, b"ab")
        t.add(0.5, b"")  # nothing new: no chunk
        t.add(0.75, b"cde")
        assert [t.time_of(i) for i in range(5)] == [0.5, 0.5, 0.75, 0.75, 0.75]
        assert t.text() == "abcde"
        with pytest.raises(IndexError):
            t.time_of(5)
        with pytest.raises(ValueError):
            t.add(0.7, b"f")

    def test_bytes_beyond_ascii_keep_their_offsets(self):
        t = bench.Transcript()
        t.add(1.0, "\u00e9x".encode())  # two bytes, then one
        t.add(2.0, b"y")
        assert t.text().index("x") == 2
        assert t.time_of(t.text().index("y")) == 2.0

    def test_watcher_reads_only_what_is_new(self, tmp_path):
        path = tmp_path / "out"
        t = bench.Transcript()
        watcher = bench.OutputWatcher(path, time.monotonic(), t)
        assert not watcher.poll()  # no file yet
        path.write_bytes(b"one\r\n")
        assert watcher.poll()
        assert not watcher.poll()
        with open(path, "ab") as out:
            out.write(b"two")
        assert watcher.poll()
        watcher.close()
        assert t.text() == "one\r\ntwo"
        assert t.time_of(0) <= t.time_of(5)


class TestRemovalAnalysis:
    def test_work_is_the_wall_time_less_pauses_and_key_waits(self):
        t, last = full_run()
        removal = bench.analyse_removal(t, last + 0.010, exit_key_waited=False)
        assert removal.wall == pytest.approx(last + 0.010)
        assert removal.key_waits == pytest.approx({"agreement": 0.120, "restart": 0.100})
        expected_own = removal.wall - 30.0 - 0.120 - 0.100
        assert removal.own == pytest.approx(expected_own)
        assert sum(removal.parts.values()) == pytest.approx(removal.own)
        assert removal.parts == pytest.approx({
            "process start": 0.150,
            "banner, start event, agreement prompt": 0.010,
            "stop and removal steps": 0.060,
            "done event": 0.015,
            "telemetry pause beyond 30 s": 0.030,
            "restart prompt, exit prompt, exit": 0.015,
        })

    def test_each_dot_of_the_stop_wait_is_a_second_not_counted(self):
        t, last = full_run(stop_dots=3)
        removal = bench.analyse_removal(t, last, exit_key_waited=False)
        assert removal.stop_dots == 3
        assert removal.parts["stop and removal steps"] == pytest.approx(0.060)
        assert removal.own == pytest.approx(removal.wall - 33.0 - 0.220)

    def test_an_exit_key_pressed_late_is_a_wait(self):
        t, last = full_run()
        removal = bench.analyse_removal(t, last + 2.0, exit_key_waited=True)
        assert removal.key_waits["exit"] == pytest.approx(2.0)
        assert removal.parts["restart prompt, exit prompt, exit"] == pytest.approx(0.005)

    def test_a_run_without_a_restart_offer(self):
        t, last = full_run(restart=False)
        removal = bench.analyse_removal(t, last + 0.010, exit_key_waited=False)
        assert set(removal.key_waits) == {"agreement"}
        assert removal.parts["restart prompt, exit prompt, exit"] == pytest.approx(0.010)

    @pytest.mark.parametrize("cut, message", [
        (BANNER + AGREEMENT, "nothing was written after the agreement prompt"),
        (BANNER, "agreement prompt never appeared"),
        (BANNER + AGREEMENT + REMOVAL, "telemetry pause never started"),
        (BANNER + AGREEMENT + REMOVAL + bench.TELEMETRY_PAUSE + "....", "has no end"),
    ])
    def test_a_run_that_stopped_short_gives_no_figure(self, cut, message):
        t = bench.Transcript()
        t.add(0.1, cut.encode())
        with pytest.raises(bench.MeasureError, match=message):
            bench.analyse_removal(t, 1.0, exit_key_waited=False)

    def test_a_pause_of_another_length_gives_no_figure(self):
        t, last = full_run(pause_dots=29)
        with pytest.raises(bench.MeasureError, match="29 dots"):
            bench.analyse_removal(t, last, exit_key_waited=False)

    def test_an_end_before_the_last_output_gives_no_figure(self):
        t, last = full_run()
        with pytest.raises(bench.MeasureError, match="ended before"):
            bench.analyse_removal(t, last - 0.5, exit_key_waited=False)

    def test_a_run_without_the_exit_prompt_gives_no_figure(self):
        t = bench.Transcript()
        t.add(0.1, (BANNER + AGREEMENT).encode())
        t.add(0.2, (REMOVAL + bench.TELEMETRY_PAUSE + "." * 30 + "\r\n").encode())
        with pytest.raises(bench.MeasureError, match="exit prompt"):
            bench.analyse_removal(t, 31.0, exit_key_waited=False)


def request(body: str) -> Request:
    return Request("POST http://host:80/entt HTTP/1.1", [], body.encode(), 0.0)


class TestCleanRemoval:
    START = "product=tessel_remove&module=start&build=x&ping"

    def test_start_and_done_without_errors_pass(self):
        bench.check_clean_removal(
            [request(self.START), request("module=done&errors=0&reboot=Yes&ping")], "run")

    def test_reported_failures_are_another_workload(self):
        with pytest.raises(bench.MeasureError, match="2 failures"):
            bench.check_clean_removal(
                [request(self.START), request("module=done&errors=2&reboot=Yes&ping")], "run")
        with pytest.raises(bench.MeasureError, match="start', 'error', 'done"):
            bench.check_clean_removal(
                [request(self.START), request("module=error&error=FileDelete&ping"),
                 request("module=done&errors=1&reboot=Yes&ping")], "run")


OBJDUMP = """
The Import Tables (interpreted .idata section contents)
 vma:            Hint    Time      Forward  DLL       First
 000f7000\t000f70b4 00000000 00000000 000f80ac 000f7364

\tDLL Name: KERNEL32.dll
\tvma:  Hint/Ord Member-Name Bound-To
\tf7f70\t  112  CloseHandle
\tf7f8a\t  119  Sleep

\tDLL Name: libstdc++-6.dll
\tvma:  Hint/Ord Member-Name Bound-To
\tf7f9c\t    5  _ZNSt8ios_base4InitC1Ev

\tDLL Name: WININET.DLL
\tvma:  Hint/Ord Member-Name Bound-To
\tf7fb0\t  130  HttpQueryInfoA

 0000000 00000000 00000000 00000000 00000000 00000000

The Export Tables
\t0000a000\t    1  NotAnImport
"""


class TestImports:
    def test_each_dll_with_its_number_of_functions(self):
        imports = bench.parse_imports(OBJDUMP)
        assert imports.dlls == {"KERNEL32.dll": 2, "libstdc++-6.dll": 1, "WININET.DLL": 1}

    def test_only_what_windows_brings_counts_as_system(self, tmp_path):
        for name in ("kernel32.dll", "libstdc++-6.dll"):  # a prefix may hold a runtime copy
            (tmp_path / name).write_bytes(b"")
        imports = bench.parse_imports(OBJDUMP)
        assert imports.foreign(tmp_path) == ["libstdc++-6.dll", "WININET.DLL"]
        (tmp_path / "wininet.dll").write_bytes(b"")
        assert imports.foreign(tmp_path) == ["libstdc++-6.dll"]


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

    def test_the_target_counts_the_server_with_the_tool(self):
        assert bench.PromptCpu(0.4, 0.7, 3.0).tool_and_server == pytest.approx(1.1)


class TestExchanges:
    def test_lines_give_status_and_seconds(self):
        output = "post 1 200 15790\r\npost 2 0 9977\r\n\r\n"
        assert bench.parse_exchanges(output) == [(200, 0.015790), (0, 0.009977)]

    @pytest.mark.parametrize("output", ["post 2 200 10\r\n", "post 1 200\r\n", "usage: x\r\n"])
    def test_anything_else_gives_no_figure(self, output):
        with pytest.raises(bench.MeasureError):
            bench.parse_exchanges(output)


class TestReport:
    def results(self, size: int, foreign: list[str], own: float, exchange: float, cpu: float):
        removal = bench.Removal(30.5, own, {"process start": own}, {"agreement": 0.1}, 1)
        exchanges = bench.Exchanges([exchange], [exchange / 2])
        exe = bench.ExeFile(Path("tool.exe"), "x64", size, bench.Imports({"KERNEL32.dll": 3}),
                            foreign)
        return bench.Results(exe.path, [exe], [removal], [0.1], exchanges, exchanges,
                             [bench.PromptCpu(cpu / 2, cpu / 2, 5.0)])

    def verdicts(self, lines: list[str]) -> list[str]:
        return [line.rsplit(": ", 1)[1].split()[0] for line in lines if "target <" in line
                or "target Windows" in line]

    def test_targets_met(self):
        lines = bench.report_lines(self.results(bench.MIB, [], 0.999, 0.099, 0.99), "wine")
        assert self.verdicts(lines) == ["met"] * 5

    def test_targets_missed(self):
        lines = bench.report_lines(
            self.results(bench.MIB + 1, ["libgcc_s_dw2-1.dll"], 1.0, 0.1, 1.0), "wine")
        assert self.verdicts(lines) == ["MISSED"] * 5
        assert any("(libgcc_s_dw2-1.dll)" in line for line in lines)

    def test_median_min_max(self):
        summary = bench.summarise([0.4, 0.1, 0.3, 0.2])
        assert (summary.median, summary.low, summary.high, summary.count) == (0.25, 0.1, 0.4, 4)
        assert bench.spread(summary) == "median 250.0 ms  min 100.0 ms  max 400.0 ms  (4)"
        with pytest.raises(bench.MeasureError):
            bench.summarise([])
