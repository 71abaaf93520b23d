"""The harness checks itself: a check that cannot fail would let every
scenario pass. Most of these need no Wine; the last one runs a machine."""

from __future__ import annotations

import struct
import subprocess

import pytest

from checks import ALWAYS, TARGETS, assert_requests, done, event, finish
from tessel_e2e import product
from tessel_e2e.collector import Request
from tessel_e2e.console import window_text
from tessel_e2e.machine import Plan
from tessel_e2e.prefix import RUNS_X86_PROBE
from tessel_e2e.registry import Registry, parse_reg_file, pending_renames
from tessel_e2e.snapshot import Allowed, Change, Snapshot, unexpected
from transcript import SYSTEM_TEXT, assert_transcript, normalise

SYSTEM_REG = r'''WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Orvane Systems\\Tessel] 1796746339
#time=1dd872ee6959c7a
"InstallDir"="C:\\Program Files\\Orvane \"Tessel\""
@="default"
"Count"=dword:0000002a
"Caf\xe9"="x"

[System\\CurrentControlSet\\Control\\Session Manager] 1796746339
#time=1dd872ee6959c7a
"PendingFileRenameOperations"=str(7):"\\??\\C:\\a.sys\0\0\\??\\C:\\dir\0\0"
"Hex"=hex(7):41,00,00,00,42,00,\
  00,00,00,00
'''


class TestRunsX86Probe:
    """Which exe and which Wine loader every script uses rests on this answer: a
    malformed probe program would say "no" on every machine and quietly drop
    the 32-bit exe from the tests."""

    def answer(self, *args: str) -> str:
        return subprocess.run([str(RUNS_X86_PROBE), *args], capture_output=True, text=True,
                              check=True).stdout.strip()

    def test_the_program_is_a_loadable_i386_executable(self, tmp_path):
        image = tmp_path / "exit0"
        self.answer("--write", str(image))
        data = image.read_bytes()
        assert data[:7] == b"\x7fELF\x01\x01\x01"  # 32-bit, little-endian, version 1
        kind, machine, _, entry, phoff = struct.unpack_from("<HHIII", data, 16)
        assert (kind, machine) == (2, 3)  # an executable for i386
        p_type, offset, vaddr, _, filesz, memsz, flags = struct.unpack_from("<7I", data, phoff)
        assert (p_type, offset, filesz, memsz) == (1, 0, len(data), len(data))
        assert flags & 1  # executable segment
        code = data[entry - vaddr:]
        assert code == b"\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80"  # exit(0)

    def test_a_program_that_runs_means_yes_one_refused_means_no(self, tmp_path):
        assert self.answer("--program", "/bin/true") == "yes"
        refused = tmp_path / "refused"
        self.answer("--write", str(refused))
        data = bytearray(refused.read_bytes())
        data[18:20] = b"\xff\xff"  # a processor no kernel knows
        refused.write_bytes(bytes(data))
        assert self.answer("--program", str(refused)) == "no"


# Stand-ins for apt-get, dpkg-query and dpkg: a package list in a file, an
# index that fails to download, packages that cannot be installed.
FAKE_APT = r"""#!/bin/sh
echo "$*" >> "$FAKE/apt.log"
case "$1" in
  update)
    echo "E: Failed to fetch" \
      "http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz " \
      "File has unexpected size" \
      "(374820 != 376004). Mirror sync in progress?"
    exit 100 ;;
  install)
    shift; simulate=""; wanted=""; broken=broken
    for arg; do
      case "$arg" in
        --simulate) simulate=1 ;; --target-release=*) broken=broken-in-release ;; -*) ;;
        *) wanted="$wanted $arg" ;;
      esac
    done
    for package in $wanted; do
      ! grep -qx "$package" "$FAKE/$broken" || exit 100
    done
    [ -n "$simulate" ] || printf '%s\n' $wanted >> "$FAKE/installed" ;;
esac
"""
FAKE_DPKG_QUERY = """#!/bin/sh
eval "package=\\${$#}"
case "$2" in
  *Version*) shift 2; for p; do sed -n "s/^${p%:amd64} /$p /p" "$FAKE/versions"; done ;;
  *) grep -qx "$package" "$FAKE/installed" && echo "install ok installed" ;;
esac
"""
FAKE_DPKG = """#!/bin/sh
[ "$1" = --compare-versions ] && exec /usr/bin/dpkg "$@"
[ "$1" = --print-foreign-architectures ] && echo i386
"""
# Wine's i386 closure in the release's suite, and the release's versions.
FAKE_APT_CACHE = """#!/bin/sh
case "$*" in
  *depends*) printf 'wine32:i386\\n  Depends: libgst:i386\\nlibgst:i386\\nlibnew:i386\\nlibc6:i386\\n' ;;
  *policy*) for p; do [ "${p%:i386}" = "$p" ] ||
    printf '%s:\\n  Candidate: %s\\n' "$p" "$(sed -n "s/^${p%:i386} //p" "$FAKE/release")"; done ;;
esac
"""


