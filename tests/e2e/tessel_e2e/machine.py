"""A Windows machine under Wine with (parts of) Tessel Web Protection on it,
and the tool running there.

A `Plan` says what to install. A `Machine` is one scenario's prefix, in its
own network namespace with its own collector:

1. setup(plan): copy the template prefix, point its proxy at the collector,
   write the files, keys and services of the plan, stop the wineserver (which
   saves the registry) and take the "before" snapshot; then start the server
   again and bring up what runs: the filter service, file holders, services
   held in the marked-for-deletion state.
2. run_tool(): start the tool with its output going to a file, answer its
   prompts, wait for its end.
3. finish(): stop the server and take the "after" snapshot.
"""

from __future__ import annotations

import re
import shlex
import shutil
import subprocess
import time
from dataclasses import dataclass, field
from pathlib import Path

from . import product
from .collector import Collector, Request
from .prefix import WINE, WinePrefix, wait_for
from .registry import Registry
from .sandbox import NoSandbox, Sandbox
from .snapshot import Allowed, Change, Snapshot, unexpected


# ---------------------------------------------------------------------------
# What to install


@dataclass
class ServiceSpec:
    name: str
    binary: str  # the service's command line
    kernel: bool = False
    mode: str | None = None  # how e2e-service behaves once started; None: never started


@dataclass
class KeySpec:
    path: str  # below HKLM
    view: int = 64  # 64: native view, 32: the WOW64 view (Wow6432Node)
    values: dict[str, str] = field(default_factory=dict)


# The state each service mode settles in, and the log line that shows it.
SETTLED_STATE = {"stops": 4, "ignores-stop": 4, "refuses-stop": 4, "start-pending": 2,
                 "paused": 7, "stop-pending": 3}


class Plan:
    """What a scenario installs. Every method returns the plan, so they chain."""

    def __init__(self) -> None:
        self.services: list[ServiceSpec] = []
        self.files: dict[str, bytes] = {}
        self.directories: list[str] = []
        self.keys: list[KeySpec] = []
        self.held_files: list[str] = []
        self.read_only: list[str] = []
        self.marked_for_deletion: list[str] = []
        self.proxy = True

    # -- the product's parts --------------------------------------------------

    def filter_service(self, mode: str | None = "stops") -> "Plan":
        """The filter service "tslwfs", a real service program. With a mode it
        is started before the tool runs; with None it stays stopped."""
        log = product.RUN_DIR + "\\" + product.FILTER_SERVICE + ".log"
        self.services.append(ServiceSpec(
            product.FILTER_SERVICE,
            "%s\\e2e-service.exe %s %s" % (product.HELPER_DIR, mode or "stops", log),
            mode=mode))
        return self

    def driver_service(self) -> "Plan":
        """The driver service "tsld": a kernel driver service on the driver
        file, never started (Wine would try to load the file as a driver)."""
        self.services.append(ServiceSpec(product.DRIVER_SERVICE, product.DRIVER_FILE, kernel=True))
        return self

    def driver_file(self, native: bool = True, wow64: bool = False) -> "Plan":
        if native:
            self.files[product.DRIVER_FILE] = b"MZ tsld driver (native)\n"
        if wow64:
            self.files[product.DRIVER_FILE_WOW64] = b"MZ tsld driver (32-bit view)\n"
        return self

    def install_dir(self) -> "Plan":
        base = product.INSTALL_DIR
        self.directories.append(base)
        self.files[base + r"\TesselAgent.exe"] = b"MZ agent\n"
        self.files[base + r"\config.xml"] = b"<tessel/>\n"
        self.files[base + r"\driver\tslwfs.inf"] = b"[Version]\n"
        self.files[base + r"\driver\tsld.cat"] = b"catalog\n"
        self.files[base + r"\logs\agent.log"] = b"started\n"
        return self

    def start_menu_dir(self) -> "Plan":
        base = product.START_MENU_DIR
        self.directories.append(base)
        self.files[base + r"\Tessel Web Protection.lnk"] = b"L\0\0\0 shortcut\n"
        self.files[base + r"\Uninstall.lnk"] = b"L\0\0\0 shortcut\n"
        return self

    def product_keys(self, view: int = 64) -> "Plan":
        """The product key (so the vendor key above it) and the uninstall entry."""
        self.keys.append(KeySpec(product.PRODUCT_KEY, view,
                                 {"InstallDir": product.INSTALL_DIR, "Version": "4.7.1"}))
        self.keys.append(KeySpec(product.UNINSTALL_KEY, view,
                                 {"DisplayName": "Tessel Web Protection", "Publisher": "Orvane"}))
        return self

    def key(self, path: str, view: int = 64, **values: str) -> "Plan":
        self.keys.append(KeySpec(path, view, dict(values)))
        return self

    def file(self, path: str, content: bytes) -> "Plan":
        self.files[path] = content
        return self

    def make_read_only(self, path: str) -> "Plan":
        """Sets the read-only attribute (Wine shows a file without Unix write
        permission as read-only)."""
        self.read_only.append(path)
        return self

    def hold(self, path: str) -> "Plan":
        """Keeps the file open, without share-delete, while the tool runs."""
        self.held_files.append(path)
        return self

    def mark_for_deletion(self, *names: str) -> "Plan":
        """Deletes the services through a handle kept open while the tool
        runs, so that they stay marked for deletion."""
        self.marked_for_deletion.extend(names)
        return self

    def without_proxy(self) -> "Plan":
        self.proxy = False
        return self

    @classmethod
    def full_installation(cls, filter_mode: str | None = "stops") -> "Plan":
        return (cls().filter_service(filter_mode).driver_service().driver_file()
                .install_dir().start_menu_dir().product_keys())


