"""What every scenario checks besides its transcript: the telemetry requests,
and that nothing outside the tool's targets changed on the machine."""

from __future__ import annotations

import re
from urllib.parse import quote

from tessel_e2e import product
from tessel_e2e.collector import Request
from tessel_e2e.snapshot import Allowed
from transcript import BANNER, normalise

TELEMETRY_HOST = "telemetry.orvane.com"
RUN_ID = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")


def form_encoded(text: str) -> str:
    """A value as the telemetry body carries it: %20 for a space, upper-case
    hex, only A-Z a-z 0-9 - _ . ~ left as they are."""
    return quote(text, safe="-_.~")


def event(module: str, error: str = "", **custom: str) -> dict:
    """An expected telemetry event: its kind, its error label and its custom
    fields in order, values as sent (percent-encoded)."""
    return {"module": module, "error": error, "custom": list(custom.items())}


def done(errors: int, reboot: bool) -> dict:
    return event("done", errors=str(errors), reboot="Yes" if reboot else "No")


def failure(label: str, message: str) -> dict:
    return event("error", label, message=message)


def run_id_of(requests: list[Request]) -> str:
    assert requests, "no telemetry request was made"
    match = re.search(r"&build=([^&]*)&", requests[0].body.decode("ascii"))
    assert match and RUN_ID.fullmatch(match.group(1)), requests[0].body
    return match.group(1)


# What the tool writes right after handing each kind of event over; the start
# event is handed over after the banner and before anything else.
WRITTEN_NEXT = {
    "start": "\nPress one of the following keys:\n",
    "error": "ERROR code: ",
    "non-admin-exit": "Sending telemetry ",
    "done": "Sending telemetry ",
}


def assert_requests(requests: list[Request], output: bytes | None, expected: list[dict]) -> str:
    """Every request, in order: the POST to the object "entt" of the telemetry
    host through the proxy, the agent, the three headers in their order and no
    others but WinINet's, a Content-Length equal to the body's bytes, and the
    exact body. All events
    of a run carry the same RunId, which is returned.

    Given the run's output, each request also came after everything written
    before its event was handed over (it is sent beside the run, so the text
    that follows may come first)."""
    bodies = [r.body for r in requests]
    assert len(requests) == len(expected), "expected %d requests, got %d: %s" % (
        len(expected), len(requests), bodies)
    run_id = run_id_of(requests)
    seen: dict[str, int] = {}
    for request, wanted in zip(requests, expected):
        # WinINet sends the absolute form to a proxy, with or without ":80".
        assert re.fullmatch(r"POST http://%s(:80)?/entt HTTP/1\.1" % re.escape(TELEMETRY_HOST),
                            request.request_line), request.request_line
        # Every header, so no cookie goes out: the tool's three, then WinINet's
        # own; Wine's adds "Cache-Control: no-cache" for a request that its
        # answer must not be cached.
        assert request.headers == [
            ("Connection", "close"),
            ("Content-Type", "application/x-www-form-urlencoded"),
            ("Content-Length", str(len(request.body))),
            ("Host", TELEMETRY_HOST), ("User-Agent", "ZANT"), ("Cache-Control", "no-cache"),
        ], request.headers
        body = "product=tessel_remove&version=%s&error=%s&language=en&module=%s&build=%s" % (
            product.VERSION, wanted["error"], wanted["module"], run_id)
        body += "".join("&%s=%s" % pair for pair in wanted["custom"]) + "&ping"
        assert request.body == body.encode("ascii")
        if output is not None:
            assert request.output_size is not None
            before = normalise(output[: request.output_size])
            next_text = WRITTEN_NEXT[wanted["module"]]
            # The n-th event of a kind goes with the n-th occurrence of its text.
            seen[next_text] = normalise(output).find(next_text, seen.get(next_text, -1) + 1)
            assert 0 <= seen[next_text] <= len(before), (
                "%s event sent before %r" % (wanted["module"], before[-80:]))
            if wanted["module"] == "start":
                assert before.startswith(BANNER), before
    return run_id


# -- what may change on the machine ---------------------------------------------

# Changes that every run may make, whatever the tool does.
ALWAYS = [
    # The registry files are compared key by key and value by value instead.
    Allowed("file", "system.reg", "the registry, compared by content"),
    Allowed("file", "user.reg", "the registry, compared by content"),
    Allowed("file", "userdef.reg", "the registry, compared by content"),
    Allowed("file", "drive_c/e2e/run/*", "the test machine's logs, markers and exit codes"),
    # No WinINet cache or cookie files: the tool asks WinINet to keep neither
    # (Wine then creates not even their indexes).
    # Wine's display driver writes its date here whenever the prefix's system
    # processes start.
    Allowed("registry",
            r"HKLM\System\CurrentControlSet\Control\Class\{4D36E968-E325-11CE-BFC1-08002BE10318}"
            r"\0000\:DriverDateData", "Wine's display driver", "changed"),
]


