"""Wine prefixes: one template per test run, one cheap copy per scenario.

A prefix is a whole Windows machine in a directory: C: is drive_c, the registry
lives in system.reg (HKLM), user.reg (HKCU) and userdef.reg (the default
user). Wine rewrites the .reg and .ini files in place, so a copy gets real
copies of those and hard links for everything else.

Wine's own daemons inherit file descriptors, so the output of a Wine command is
always captured through a file: reading a pipe could wait for ever.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from .sandbox import NoSandbox, Sandbox

REPO = Path(__file__).resolve().parents[3]
RUNS_X86_PROBE = REPO / "scripts" / "lib" / "runs-x86"


def machine_runs_x86() -> bool:
    """Whether this machine executes 32-bit x86 programs.

    The scripts decide it once and hand the answer on in TESSEL_RUNS_X86;
    run on its own, the harness asks the same probe.
    """
    answer = os.environ.get("TESSEL_RUNS_X86")
    if answer not in ("yes", "no"):
        answer = subprocess.run([str(RUNS_X86_PROBE)], capture_output=True, text=True,
                                check=True).stdout.strip()
        os.environ["TESSEL_RUNS_X86"] = answer
    return answer == "yes"


# Wine's 32-bit loader, there when its 32-bit part (wine32:i386) is installed.
WINE32 = Path("/usr/lib/wine/wine")


def x86_unavailable() -> str | None:
    """Why the 32-bit exe cannot run under Wine here, for a report line; None
    where it can. The scripts say why Wine's 32-bit part is missing in
    TESSEL_X86_UNAVAILABLE when they could not install it."""
    if not machine_runs_x86():
        return "this machine refuses 32-bit x86 programs (Exec format error)"
    if not WINE32.exists():
        return (os.environ.get("TESSEL_X86_UNAVAILABLE")
                or "Wine's 32-bit part (wine32:i386) is not installed")
    return None


# Whether the 32-bit exe runs under Wine here.
RUNS_X86 = x86_unavailable() is None

# Debian's `wine` runs the 32-bit loader, which hands 64-bit programs on:
# `wine reg` and `wine sc` are then the 32-bit tools. This one runs 64-bit
# programs, and is the only loader that starts on a machine that refuses
# 32-bit code (Debian's wrappers would still pick the 32-bit one whenever
# wine32 is installed).
WINE64 = "/usr/lib/wine/wine64"
WINE = "wine" if RUNS_X86 else WINE64
WINESERVER = "wineserver"

# Files that Wine rewrites in place rather than replacing.
_REWRITTEN_IN_PLACE = ("*.reg", "*.ini")


def wine_environment(prefix: Path, keep_display: bool = False,
                     extra: dict[str, str] | None = None) -> dict[str, str]:
    """A small, fixed environment for Wine.

    Wine hands the Unix environment on to every Windows process, so only what
    Wine needs goes in: nothing of the caller's proxies, locale or tools.
    `extra` adds or replaces variables (a display, a locale).
    """
    env = {
        "PATH": "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin",
        "HOME": os.environ.get("HOME", "/root"),
        "USER": os.environ.get("USER", "root"),
        "LANG": "C.UTF-8",
        "WINEPREFIX": str(prefix),
        # No add-on installers, no debug channels.
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
    }
    if WINE == WINE64:
        # The loader every Windows process of the prefix starts others with.
        env["WINELOADER"] = WINE64
    if keep_display:
        for name in ("DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"):
            if name in os.environ:
                env[name] = os.environ[name]
    env.update(extra or {})
    return env


class WineError(RuntimeError):
    pass


class Result:
    def __init__(self, returncode: int, stdout: str, stderr: str) -> None:
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr

    def __repr__(self) -> str:
        return "Result(%d, stdout=%r, stderr=%r)" % (self.returncode, self.stdout, self.stderr)


class WinePrefix:
    def __init__(self, path: Path, sandbox: Sandbox | None = None, keep_display: bool = False,
                 extra_env: dict[str, str] | None = None):
        self.path = Path(path)
        self.sandbox = sandbox or NoSandbox()
        self.keep_display = keep_display
        self.extra_env = extra_env
        self._scratch = self.path.parent / (self.path.name + ".out")
        self._scratch.mkdir(parents=True, exist_ok=True)
        self._counter = 0

    # -- creating -------------------------------------------------------------

    @classmethod
    def create(cls, path: Path, sandbox: Sandbox | None = None) -> "WinePrefix":
        """A new 64-bit prefix (about 20 s); the tool then runs under WOW64."""
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        sandbox = sandbox or NoSandbox()
        env = wine_environment(path)
        env["WINEARCH"] = "win64"
        log = path.parent / (path.name + ".boot.log")
        with open(log, "wb") as out:
            for command in ([WINE, "wineboot", "-i"], [WINESERVER, "-w"]):
                subprocess.run(sandbox.wrap(command), env=env, stdin=subprocess.DEVNULL,
                               stdout=out, stderr=out, check=False)
        if not (path / "system.reg").is_file() or not (path / "drive_c/windows/syswow64").is_dir():
            raise WineError("wineboot did not create a 64-bit prefix in %s (see %s)" % (path, log))
        return cls(path, sandbox)

    def clone(self, dest: Path, sandbox: Sandbox | None = None, **kwargs) -> "WinePrefix":
        """A copy that runs on its own (own wineserver), made in a fraction of a second.

        The source must not be running.
        """
        dest = Path(dest)
        subprocess.run(["cp", "-al", str(self.path), str(dest)], check=True)
        for pattern in _REWRITTEN_IN_PLACE:
            for linked in dest.rglob(pattern):
                if linked.is_file() and not linked.is_symlink():
                    real = linked.with_name(linked.name + ".copy")
                    shutil.copy2(linked, real)
                    os.replace(real, linked)
        # Names the directory of the prefix's wineserver socket; a copy must
        # find its own.
        (dest / "wineserver").unlink(missing_ok=True)
        return WinePrefix(dest, sandbox, **kwargs)

    def remove(self) -> None:
        """Deletes the prefix (its server must have ended) and the directory of
        its wineserver socket, which Wine leaves in /tmp."""
        pointer = self.path / "wineserver"
        if pointer.is_file():
            name = pointer.read_text().strip()
            server_dir = Path(tempfile.gettempdir()) / name
            if name.startswith("wine-") and "/" not in name and server_dir.is_dir():
                shutil.rmtree(server_dir, ignore_errors=True)
        shutil.rmtree(self.path, ignore_errors=True)

    # -- running ----------------------------------------------------------------

    @property
    def env(self) -> dict[str, str]:
        return wine_environment(self.path, self.keep_display, self.extra_env)

    def _out_files(self) -> tuple[Path, Path]:
        self._counter += 1
        return (
            self._scratch / ("%03d.out" % self._counter),
            self._scratch / ("%03d.err" % self._counter),
        )

    def run(self, command: list[str], timeout: float = 120, check: bool = False) -> Result:
        """Runs a command (`wine ...`, `wineserver ...`) for this prefix and waits for it."""
        out_path, err_path = self._out_files()
        proc = self.spawn(command, out_path, err_path)
        try:
            code = proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise WineError("timed out after %ss: %s" % (timeout, command))
        result = Result(
            code,
            out_path.read_bytes().decode("utf-8", "replace"),
            err_path.read_bytes().decode("utf-8", "replace"),
        )
        if check and code != 0:
            raise WineError("%s failed: %r" % (command, result))
        return result

    def wine(self, *args: str, **kwargs) -> Result:
        return self.run([WINE, *args], **kwargs)

    def wine64(self, *args: str, **kwargs) -> Result:
        return self.run([WINE64, *args], **kwargs)

    def spawn(self, command: list[str], stdout: Path, stderr: Path,
              stdin=subprocess.DEVNULL) -> subprocess.Popen[bytes]:
        """Starts a command in the background, its output going to files."""
        with open(stdout, "wb") as out, open(stderr, "wb") as err:
            return subprocess.Popen(
                self.sandbox.wrap(command),
                env=self.env,
                stdin=stdin,
                stdout=out,
                stderr=err,
                cwd=self._scratch,
            )

    def start_server(self) -> None:
        """Starts the prefix's wineserver and keeps it alive until stop_server.

        Without this the server ends a second after its last process, taking
        running services and the keyboard state with it.
        """
        self.run([WINESERVER, "-p"], check=True)

    def stop_server(self) -> None:
        """Ends every process of the prefix and the server, which saves the registry."""
        self.run([WINESERVER, "-k"], check=False)
        self.run([WINESERVER, "-w"], check=False, timeout=60)

    # -- paths ------------------------------------------------------------------

    def unix_path(self, windows_path: str) -> Path:
        """The Linux path of a C: path, matching existing names case-insensitively."""
        drive, _, rest = windows_path.partition(":")
        if drive.upper() != "C":
            raise ValueError("only C: paths are mapped: %r" % windows_path)
        current = self.path / "drive_c"
        for part in [p for p in rest.replace("/", "\\").split("\\") if p]:
            exact = current / part
            if not exact.exists() and current.is_dir():
                for entry in os.listdir(current):
                    if entry.lower() == part.lower():
                        exact = current / entry
                        break
            current = exact
        return current


def temporary_root(prefix: str = "tessel-e2e-") -> Path:
    return Path(tempfile.mkdtemp(prefix=prefix))


def wait_for(predicate, timeout: float, interval: float = 0.05, what: str = "condition"):
    """Polls until predicate() returns something true; returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError("timed out after %ss waiting for %s" % (timeout, what))
        time.sleep(interval)
