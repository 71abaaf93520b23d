"""The demo: tessel-cleanup.exe on a complete installation of Tessel Web
Protection, staged in a throwaway Wine prefix. Run by scripts/demo, which
installs what is missing and builds the exe first.

    scripts/demo                 the tool runs in this terminal: type its keys here
    scripts/demo --keys A,N,E    the keys are typed for you, each once the tool
                                 waits at its prompt
"""

from __future__ import annotations

import argparse
import re
import shutil
import sys
import termios
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

from tessel_e2e import product  # noqa: E402
from tessel_e2e.machine import PROMPTS, Machine, Plan, make_template  # noqa: E402
from tessel_e2e.prefix import WinePrefix, temporary_root  # noqa: E402
from tessel_e2e.registry import pending_renames  # noqa: E402
from transcript import PAGE_WHERE  # noqa: E402


def say(text: str = "") -> None:
    sys.stdout.write("[demo] %s\r\n" % text if text else "\r\n")
    sys.stdout.flush()


def parse_keys(text: str | None) -> list[str] | None:
    if text is None:
        return None
    keys = [k.strip().upper() for k in text.split(",") if k.strip()]
    for key in keys:
        if len(key) != 1 or not key.isalnum():
            raise SystemExit("--keys takes single letters separated by commas, e.g. A,N,E")
    return keys


class Conversation:
    """Copies the tool's output to the terminal and, unattended, types its keys."""

    def __init__(self, machine: Machine, run, keys: list[str] | None):
        self.machine = machine
        self.run = run
        self.keys = list(keys) if keys is not None else None
        self.shown = 0
        self.answered = 0  # prompts answered so far (unattended mode)
        self.next_key_at = 0.0  # keys go a second apart, as a person types them
        self.pages_named = 0
        self.requests_shown = 0

    def pump(self) -> None:
        # Each request notes how much output the tool had written when it
        # arrived: the output up to there comes first.
        data = self.run.output_bytes()
        requests = self.machine.requests()
        for request in requests[self.requests_shown:]:
            if request.output_size is not None:
                self.show_output(data, request.output_size)
            lines = [request.request_line]
            lines += ["  %s: %s" % header for header in request.headers]
            lines.append("  " + request.body.decode("ascii", "replace"))
            sys.stdout.write("".join("[collector] %s\r\n" % line for line in lines))
        self.requests_shown = len(requests)
        self.show_output(data, len(data))
        self.report_page_files(data)

    def show_output(self, data: bytes, upto: int) -> None:
        if upto > self.shown:
            text = data[self.shown:upto].decode("utf-8", "replace")
            # A request can arrive in the middle of a line ("Sending telemetry ").
            sys.stdout.write(text)
            self.shown = upto
        sys.stdout.flush()

    def report_page_files(self, data: bytes) -> None:
        # Wine runs no desktop shell, so the tool opens no browser and names
        # the agreement page instead: here is where that file lies for you.
        text = data.decode("utf-8", "replace")
        named = re.findall(r"%s(.*?)\r\n" % re.escape(PAGE_WHERE), text)
        for path in dict.fromkeys(named[self.pages_named:]):
            say("  on this machine: %s" % self.machine.prefix.unix_path(path))
        self.pages_named = len(named)

    def prompts_waiting(self) -> int:
        """How many of the prompts the tool has written so far."""
        text = self.run.output()
        return sum(prompt in text for prompt in PROMPTS.values())

    def unattended_step(self) -> None:
        if (not self.keys or self.prompts_waiting() <= self.answered
                or time.monotonic() < self.next_key_at):
            return
        key = self.keys.pop(0)
        self.pump()
        say("typing %s" % key)
        self.run.press(key)
        # Keys that reach the tool together count for nothing.
        self.next_key_at = time.monotonic() + 1
        # 'D' shows the page and the tool keeps waiting at the same prompt.
        if key != "D":
            self.answered += 1

    def talk(self) -> None:
        while self.run.proc.poll() is None:
            self.pump()
            if self.keys is not None:
                self.unattended_step()
            time.sleep(0.05)
        self.pump()