# ---------------------------------------------------------------------------
# The template


def make_template(path: Path, tool_exe: Path, helper_dir: Path) -> WinePrefix:
    """A fresh prefix with the tool and the helpers in C:\\e2e\\bin, and HTML
    files opened by e2e-record (a browser that writes down what it opens)."""
    with Sandbox() if Sandbox.available() else NoSandbox() as sandbox:
        prefix = WinePrefix.create(path, sandbox)
        bin_dir = prefix.unix_path(product.HELPER_DIR)
        bin_dir.mkdir(parents=True, exist_ok=True)
        shutil.copy2(tool_exe, bin_dir / "tessel-cleanup.exe")
        for helper in product.HELPERS:
            shutil.copy2(helper_dir / (helper + ".exe"), bin_dir / (helper + ".exe"))
        prefix.start_server()
        command = '"%s\\e2e-record.exe" "%s\\opened.log" "%%1"' % (
            product.HELPER_DIR, product.RUN_DIR)
        for view in ("/reg:64", "/reg:32"):
            prefix.wine("reg", "add", r"HKLM\Software\Classes\.html", "/ve", "/d",
                        "e2e.htmlpage", "/f", view, check=True)
            prefix.wine("reg", "add", r"HKLM\Software\Classes\e2e.htmlpage\shell\open\command",
                        "/ve", "/d", command, "/f", view, check=True)
        prefix.stop_server()
        prefix.sandbox = NoSandbox()
    return prefix


# ---------------------------------------------------------------------------
# A scenario's machine


@dataclass
class ExitStatus:
    code: int | None  # the full 32-bit exit code, unsigned; None when unknown
    unix: int  # what `wine` returned: the low 8 bits


# Each prompt's last line: a key is pressed only once it has been written.
PROMPTS = {
    "agreement": "  'D' to display the EULA in the browser\r\n",
    "restart": "Press the 'Y' key to restart, otherwise the 'N' key to manually restart.\r\n",
    "exit": "Press the 'E' key to exit the tool.\r\n",
}