def _path(windows_path: str) -> str:
    """Where a C: path lies in the prefix (patterns ignore case)."""
    return "drive_c/" + windows_path[3:].replace("\\", "/")


def _key(key: str) -> str:
    return "HKLM\\" + key


# The tool's nine targets, and what they take with them. Only removals: the
# tool never creates or rewrites anything there.
TARGETS = [
    Allowed("file", _path(product.DRIVER_FILE), "the driver file", "removed"),
    Allowed("file", _path(product.INSTALL_DIR), "the installation directory", "removed"),
    Allowed("file", _path(product.INSTALL_DIR) + "/*", "its contents", "removed"),
    Allowed("file", _path(product.START_MENU_DIR), "the Start-menu directory", "removed"),
    Allowed("file", _path(product.START_MENU_DIR) + "/*", "its contents", "removed"),
    Allowed("registry", _key(product.PRODUCT_KEY), "the product key", "removed"),
    Allowed("registry", _key(product.VENDOR_KEY), "the vendor key", "removed"),
    Allowed("registry", _key(product.UNINSTALL_KEY), "the uninstall entry", "removed"),
    Allowed("registry", product.SERVICES_KEY + "\\tslwfs", "the filter service", "removed"),
    Allowed("registry", product.SERVICES_KEY + "\\tslwfs\\*", "its settings", "removed"),
    Allowed("registry", product.SERVICES_KEY + "\\tsld", "the driver service", "removed"),
    Allowed("registry", product.SERVICES_KEY + "\\tsld\\*", "its settings", "removed"),
]

# Deletions put off until the next boot.
PENDING_RENAMES = Allowed(
    "registry", product.SESSION_MANAGER_KEY + "\\:" + product.PENDING_RENAMES,
    "deletions at the next boot")

# Wine's console window creates the key of console settings on first use;
# Windows has it from the start.
CONSOLE_SETTINGS = Allowed("registry", r"HKCU\Console", "console window settings", "added")
# Wine's restart runs wineboot, which may create the 32-bit view's Run key as
# it looks for programs to start (not when the restart kills it first).
WINE_RESTART_RUN_KEY = Allowed(
    "registry", r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run",
    "Wine's restart", "added")

# The agreement page, written on 'D'.
AGREEMENT_PAGE = Allowed("file", "drive_c/users/*/Temp/tessel_removal_eula.html",
                         "the agreement page")


def finish(machine, *allowed) -> None:
    """Stops the machine and checks that nothing changed but what the
    scenario allows (on top of ALWAYS)."""
    machine.finish()
    permitted = list(ALWAYS)
    for group in allowed:
        permitted.extend(group if isinstance(group, list) else [group])
    stray = machine.stray_changes(permitted)
    assert not stray, "changed outside the tool's targets:\n" + "\n".join(map(str, stray))


def pending_deletions(machine) -> list[str]:
    """The paths that the next boot deletes, in order (the registry after the run)."""
    from tessel_e2e.registry import pending_renames

    pairs = pending_renames(machine.after.registry.raw_value(
        product.SESSION_MANAGER_KEY, product.PENDING_RENAMES))
    assert all(target == "" for _, target in pairs), pairs
    for source, _ in pairs:
        assert source.startswith("\\??\\"), source
    return [source[len("\\??\\"):] for source, _ in pairs]


def assert_paused_after(request: Request, prompt_seen: float) -> None:
    """The 30-second "Sending telemetry" pause lies between the event and the
    prompt that follows it."""
    gap = prompt_seen - request.received
    assert 29.5 <= gap <= 40, "%.1f s between the event and the next prompt" % gap


def assert_product_gone(machine) -> None:
    """None of the nine targets is left (the state after the run)."""
    registry = machine.after.registry
    for service in (product.FILTER_SERVICE, product.DRIVER_SERVICE):
        assert not registry.has_key(product.SERVICES_KEY + "\\" + service), service
    for path in (product.DRIVER_FILE, product.INSTALL_DIR, product.START_MENU_DIR):
        assert not machine.exists(path), path
    for key in (product.PRODUCT_KEY, product.VENDOR_KEY, product.UNINSTALL_KEY):
        assert not registry.has_key("HKLM\\" + key), key


def service_log(machine, name: str = product.FILTER_SERVICE) -> list[str]:
    """What the service program noted: "state N" and "control N" lines."""
    path = machine.prefix.unix_path(product.RUN_DIR + "\\" + name + ".log")
    return [line for line in path.read_text().splitlines() if not line.startswith("process")]
