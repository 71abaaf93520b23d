"""Reads a Wine prefix's registry from its .reg files.

The wineserver keeps the registry in memory and writes the files when it ends,
so they are read only while no server runs for the prefix. Keys and value
names are case-insensitive, as in Windows: lookups go through lower-case
paths, while the original spelling is kept for messages.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from pathlib import Path

# Which root each file holds.
HIVES = {
    "system.reg": "HKLM",
    "user.reg": "HKCU",
    "userdef.reg": "HKU\\.Default",
}

_HEADER = re.compile(r"^\[(?P<name>.*)\](?: (?P<stamp>\d+))?$")
_ESCAPES = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t", "0": "\0", "a": "\a",
            "b": "\b", "e": "\x1b", "f": "\f", "v": "\v"}


def unescape(text: str) -> str:
    """Undoes the escaping of a key name or a quoted string in a .reg file."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        nxt = text[i + 1]
        if nxt == "x":
            digits = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2 :])
            if digits:
                out.append(chr(int(digits.group(0), 16)))
                i += 2 + len(digits.group(0))
                continue
        out.append(_ESCAPES.get(nxt, nxt))
        i += 2
    return "".join(out)


def _quoted_end(text: str, start: int) -> int:
    """Index of the closing quote of the string opening at text[start]."""
    i = start + 1
    while i < len(text):
        if text[i] == "\\":
            i += 2
            continue
        if text[i] == '"':
            return i
        i += 1
    raise ValueError("unterminated string: %r" % text)


@dataclass
class Value:
    name: str  # "" for the default value
    raw: str  # the text after "=", continuation lines joined

    def decode(self) -> object:
        """str for REG_SZ and REG_EXPAND_SZ, int for REG_DWORD, list of str for
        REG_MULTI_SZ, bytes for the rest."""
        raw = self.raw
        if raw.startswith('"'):
            return unescape(raw[1:-1])
        if raw.startswith("str(2):"):
            return unescape(raw[len("str(2):") + 1 : -1])
        if raw.startswith("str(7):"):
            return _split_multi(unescape(raw[len("str(7):") + 1 : -1]))
        if raw.startswith("dword:"):
            return int(raw[len("dword:") :], 16)
        kind, _, data = raw.partition(":")
        blob = bytes(int(b, 16) for b in data.replace(" ", "").split(",") if b)
        if kind == "hex(7)":
            return _split_multi(blob.decode("utf-16-le"))
        if kind in ("hex(1)", "hex(2)"):
            return blob.decode("utf-16-le").rstrip("\0")
        return blob


def pending_renames(value: object) -> list[tuple[str, str]]:
    """PendingFileRenameOperations as (source, target) pairs; an empty target
    means "delete". The value is a list of strings in which every target,
    empty ones included, follows its source."""
    if value is None:
        return []
    raw = value.raw if isinstance(value, Value) else value
    if raw.startswith("str(7):"):
        text = unescape(raw[len("str(7):") + 1 : -1])
    else:
        blob = bytes(int(b, 16) for b in raw.partition(":")[2].split(",") if b.strip())
        text = blob.decode("utf-16-le")
    items = text.split("\0")
    pairs = []
    i = 0
    while i < len(items) and items[i]:
        pairs.append((items[i], items[i + 1] if i + 1 < len(items) else ""))
        i += 2
    return pairs


def _split_multi(text: str) -> list[str]:
    # A REG_MULTI_SZ ends in an empty string; strings inside may not be empty.
    items = text.split("\0")
    while items and items[-1] == "":
        items.pop()
    return items


@dataclass
class Key:
    path: str  # e.g. HKLM\Software\Orvane Systems
    values: dict[str, Value] = field(default_factory=dict)  # by lower-case name
    link: bool = False


class Registry:
    """All keys of a prefix, by lower-case full path."""

    def __init__(self, keys: dict[str, Key]):
        self.keys = keys

    @classmethod
    def load(cls, prefix_path: Path) -> "Registry":
        keys: dict[str, Key] = {}
        for file_name, root in HIVES.items():
            path = Path(prefix_path) / file_name
            if path.exists():
                for key in parse_reg_file(path.read_text(encoding="utf-8", errors="replace"), root):
                    keys[key.path.lower()] = key
        # Wine writes a key without values only when it has no subkeys; the
        # keys above a written key exist all the same.
        for key in list(keys.values()):
            parts = key.path.split("\\")
            for depth in range(1, len(parts)):
                ancestor = "\\".join(parts[:depth])
                keys.setdefault(ancestor.lower(), Key(ancestor))
        return cls(keys)

    def key(self, path: str) -> Key | None:
        return self.keys.get(_normalise(path))

    def has_key(self, path: str) -> bool:
        return _normalise(path) in self.keys

    def raw_value(self, path: str, name: str) -> Value | None:
        key = self.key(path)
        return None if key is None else key.values.get(name.lower())

    def value(self, path: str, name: str) -> object:
        """The decoded value, or None when the key or the value is missing."""
        key = self.key(path)
        if key is None or name.lower() not in key.values:
            return None
        return key.values[name.lower()].decode()

    def subkeys(self, path: str) -> list[str]:
        """Full paths of the keys directly below `path`."""
        base = _normalise(path) + "\\"
        return sorted(
            key.path for lower, key in self.keys.items()
            if lower.startswith(base) and "\\" not in lower[len(base) :]
        )


def _normalise(path: str) -> str:
    path = path.replace("/", "\\").strip("\\")
    for long_name, short in (("HKEY_LOCAL_MACHINE", "HKLM"), ("HKEY_CURRENT_USER", "HKCU"),
                             ("HKEY_USERS", "HKU")):
        if path.upper().startswith(long_name):
            path = short + path[len(long_name) :]
    return path.lower()


def parse_reg_file(text: str, root: str) -> list[Key]:
    """Parses a Wine .reg file (format "WINE REGISTRY Version 2")."""
    keys: list[Key] = []
    current: Key | None = None
    pending = ""  # a value line continued with a trailing backslash
    for line in text.splitlines():
        if pending:
            line = pending + line.strip()
            pending = ""
        if not line or line.startswith(";;") or line.startswith("WINE REGISTRY"):
            continue
        if line.startswith("["):
            match = _HEADER.match(line)
            if not match:
                raise ValueError("bad key line: %r" % line)
            current = Key(root + "\\" + unescape(match.group("name")))
            keys.append(current)
            continue
        if line.startswith("#"):
            # #time= (last write), #class=, #arch=: metadata, not content.
            if line == "#link" and current is not None:
                current.link = True
            continue
        if line.endswith("\\"):
            # Hex data runs on over several lines; quoted strings always end in
            # a quote and dwords in a digit, so only hex lines end like this.
            pending = line[:-1]
            continue
        if current is None:
            raise ValueError("value outside a key: %r" % line)
        if line.startswith("@="):
            name, raw = "", line[2:]
        elif line.startswith('"'):
            end = _quoted_end(line, 0)
            name, raw = unescape(line[1:end]), line[end + 2 :]
        else:
            raise ValueError("bad value line: %r" % line)
        current.values[name.lower()] = Value(name, raw)
    return keys
