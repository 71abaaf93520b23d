"""The console texts of a run, piece by piece, and the comparison of a whole
transcript with what a scenario expects.

A transcript is expected as a list of pieces: plain strings must match
exactly; `Pattern` pieces stand for what differs between machines (the text
of a system message) or between runs (the dots of a service that stops within
a second or two). Lines are written "\\n" here; the tool writes CR LF to a file,
which `normalise` checks and folds.
"""

from __future__ import annotations

import difflib
import re
from dataclasses import dataclass

from tessel_e2e import product


@dataclass(frozen=True)
class Pattern:
    regex: str
    shown: str  # how the piece reads in a failure message


# The system's text for an error code: one line, whatever the platform words it.
SYSTEM_TEXT = Pattern(r"[^\n]+\n", "<system message>\n")

BANNER = "\ntessel-cleanup v%s\n\n" % product.VERSION
AGREEMENT_PROMPT = (
    "\nPress one of the following keys:\n"
    "  'A' to accept the EULA\n"
    "  'E' to exit the tool\n"
    "  'D' to display the EULA in the browser\n"
)
TELEMETRY_WAIT = "Sending telemetry " + "." * 30 + "\n"
RESTART_PROMPT = (
    "\nCan the computer be restarted to complete the removal procedure?\n"
    "Press the 'Y' key to restart, otherwise the 'N' key to manually restart.\n"
)
MANUAL_RESTART = "\n\nPlease manually restart the computer to complete the removal procedure."
# Where the agreement page is, when no desktop shell opens it: one line per press.
PAGE_WHERE = "The EULA could not be shown in the browser. It is in: "
EXIT_PROMPT = "\nPress the 'E' key to exit the tool.\n"
CANNOT_CONTINUE = "\nUnable to continue as not able to stop the service tslwfs.\n"


def stop_wait(dots: int | None = None, in_window: bool = False) -> list:
    """The wait for a running filter service to stop. A service that stops
    when asked gets there within a second or two: a few dots at most."""
    if in_window:
        # A window shows no space at the end of a line: none without dots.
        return ["Waiting for tslwfs to stop", Pattern(r"(?: \.{1,5})?", " <a few dots>"), "\n"]
    dots_piece = "." * dots if dots is not None else Pattern(r"\.{0,5}", "<a few dots>")
    return ["Waiting for tslwfs to stop ", dots_piece, "\n"]


def service_state(text: str) -> str:
    return "tslwfs is %s\n" % text


def error_code(code: int, text: str | None = None) -> list:
    """ReportFailure's line for a code with a system text (any, or the given
    one), and its two line ends."""
    return ["ERROR code: %d Message: " % code, SYSTEM_TEXT if text is None else text + "\n",
            "\n\n"]


def bare_code(code: int) -> str:
    """ReportFailure's line for a number that is no system error code (a
    service state, a result only the shell gives): no text is looked up."""
    return "ERROR code: %d\n\n" % code


def stop_failed(state_text: str, state: int) -> list:
    return [service_state(state_text), "\nERROR stopping service: tslwfs\n", bare_code(state)]


def service_absent(name: str) -> str:
    return "Service is not present: %s\n" % name


def service_deleted(name: str) -> str:
    return "Service deleted: %s\n" % name


def service_marked(name: str) -> str:
    return "Service marked for deletion: %s\n" % name


def path_absent(kind: str, path: str) -> str:
    return "%s is not present: %s\n" % (kind, path)


def path_deleted(kind: str, path: str) -> str:
    return "%s deleted: %s\n" % (kind, path)


def path_deferred(kind: str, path: str) -> str:
    return "%s will be deleted when the system reboots: %s\n" % (kind, path)


def path_failed(kind: str, path: str, code: int) -> list:
    return ["\nERROR deleting %s: %s\n" % (kind, path), *error_code(code)]


def key_absent(key: str) -> str:
    return "Registry key is not present: %s\n" % key


def key_deleted(key: str) -> str:
    return "Registry key deleted: %s\n" % key


def key_failed(key: str, code: int, text: str | None = None) -> list:
    return ["\nERROR deleting key: %s\n" % key, *error_code(code, text)]


# The three path lines and the two key lines of a machine without the product.
NOTHING_ON_DISK = [
    path_absent("File", product.DRIVER_FILE),
    path_absent("Directory", product.INSTALL_DIR),
    path_absent("Directory", product.START_MENU_DIR),
]
NO_KEYS = [key_absent(product.VENDOR_KEY), key_absent(product.UNINSTALL_KEY)]

EVERYTHING_DELETED = [
    service_deleted("tslwfs"),
    service_deleted("tsld"),
    path_deleted("File", product.DRIVER_FILE),
    path_deleted("Directory", product.INSTALL_DIR),
    path_deleted("Directory", product.START_MENU_DIR),
    key_deleted(product.VENDOR_KEY),
    key_deleted(product.UNINSTALL_KEY),
]


def removal(*pieces) -> list:
    """A run that accepts the agreement: banner, prompt, then the pieces."""
    out: list = [BANNER, AGREEMENT_PROMPT]
    for piece in pieces:
        out.extend(piece if isinstance(piece, list) else [piece])
    return out


def normalise(raw: bytes) -> str:
    """The transcript with "\\n" line ends. Every line end in the file must be
    CR LF, as the C runtime's text mode writes it on Windows."""
    text = raw.decode("utf-8")
    stray = [m.start() for m in re.finditer(r"(?<!\r)\n|\r(?!\n)", text)]
    assert not stray, "line ends other than CR LF at offsets %s in %r" % (stray, text)
    return text.replace("\r\n", "\n")


def assert_transcript(raw: bytes | str, expected: list) -> re.Match:
    """Compares the whole output (a file's bytes, or text already read with
    "\\n" line ends) with the expected pieces; returns the match (groups: the
    pattern pieces, in order)."""
    text = normalise(raw) if isinstance(raw, bytes) else raw
    regex = "".join(
        "(%s)" % piece.regex if isinstance(piece, Pattern) else re.escape(piece)
        for piece in expected
    )
    match = re.fullmatch(regex, text, re.DOTALL)
    if match is None:
        shown = "".join(piece.shown if isinstance(piece, Pattern) else piece for piece in expected)
        diff = "\n".join(difflib.unified_diff(
            shown.split("\n"), text.split("\n"), "expected", "actual", lineterm=""))
        raise AssertionError("transcript differs:\n" + diff)
    return match