class ToolRun:
    """tessel-cleanup.exe running on a machine, its output going to a file.

    Where its keys come from (`keys`):
    - "terminal": a terminal of its own (script(1)) is its standard input, as
      in a remote shell; the letters are typed into that terminal and reach the
      tool's console input;
    - "detached": no terminal and no console window, so the tool reads the
      keyboard state, and keys are pressed with SendInput (e2e-keys);
    - "inherited": this process's own standard input, a person's terminal.
    """

    def __init__(self, machine: "Machine", name: str, env_unset=(), env_set=None,
                 keys: str = "terminal") -> None:
        self.machine = machine
        self.keys = keys
        self.out_path = machine.workdir / (name + ".out")
        self.err_path = machine.workdir / (name + ".err")
        self.code_file = product.RUN_DIR + "\\" + name + ".exit"
        command = [WINE, product.HELPER_DIR + r"\e2e-launch.exe"]
        for variable in env_unset:
            command += ["--unset", variable]
        for variable, value in (env_set or {}).items():
            command += ["--set", "%s=%s" % (variable, value)]
        command += [self.code_file, product.TOOL]
        stdin, stdout = {"detached": subprocess.DEVNULL, "inherited": None}.get(keys), self.out_path
        if keys == "terminal":
            # The tool's output still goes to a file, byte for byte; what the
            # terminal shows (its echo) goes to a file of its own.
            command = ["script", "-qefc", "%s > %s" % (shlex.join(command),
                                                        shlex.quote(str(self.out_path))),
                       "/dev/null"]
            stdin, stdout = subprocess.PIPE, machine.workdir / (name + ".terminal")
        machine.collector.output_pointer.write_text(str(self.out_path))
        self.started = time.monotonic()
        self.proc = machine.prefix.spawn(command, stdout, self.err_path, stdin)
        # When each awaited text was first seen: seconds since the start, and
        # wall-clock time (comparable with Request.received).
        self.seen: dict[str, float] = {}
        self.seen_wall: dict[str, float] = {}

    def output_bytes(self) -> bytes:
        return self.out_path.read_bytes() if self.out_path.exists() else b""

    def output(self) -> str:
        return self.output_bytes().decode("utf-8", "replace")

    def wait_for(self, text: str, timeout: float = 90, interval: float = 0.05) -> float:
        """Waits until `text` is in the output, looking every `interval`
        seconds; returns the seconds since start."""
        def found():
            if text in self.output():
                return True
            if self.proc.poll() is not None and text not in self.output():
                raise AssertionError("the tool ended (%s) without writing %r; output:\n%s"
                                     % (self.proc.returncode, text, self.output()))
            return False
        wait_for(found, timeout, interval=interval, what=repr(text))
        self.seen.setdefault(text, time.monotonic() - self.started)
        self.seen_wall.setdefault(text, time.time())
        return self.seen[text]

    def press(self, key: str, hold_ms: int = 400) -> None:
        """Types the key into the tool's terminal, or presses it (held down
        for `hold_ms`) when the tool runs detached."""
        if self.keys == "detached":
            self.machine.prefix.wine(product.HELPER_DIR + r"\e2e-keys.exe", "--hold",
                                     str(hold_ms), key, check=True)
        else:
            self.proc.stdin.write(key.encode())
            self.proc.stdin.flush()

    def answer(self, prompt: str, key: str, timeout: float = 120) -> float:
        """Waits for the prompt, then presses the key; returns when the prompt
        was seen (wall-clock time)."""
        self.wait_for(PROMPTS[prompt], timeout)
        self.press(key)
        return self.seen_wall[PROMPTS[prompt]]

    def wait(self, timeout: float = 120) -> ExitStatus:
        unix = self.proc.wait(timeout)
        code_path = self.machine.prefix.unix_path(self.code_file)
        code = int(code_path.read_text()) if code_path.exists() else None
        return ExitStatus(code, unix)

    def kill(self) -> None:
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class Machine:
    def __init__(self, template: WinePrefix, workdir: Path, collector_status: int = 200,
                 collector_hold: float = 0.0, keep_display: bool = False,
                 env: dict[str, str] | None = None, collector_first_late: float = 0.0):
        self.template = template
        self.workdir = Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.sandbox: Sandbox = Sandbox() if Sandbox.available() else NoSandbox()
        self.collector = Collector(self.workdir, collector_status, collector_hold,
                                   first_late=collector_first_late)
        self.keep_display = keep_display
        self.env = env  # added to Wine's environment, for every process of the machine
        self.prefix: WinePrefix | None = None
        self.plan: Plan | None = None
        self.before: Snapshot | None = None
        self.after: Snapshot | None = None
        self.runs: list[ToolRun] = []
        self._background = []

    # -- setting up -------------------------------------------------------------

    def setup(self, plan: Plan) -> "Machine":
        self.plan = plan
        self.sandbox.start()
        self.collector.start(self.sandbox.wrap)
        self.prefix = self.template.clone(self.workdir / "prefix", self.sandbox,
                                          keep_display=self.keep_display, extra_env=self.env)
        self.prefix.unix_path(product.RUN_DIR).mkdir(parents=True, exist_ok=True)
        self.prefix.start_server()
        self._stage_at_rest(plan)
        self.prefix.stop_server()
        self._check_staged(plan, Registry.load(self.prefix.path))
        self.before = Snapshot.take(self.prefix.path)
        self.prefix.start_server()
        self._stage_running(plan)
        return self

    def _stage_at_rest(self, plan: Plan) -> None:
        for directory in plan.directories:
            self.prefix.unix_path(directory).mkdir(parents=True, exist_ok=True)
        for path, content in plan.files.items():
            target = self.prefix.unix_path(path)
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(content)
        for path in plan.read_only:
            self.prefix.unix_path(path).chmod(0o444)

        lines = ["@echo off"]
        settings = product.INTERNET_SETTINGS_KEY
        if plan.proxy:
            lines.append('reg add "%s" /v ProxyEnable /t REG_DWORD /d 1 /f' % settings)
            lines.append('reg add "%s" /v ProxyServer /d %s /f'
                         % (settings, self.collector.address))
        else:
            lines.append('reg add "%s" /v ProxyEnable /t REG_DWORD /d 0 /f' % settings)
        for key in plan.keys:
            view = "/reg:%d" % key.view
            lines.append('reg add "HKLM\\%s" /f %s' % (key.path, view))
            for name, data in key.values.items():
                lines.append('reg add "HKLM\\%s" /v "%s" /d "%s" /f %s'
                             % (key.path, name, data, view))
        for service in plan.services:
            kind = "kernel" if service.kernel else "own"
            lines.append('sc create %s type= %s start= demand binPath= "%s"'
                         % (service.name, kind, service.binary))
        batch = self.prefix.unix_path(product.RUN_DIR) / "stage.bat"
        batch.write_bytes(("\r\n".join(lines) + "\r\n").encode("ascii"))
        self.prefix.wine("cmd", "/c", product.RUN_DIR + r"\stage.bat", check=True, timeout=180)

    def _check_staged(self, plan: Plan, registry: Registry) -> None:
        """Staging went through `reg` and `sc`; make sure it did what it should."""
        problems = []
        for key in plan.keys:
            where = key.path if key.view == 64 else product.wow64_key(key.path)
            if not registry.has_key("HKLM\\" + where):
                problems.append("key %s (view %d)" % (key.path, key.view))
            if key.view == 64 and registry.has_key("HKLM\\" + product.wow64_key(key.path)):
                problems.append("key %s also in the 32-bit view" % key.path)
        for service in plan.services:
            if not registry.has_key(product.SERVICES_KEY + "\\" + service.name):
                problems.append("service " + service.name)
        for path in plan.files:
            if not self.prefix.unix_path(path).is_file():
                problems.append("file " + path)
        if problems:
            raise RuntimeError("staging failed: " + ", ".join(problems))

    def _stage_running(self, plan: Plan) -> None:
        run_dir = self.prefix.unix_path(product.RUN_DIR)
        for service in plan.services:
            if service.mode is None:
                continue
            self.prefix.wine("sc", "start", service.name, check=False)
            settled = SETTLED_STATE[service.mode]
            log = run_dir / (service.name + ".log")
            # Generous: a loaded machine running scenarios side by side can
            # take many seconds to start a service process.
            wait_for(lambda: log.exists() and ("state %d\n" % settled) in log.read_text(), 60,
                     what="service %s to settle in state %d" % (service.name, settled))
            wait_for(lambda: self.service_state(service.name) == settled, 60,
                     what="the service manager to report %s in state %d" % (service.name, settled))
        for number, path in enumerate(plan.held_files):
            ready = "%s\\hold-%d.ready" % (product.RUN_DIR, number)
            self._background.append(self.prefix.spawn(
                [WINE, product.HELPER_DIR + r"\e2e-hold.exe", path, ready],
                self.workdir / ("hold-%d.out" % number), self.workdir / ("hold-%d.err" % number)))
            ready_path = self.prefix.unix_path(ready)
            text = wait_for(lambda: ready_path.exists() and ready_path.read_text(), 20,
                            what="the file holder for " + path)
            if not text.startswith("held"):
                raise RuntimeError("could not hold %s: %s" % (path, text))
        if plan.marked_for_deletion:
            ready = product.RUN_DIR + r"\marked.ready"
            self._background.append(self.prefix.spawn(
                [WINE, product.HELPER_DIR + r"\e2e-mark.exe", ready, *plan.marked_for_deletion],
                self.workdir / "mark.out", self.workdir / "mark.err"))
            ready_path = self.prefix.unix_path(ready)
            text = wait_for(lambda: ready_path.exists() and ready_path.read_text(), 20,
                            what="services to be marked for deletion")
            if any(not line.endswith(" 0") for line in text.splitlines()):
                raise RuntimeError("could not mark services for deletion: " + text)

    # -- while it runs ----------------------------------------------------------

    def run_tool(self, env_unset=(), env_set=None, keys: str = "terminal") -> ToolRun:
        run = ToolRun(self, "tool-%d" % (len(self.runs) + 1), env_unset, env_set, keys)
        self.runs.append(run)
        return run

    @property
    def temp_dir(self) -> str:
        """TEMP as the tool sees it (Wine sets it from HKCU\\Environment)."""
        return self.before.registry.value(r"HKCU\Environment", "TEMP")

    def service_state(self, name: str) -> int | None:
        """The service's current state, None when it does not exist."""
        result = self.prefix.wine("sc", "query", name)
        match = re.search(r"STATE\s+:\s+(\d+)", result.stdout)
        return int(match.group(1)) if match else None

    def requests(self) -> list[Request]:
        return self.collector.requests()

    # -- afterwards -------------------------------------------------------------

    def finish(self) -> Snapshot:
        for run in self.runs:
            run.kill()
        self.prefix.stop_server()
        for proc in self._background:
            proc.wait(30)
        self._background = []
        self.after = Snapshot.take(self.prefix.path)
        return self.after

    def reboot(self) -> Snapshot:
        """Starts the stopped machine again, as after a restart: Wine carries
        out the pending file operations when a prefix's system processes come
        up. Stops it once more and returns the new state."""
        self.prefix.start_server()
        self.prefix.wine("cmd", "/c", "exit", check=True)
        self.prefix.stop_server()
        self.after = Snapshot.take(self.prefix.path)
        return self.after

    def changes(self) -> list[Change]:
        return self.before.diff(self.after)

    def stray_changes(self, allowed: list[Allowed]) -> list[Change]:
        return unexpected(self.changes(), allowed)

    def exists(self, windows_path: str) -> bool:
        return self.prefix.unix_path(windows_path).exists()

    def close(self, keep_prefix: bool = False) -> None:
        for run in self.runs:
            run.kill()
        if self.prefix is not None and self.after is None:
            self.prefix.stop_server()
        for proc in self._background:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.collector.stop()
        self.sandbox.stop()
        if self.prefix is not None and not keep_prefix:
            self.prefix.remove()