class TestSetUpOnABadMirrorDay:
    """A broken index on the mirror must not end the set-up, and a package that
    cannot be installed must stop it by name, except Wine's 32-bit part, whose
    absence sends the machine down the 64-bit exe's road."""

    def set_up(self, tmp_path, broken: list[str], script: str, broken_in_release=None):
        for name, text in (("apt-get", FAKE_APT), ("dpkg-query", FAKE_DPKG_QUERY),
                           ("dpkg", FAKE_DPKG), ("apt-cache", FAKE_APT_CACHE),
                           ("id", "#!/bin/sh\necho 0\n")):
            (tmp_path / name).write_text(text)
            (tmp_path / name).chmod(0o755)
        for name, lines in (("broken", broken), ("installed", []),
                            ("broken-in-release", broken if broken_in_release is None
                             else broken_in_release),
                            # The security suite moved libgst's 64-bit side ahead; libnew
                            # is older here than in the release; libc6 is level.
                            ("versions", ["libgst 1.0+u7", "libnew 1.0", "libc6 2.36"]),
                            ("release", ["libgst 1.0+u6", "libnew 2.0", "libc6 2.36"]),
                            ("os-release", ["NAME=Debian", 'VERSION_CODENAME="bookworm"'])):
            (tmp_path / name).write_text("".join(line + "\n" for line in lines))
        env = {"PATH": "%s:/usr/bin:/bin" % tmp_path, "FAKE": str(tmp_path),
               "TESSEL_RUNS_X86": "yes", "TESSEL_APT_RETRY_SECONDS": "0",
               "TESSEL_OS_RELEASE": str(tmp_path / "os-release")}
        setup = RUNS_X86_PROBE.parent / "setup.sh"
        return subprocess.run(["bash", "-c", "set -euo pipefail; source %s; %s" % (setup, script)],
                              env=env, capture_output=True, text=True)

    def test_wine_without_its_32_bit_part_when_the_index_is_broken(self, tmp_path):
        result = self.set_up(tmp_path, ["wine32:i386"], 'install_wine; wine_runs_x86 || '
                             'echo "no: $(x86_unavailable_reason)"')
        assert result.returncode == 0, result.stderr
        assert (tmp_path / "installed").read_text().split() == ["wine", "wine64"]
        apt = (tmp_path / "apt.log").read_text().splitlines()
        assert [line for line in apt if line.startswith("update")] == ["update -q"] * 2
        assert result.stdout.splitlines()[-1] == (
            "no: Wine's 32-bit part could not be installed (apt-get could not install "
            "wine32:i386 after apt-get update failed: Failed to fetch "
            "http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz "
            "File has unexpected size (374820 != 376004). "
            "Mirror sync in progress?)")

    def test_wine_from_the_release_suite_with_only_its_moved_library_taken_back(self, tmp_path):
        result = self.set_up(tmp_path, ["wine32:i386"], 'install_wine; wine_runs_x86 && '
                             'echo "$TESSEL_X86_ROAD"', broken_in_release=[])
        assert result.returncode == 0, result.stderr
        apt = (tmp_path / "apt.log").read_text().splitlines()
        assert apt[-1] == ("install -y -q --target-release=bookworm --allow-downgrades wine "
                           "wine32:i386 wine64 libgst:amd64=1.0+u6")
        assert result.stdout.splitlines()[-1] == (
            "Wine's 32-bit part taken from bookworm's own suite: the security suite's i386 "
            "list could not be read")

    def test_a_needed_package_that_cannot_be_installed_stops_by_name(self, tmp_path):
        result = self.set_up(tmp_path, ["googletest"], "install_build_tools; echo went on")
        assert result.returncode != 0 and "went on" not in result.stdout
        assert "cannot install: googletest (apt-get update had failed: Failed to fetch" \
            in result.stderr
        assert (tmp_path / "installed").read_text() == ""


