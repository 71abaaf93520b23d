"""The tool in a console window, as a support engineer sees it: an X display
(Xvfb), a Wine console window on it running the tool, keys typed into that
window as X key events (xdotool), and the window's text read back from the
console's own buffer by e2e-screen."""

from __future__ import annotations

import os
import select
import shutil
import subprocess
import time
from pathlib import Path

from . import product
from .machine import PROMPTS, ExitStatus
from .prefix import WINE, wait_for


class DisplayUnavailable(RuntimeError):
    pass


class Display:
    """An Xvfb server on a display number it picks itself."""

    def __init__(self, log: Path) -> None:
        if shutil.which("Xvfb") is None:
            raise DisplayUnavailable("Xvfb is not installed (Debian package xvfb)")
        reader, writer = os.pipe()
        with open(log, "wb") as out:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(writer), "-noreset", "-nolisten", "tcp", "-screen", "0",
                 "1024x768x24"], pass_fds=(writer,), stdin=subprocess.DEVNULL, stdout=out,
                stderr=out)
        os.close(writer)
        # Xvfb writes the number and a line end once it accepts clients, and
        # dies if it cannot write them.
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            if not select.select([reader], [], [], deadline - time.monotonic())[0]:
                break
            piece = os.read(reader, 32)
            if not piece:
                break
            number += piece
        os.close(reader)
        number = number.decode().strip()
        if not number.isdigit():
            self.close()
            raise DisplayUnavailable("Xvfb did not start: %s" % log.read_text(errors="replace"))
        self.name = ":" + number

    def close(self) -> None:
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)


def window_text(rows: list[str]) -> str:
    """The text of a console's rows, each as wide as the window: a row filled
    to its last column goes on in the next one (the console wraps long lines),
    the others end a line."""
    lines, wrapped = [], ""
    for row in rows:
        if row and not row.endswith(" "):
            wrapped += row
        else:
            lines.append(wrapped + row.rstrip(" "))
            wrapped = ""
    return "\n".join(lines + ([wrapped] if wrapped else []))


class ConsoleRun:
    """tessel-cleanup.exe in a console window of its own (wineconsole), started
    through e2e-launch for the full exit code, with e2e-screen copying the
    window's text to a file until the tool has ended."""

    def __init__(self, machine, name: str = "console") -> None:
        self.machine = machine
        self.display = machine.env["DISPLAY"]
        self.code_file = "%s\\%s.exit" % (product.RUN_DIR, name)
        self.screen_file = machine.prefix.unix_path(product.RUN_DIR) / (name + ".screen")
        workdir = machine.workdir
        self.proc = machine.prefix.spawn(
            [WINE, "wineconsole", product.HELPER_DIR + r"\e2e-launch.exe", self.code_file,
             product.TOOL], workdir / (name + ".out"), workdir / (name + ".err"))
        self.reader = machine.prefix.spawn(
            [WINE, product.HELPER_DIR + r"\e2e-screen.exe", "tessel-cleanup.exe",
             "%s\\%s.screen" % (product.RUN_DIR, name)],
            workdir / (name + "-screen.out"), workdir / (name + "-screen.err"))
        self.window = ""
        self.others: list[subprocess.Popen[bytes]] = []
        machine.runs.append(self)

    def text(self) -> str:
        """The window's text from its first row to the cursor."""
        if not self.screen_file.exists():
            return ""
        return window_text(self.screen_file.read_bytes().decode("utf-8").split("\n")[:-1])

    def wait_for(self, text: str, timeout: float = 120) -> None:
        def found():
            if text in self.text():
                return True
            if self.reader.poll() is not None:
                raise AssertionError("e2e-screen ended (%s) before the window showed %r:\n%s"
                                     % (self.reader.returncode, text, self.text()))
            return False
        wait_for(found, timeout, interval=0.1, what=repr(text))

    def xdotool(self, *args: str) -> str:
        result = subprocess.run(["xdotool", *args], env={"DISPLAY": self.display},
                                capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            raise AssertionError("xdotool %s failed: %s" % (" ".join(args), result.stderr))
        return result.stdout.strip()

    def type(self, key: str, hold: float = 0.25) -> None:
        """Focuses the console window and types the key: down, a short hold, up."""
        if not self.window:
            self.window = self.xdotool("search", "--sync", "--onlyvisible", "--class",
                                       "conhost.exe").split()[0]
        if self.others:
            # Back from another window: without a window manager, moving the
            # X focus leaves Wine's foreground window where it was, and the
            # keys would still go there, so the console window is brought to
            # the front as a click on it would.
            self.machine.prefix.wine(product.HELPER_DIR + r"\e2e-keys.exe", "--front",
                                     "WineConsoleClass", check=True)
        # A moment between, as a person takes.
        self.xdotool("windowfocus", "--sync", self.window, "sleep", "0.3")
        self.xdotool("keydown", key, "sleep", str(hold), "keyup", key)

    def type_elsewhere(self, *keys: str) -> None:
        """Types the keys into another program's window (Notepad, started once),
        which the tool's console has given the focus to."""
        if not self.others:
            workdir = self.machine.workdir
            self.others.append(self.machine.prefix.spawn(
                [WINE, "notepad"], workdir / "notepad.out", workdir / "notepad.err"))
        other = self.xdotool("search", "--sync", "--onlyvisible", "--class", "notepad").split()[0]
        self.xdotool("windowfocus", "--sync", other)
        for key in keys:
            self.xdotool("keydown", key, "sleep", "0.25", "keyup", key)

    def answer(self, prompt: str, key: str, timeout: float = 120) -> None:
        self.wait_for(PROMPTS[prompt].rstrip("\r\n"), timeout)
        self.type(key)

    def wait(self, timeout: float = 120) -> ExitStatus:
        unix = self.proc.wait(timeout)
        self.reader.wait(30)
        code_path = self.machine.prefix.unix_path(self.code_file)
        code = int(code_path.read_text()) if code_path.exists() else None
        return ExitStatus(code, unix)

    def kill(self) -> None:
        for proc in (self.proc, self.reader, *self.others):
            if proc.poll() is None:
                proc.kill()
                proc.wait()


def compiled_locale(directory: Path, name: str = "fr_FR") -> dict[str, str]:
    """The variables that put Wine in a locale (its system messages follow it),
    compiled into `directory` from the sources of Debian's `locales` package,
    so that the machine's own list of locales is left alone."""
    locale = name + ".UTF-8"
    directory.mkdir(parents=True, exist_ok=True)
    # Warnings about the locale's sources end in status 1 with the locale made.
    result = subprocess.run(["localedef", "-c", "-i", name, "-f", "UTF-8",
                             str(directory / locale)], capture_output=True, text=True)
    if not (directory / locale / "LC_MESSAGES").is_dir():
        raise RuntimeError("localedef could not make %s (%d): %s"
                           % (locale, result.returncode, result.stderr))
    return {"LANG": locale, "LOCPATH": str(directory)}
