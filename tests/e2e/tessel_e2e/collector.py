"""A telemetry collector: a local HTTP server that records every request.

Run as a program (inside the scenario's network namespace) it listens on
127.0.0.1 on an ephemeral port, writes that port to a file, and appends each
request it receives as one JSON line to a log: the request line, the headers
in the order they came, and the body bytes. It then answers as told:

    collector.py PORTFILE LOGFILE [--status N] [--location URL] [--hold SECONDS]
                 [--first-late SECONDS] [--output-pointer FILE]

--status 200 (the default), 201, 204, 301, 302, 404, 500 ...: the status to
answer with; 301 and 302 carry a Location header.
--hold SECONDS: answer nothing, keep the connection open that long, then close
it: a server that does not answer within the tool's time-outs.
--first-late SECONDS: answer the first request only that long after it came,
every later one at once.
--output-pointer FILE: FILE names the file that the tool's console output goes
to; each record notes how many bytes of output there were when the request
arrived: the lines the tool had written by then.

The Collector class starts that program and reads its log back.
"""

from __future__ import annotations

import argparse
import base64
import json
import os
import subprocess
import sys
import threading
import time
from dataclasses import dataclass
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

REASONS = {200: "OK", 201: "Created", 204: "No Content", 301: "Moved Permanently",
           302: "Found", 404: "Not Found", 500: "Internal Server Error"}


@dataclass
class Request:
    request_line: str
    headers: list[tuple[str, str]]  # in the order received
    body: bytes
    received: float  # time.time() when the body was complete
    output_size: int | None = None  # bytes of console output written by then

    @property
    def method(self) -> str:
        return self.request_line.split(" ")[0]

    @property
    def target(self) -> str:
        return self.request_line.split(" ")[1]

    def header(self, name: str) -> str | None:
        values = [v for k, v in self.headers if k.lower() == name.lower()]
        return values[0] if values else None

    def header_names(self) -> list[str]:
        return [k for k, _ in self.headers]

    def fields(self) -> list[tuple[str, str | None]]:
        """The form body split into (key, value) pairs, still percent-encoded;
        None for a key without "="."""
        pairs = []
        for part in self.body.decode("ascii").split("&"):
            key, eq, value = part.partition("=")
            pairs.append((key, value if eq else None))
        return pairs


def _output_size(pointer: Path | None) -> int | None:
    try:
        return os.path.getsize(pointer.read_text().strip()) if pointer else None
    except OSError:
        return None


def _handler(status: int, location: str, hold: float, first_late: float, log_path: Path,
             pointer: Path | None, lock):
    waiting = [first_late]  # the delay of the next answer: the first one's, then none

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args) -> None:  # quiet
            pass

        def _record(self) -> None:
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length else b""
            output_size = _output_size(pointer)
            entry = {
                "request_line": self.requestline,
                "headers": list(self.headers.items()),
                "body": base64.b64encode(body).decode("ascii"),
                "received": time.time(),
                "output_size": output_size,
            }
            with lock:
                with open(log_path, "a", encoding="utf-8") as log:
                    log.write(json.dumps(entry) + "\n")
                delay, waiting[0] = waiting[0], 0.0
            time.sleep(delay)

        def _answer(self) -> None:
            self._record()
            if hold > 0:
                # No answer at all: wait, then drop the connection.
                time.sleep(hold)
                self.close_connection = True
                return
            payload = b"" if status in (204, 304) else b"ok\n"
            self.send_response(status, REASONS.get(status, "Status"))
            if status in (301, 302, 303, 307, 308):
                self.send_header("Location", location)
            self.send_header("Content-Type", "text/plain")
            if status not in (204, 304):
                self.send_header("Content-Length", str(len(payload)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(payload)
            self.close_connection = True

        do_POST = do_GET = do_PUT = do_HEAD = _answer

    return Handler


def serve(argv: list[str]) -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("port_file", type=Path)
    parser.add_argument("log_file", type=Path)
    parser.add_argument("--status", type=int, default=200)
    parser.add_argument("--location", default="http://collector.invalid/moved")
    parser.add_argument("--hold", type=float, default=0.0)
    parser.add_argument("--first-late", type=float, default=0.0)
    parser.add_argument("--output-pointer", type=Path)
    args = parser.parse_args(argv)

    args.log_file.touch()
    handler = _handler(args.status, args.location, args.hold, args.first_late, args.log_file,
                       args.output_pointer, threading.Lock())
    server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    partial = args.port_file.with_suffix(".part")
    partial.write_text(str(server.server_address[1]))
    os.replace(partial, args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


class Collector:
    """The collector program, started in a sandbox, and its records."""

    def __init__(self, workdir: Path, status: int = 200, hold: float = 0.0,
                 location: str = "http://collector.invalid/moved", first_late: float = 0.0):
        self.workdir = Path(workdir)
        self.status = status
        self.hold = hold
        self.first_late = first_late
        self.location = location
        self.port: int | None = None
        self._proc: subprocess.Popen[bytes] | None = None

    @property
    def log_file(self) -> Path:
        return self.workdir / "collector.jsonl"

    @property
    def output_pointer(self) -> Path:
        """Write the path of the tool's current output file here."""
        return self.workdir / "collector.output"

    def start(self, wrap=lambda command: command) -> int:
        self.workdir.mkdir(parents=True, exist_ok=True)
        port_file = self.workdir / "collector.port"
        command = [sys.executable, os.path.abspath(__file__), str(port_file), str(self.log_file),
                   "--status", str(self.status), "--hold", str(self.hold),
                   "--first-late", str(self.first_late),
                   "--location", self.location, "--output-pointer", str(self.output_pointer)]
        with open(self.workdir / "collector.err", "wb") as err:
            self._proc = subprocess.Popen(wrap(command), stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=err)
        deadline = time.monotonic() + 10
        while not port_file.exists():
            if self._proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the collector did not start")
            time.sleep(0.02)
        self.port = int(port_file.read_text())
        return self.port

    @property
    def address(self) -> str:
        return "127.0.0.1:%d" % self.port

    def requests(self) -> list[Request]:
        if not self.log_file.exists():
            return []
        out = []
        for line in self.log_file.read_text(encoding="utf-8").splitlines():
            entry = json.loads(line)
            out.append(Request(entry["request_line"], [tuple(h) for h in entry["headers"]],
                               base64.b64decode(entry["body"]), entry["received"],
                               entry.get("output_size")))
        return out

    def stop(self) -> None:
        if self._proc is not None:
            self._proc.terminate()
            try:
                self._proc.wait(5)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()
            self._proc = None


if __name__ == "__main__":
    serve(sys.argv[1:])