class TestRegistryFiles:
    def test_values_are_decoded(self):
        (tessel, session) = parse_reg_file(SYSTEM_REG, "HKLM")
        assert tessel.path == r"HKLM\Software\Orvane Systems\Tessel"
        assert tessel.values["installdir"].decode() == 'C:\\Program Files\\Orvane "Tessel"'
        assert tessel.values[""].decode() == "default"
        assert tessel.values["count"].decode() == 42
        assert tessel.values["caf\u00e9"].name == "Caf\u00e9"
        # A hex value continued over two lines.
        assert session.values["hex"].decode() == ["A", "B"]

    def test_keys_above_a_written_key_exist(self, tmp_path):
        (tmp_path / "system.reg").write_text(SYSTEM_REG)
        registry = Registry.load(tmp_path)
        assert registry.has_key(r"HKLM\SOFTWARE\Orvane Systems")
        assert registry.has_key(r"HKEY_LOCAL_MACHINE\Software\orvane systems\tessel")
        assert not registry.has_key(r"HKLM\Software\Orvane")
        assert registry.subkeys(r"HKLM\Software\Orvane Systems") == [
            r"HKLM\Software\Orvane Systems\Tessel"]

    def test_pending_renames_pair_sources_and_targets(self):
        (_, session) = parse_reg_file(SYSTEM_REG, "HKLM")
        assert pending_renames(session.values["pendingfilerenameoperations"]) == [
            (r"\??\C:\a.sys", ""), (r"\??\C:\dir", "")]
        assert pending_renames(None) == []


class TestSnapshots:
    def snapshot(self, tmp_path, name, files, reg_text):
        root = tmp_path / name
        for path, content in files.items():
            (root / path).parent.mkdir(parents=True, exist_ok=True)
            (root / path).write_text(content)
        (root / "system.reg").write_text(reg_text)
        return Snapshot.take(root)

    def test_every_kind_of_change_is_seen_and_only_allowed_ones_pass(self, tmp_path):
        before = self.snapshot(tmp_path, "a", {"drive_c/x/keep.txt": "1", "drive_c/gone.txt": "2"},
                               SYSTEM_REG)
        changed_reg = SYSTEM_REG.replace("dword:0000002a", "dword:0000002b").replace(
            '@="default"\n', "")
        after = self.snapshot(tmp_path, "b", {"drive_c/x/keep.txt": "1 and more",
                                              "drive_c/new.txt": "3"}, changed_reg)
        seen = {str(change) for change in before.diff(after)}
        assert seen == {
            "file changed drive_c/x/keep.txt",
            "file removed drive_c/gone.txt",
            "file added drive_c/new.txt",
            "file changed system.reg",
            r"registry changed HKLM\Software\Orvane Systems\Tessel\:Count",
            r"registry removed HKLM\Software\Orvane Systems\Tessel\:@",
        }
        allowed = [Allowed("file", "drive_c/gone.txt", "test", "removed"),
                   Allowed("file", "system.reg", "test")]
        left = {str(change) for change in unexpected(before.diff(after), allowed)}
        assert "file removed drive_c/gone.txt" not in left
        assert "file added drive_c/new.txt" in left
        # An allowance for removals does not cover an addition at the same place.
        assert Change("file", "added", "drive_c/gone.txt") in unexpected(after.diff(before),
                                                                          allowed)

    def test_the_targets_never_excuse_other_keys(self):
        other = Change("registry", "removed", r"HKLM\Software\Orvane Systems\Sentry")
        wow = Change("registry", "removed", r"HKLM\Software\WOW6432Node\Orvane Systems")
        assert unexpected([other, wow], ALWAYS + TARGETS) == [other, wow]


def request(body: str, headers=None, line="POST http://telemetry.orvane.com:80/entt HTTP/1.1",
            output_size=None) -> Request:
    if headers is None:
        headers = [("Connection", "close"),
                   ("Content-Type", "application/x-www-form-urlencoded"),
                   ("Content-Length", str(len(body))), ("Host", "telemetry.orvane.com"),
                   ("User-Agent", "ZANT"), ("Cache-Control", "no-cache")]
    return Request(line, headers, body.encode(), 0.0, output_size)


RUN_ID = "3f2b8c1e-9a47-4d2e-b6f1-0c5d7e8a9b1f"
START = ("product=tessel_remove&version=%s&error=&language=en&module=start&build=%s&ping"
         % (product.VERSION, RUN_ID))