def show_whats_left(machine: Machine) -> None:
    registry = machine.after.registry
    pending = [source[4:] for source, _ in pending_renames(
        registry.raw_value(product.SESSION_MANAGER_KEY, product.PENDING_RENAMES))]

    def describe(present: bool, deferred: bool = False) -> str:
        if deferred:
            return "deleted at the next boot"
        return "still there" if present else "gone"

    say()
    say("What is left of the installation:")
    for service in (product.FILTER_SERVICE, product.DRIVER_SERVICE):
        present = registry.has_key(product.SERVICES_KEY + "\\" + service)
        say("  service %-8s %s" % (service, describe(present)))
    for path in (product.DRIVER_FILE, product.INSTALL_DIR, product.START_MENU_DIR):
        say("  %s: %s" % (path, describe(machine.exists(path), path in pending)))
    for key in (product.PRODUCT_KEY, product.VENDOR_KEY, product.UNINSTALL_KEY):
        say("  HKLM\\%s: %s" % (key, describe(registry.has_key("HKLM\\" + key))))
    if pending:
        say("  scheduled for deletion at the next boot: %d item(s)" % len(pending))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--keys", help="keys to type, e.g. A,N,E, each at the next prompt")
    parser.add_argument("--build-dir", type=Path, default=REPO / "build" / "windows")
    parser.add_argument("--keep", action="store_true", help="keep the Wine prefix afterwards")
    args = parser.parse_args()
    keys = parse_keys(args.keys)
    interactive = keys is None
    if interactive and not sys.stdin.isatty():
        raise SystemExit("no terminal to type keys into: give them with --keys A,N,E")

    tool = args.build_dir / "tessel-cleanup.exe"
    helpers = args.build_dir / "tests" / "e2e"
    root = temporary_root("tessel-demo-")
    say("preparing a Wine prefix in %s (about half a minute)" % root)
    make_template(root / "template", tool, helpers)
    machine = Machine(WinePrefix(root / "template"), root / "machine", keep_display=True)
    # Wine's console switches this terminal to raw input while the tool waits
    # for a key; whatever becomes of the tool, the terminal is set back.
    saved_terminal = termios.tcgetattr(sys.stdin) if interactive else None
    try:
        say("staging Tessel Web Protection: the running filter service tslwfs, the driver")
        say("service tsld, %s," % product.DRIVER_FILE)
        say("both directories with files, the three registry keys (64-bit view)")
        machine.setup(Plan.full_installation())
        say("telemetry goes to a local collector at %s (the prefix's proxy);" % (
            machine.collector.address))
        say("it prints every request as [collector] lines")
        if interactive:
            say("the tool runs in this terminal: type its keys here (A, E, D, Y, N)")
        else:
            say("typing %s, each once the tool waits at its prompt" % ",".join(keys))
        say()
        # Interactive, what is typed here goes to the tool's console input as
        # it would in any terminal; unattended, the tool gets a terminal of its own.
        run = machine.run_tool(keys="inherited" if interactive else "terminal")
        Conversation(machine, run, keys).talk()
        status = run.wait(30)
        if saved_terminal is not None:
            termios.tcsetattr(sys.stdin, termios.TCSADRAIN, saved_terminal)
            saved_terminal = None
        say()
        code = status.code if status.code is not None else status.unix
        signed = code - (1 << 32) if code >= (1 << 31) else code
        say("the tool ended with exit code %d" % signed)
        machine.finish()
        show_whats_left(machine)
        return 0
    finally:
        if saved_terminal is not None:
            termios.tcsetattr(sys.stdin, termios.TCSADRAIN, saved_terminal)
        machine.close(keep_prefix=args.keep)
        if args.keep:
            say("the prefix stays in %s" % (root / "machine" / "prefix"))
        else:
            WinePrefix(root / "template").remove()
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
