"""A private network for Wine: only loopback, nothing beyond this machine.

The tool posts telemetry to a fixed host on the internet. Everything a test or
the demo starts in Wine runs inside a network namespace of its own, in which
only 127.0.0.1 exists, so a request can reach the local collector and nothing
else, whatever the prefix's proxy setting says.
"""

from __future__ import annotations

import os
import shutil
import subprocess


class Sandbox:
    """One network namespace, kept alive by a sleeping process."""

    def __init__(self) -> None:
        self._holder: subprocess.Popen[bytes] | None = None

    @staticmethod
    def available() -> bool:
        if os.geteuid() != 0 or not all(shutil.which(t) for t in ("unshare", "nsenter", "ip")):
            return False
        probe = subprocess.run(
            ["unshare", "--net", "true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
        )
        return probe.returncode == 0

    def start(self) -> None:
        self._holder = subprocess.Popen(
            ["unshare", "--net", "--", "sh", "-c", "ip link set lo up && exec sleep infinity"],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        # The namespace is ready once lo is up inside it.
        for _ in range(100):
            check = subprocess.run(
                self.wrap(["ip", "-o", "link", "show", "lo"]), capture_output=True, text=True
            )
            if check.returncode == 0 and ",UP" in check.stdout:
                return
            if self._holder.poll() is not None:
                break
            subprocess.run(["sleep", "0.02"])
        raise RuntimeError("could not set up the private network namespace")

    def wrap(self, command: list[str]) -> list[str]:
        """The command, to be run inside the namespace."""
        if self._holder is None:
            return command
        return ["nsenter", "--net=/proc/%d/ns/net" % self._holder.pid, "--"] + command

    def stop(self) -> None:
        if self._holder is not None:
            self._holder.kill()
            self._holder.wait()
            self._holder = None

    def __enter__(self) -> "Sandbox":
        self.start()
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()


class NoSandbox(Sandbox):
    """Runs commands in the machine's own network (for a demo without root)."""

    def start(self) -> None:
        pass