DONE = ("product=tessel_remove&version=%s&error=&language=en&module=done&build=%s"
        "&errors=2&reboot=Yes&ping" % (product.VERSION, RUN_ID))


class TestRequestChecks:
    def test_the_worked_example_passes(self):
        assert assert_requests([request(START), request(DONE)], None,
                               [event("start"), done(errors=2, reboot=True)]) == RUN_ID

    @pytest.mark.parametrize("broken", [
        request(START.replace("&ping", "")),
        request(START, line="POST http://telemetry.orvane.com/other HTTP/1.1"),
        request(START, headers=[("Content-Type", "application/x-www-form-urlencoded"),
                                ("Connection", "close"), ("Content-Length", str(len(START))),
                                ("Host", "telemetry.orvane.com"), ("User-Agent", "ZANT"),
                                ("Cache-Control", "no-cache")]),
        request(START, headers=[("Connection", "close"),
                                ("Content-Type", "application/x-www-form-urlencoded"),
                                ("Content-Length", str(len(START) - 1)),
                                ("Host", "telemetry.orvane.com"), ("User-Agent", "ZANT"),
                                ("Cache-Control", "no-cache")]),
    ], ids=["body", "object", "header-order", "content-length"])
    def test_a_wrong_request_fails(self, broken):
        with pytest.raises(AssertionError):
            assert_requests([broken], None, [event("start")])

    def test_events_of_one_run_share_its_id(self):
        other = DONE.replace(RUN_ID, "00000000-9a47-4d2e-b6f1-0c5d7e8a9b1f")
        with pytest.raises(AssertionError):
            assert_requests([request(START), request(other)], None,
                            [event("start"), done(errors=2, reboot=True)])

    def test_an_event_sent_at_the_wrong_moment_fails(self):
        banner = ("\r\ntessel-cleanup v%s\r\n\r\n" % product.VERSION).encode()
        output = banner + b"\r\nPress one of the following keys:\r\n"
        assert_requests([request(START, output_size=len(banner))], output, [event("start")])
        # Sent beside the run: it may come after the prompt, never before the banner.
        assert_requests([request(START, output_size=len(output))], output, [event("start")])
        with pytest.raises(AssertionError):
            assert_requests([request(START, output_size=len(banner) - 5)], output,
                            [event("start")])


class TestTranscripts:
    def test_a_window_row_filled_to_its_end_goes_on_in_the_next(self):
        rows = ["abcd", "ef  ", "    ", "gh  ", "ijkl", "    ", "x   "]
        assert window_text(rows) == "abcdef\n\ngh\nijkl\nx"

    def test_line_ends_must_be_cr_lf(self):
        assert normalise(b"a\r\nb\r\n") == "a\nb\n"
        for raw in (b"a\nb\r\n", b"a\r\rb\r\n", b"a\r"):
            with pytest.raises(AssertionError):
                normalise(raw)

    def test_patterns_match_system_texts_only_where_placed(self):
        raw = b"ERROR code: 5 Message: Access is denied.\r\n\r\n\r\n"
        match = assert_transcript(raw, ["ERROR code: 5 Message: ", SYSTEM_TEXT, "\n\n"])
        assert match.group(1) == "Access is denied.\n"
        with pytest.raises(AssertionError, match="transcript differs"):
            assert_transcript(raw + b"x\r\n", ["ERROR code: 5 Message: ", SYSTEM_TEXT, "\n\n"])
        with pytest.raises(AssertionError):
            assert_transcript(b"ERROR code: 5 Message: \r\n\r\n\r\n",
                              ["ERROR code: 5 Message: ", SYSTEM_TEXT, "\n\n"])


def test_a_change_outside_the_targets_is_caught(new_machine):
    # A real machine and run: what the test itself changes behind the tool's
    # back must show up, in the files and in the registry.
    machine = new_machine(Plan())
    run = machine.run_tool()
    run.answer("agreement", "E")
    assert run.wait(30).code == 2
    machine.prefix.wine("reg", "add", r"HKLM\Software\Stray", "/v", "x", "/d", "y", "/f",
                        "/reg:64", check=True)
    machine.prefix.unix_path(r"C:\windows\stray.txt").write_text("stray")
    with pytest.raises(AssertionError) as caught:
        finish(machine)
    assert "file added drive_c/windows/stray.txt" in str(caught.value)
    assert r"registry added HKLM\Software\Stray" in str(caught.value)
