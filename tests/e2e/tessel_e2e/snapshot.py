"""The state of a whole prefix, files and registry, and what changed between two.

Taken while no wineserver runs for the prefix (the registry files are current
only then). A file is compared by kind, size and modification time, which
catches every rewrite without reading 1.3 GB twice per scenario.
"""

from __future__ import annotations

import fnmatch
import os
from dataclasses import dataclass
from pathlib import Path

from .registry import Registry


@dataclass(frozen=True)
class Change:
    kind: str  # "file" or "registry"
    what: str  # "added", "removed", "changed"
    path: str  # prefix-relative file path, or registry key path [+ "\\:" + value name]

    def __str__(self) -> str:
        return "%s %s %s" % (self.kind, self.what, self.path)


class Snapshot:
    def __init__(self, files: dict[str, tuple], registry: Registry):
        self.files = files
        self.registry = registry

    @classmethod
    def take(cls, prefix_path: Path) -> "Snapshot":
        root = Path(prefix_path)
        files: dict[str, tuple] = {}
        for directory, dirnames, filenames in os.walk(root):
            rel_dir = os.path.relpath(directory, root)
            for name in dirnames + filenames:
                full = os.path.join(directory, name)
                rel = os.path.normpath(os.path.join(rel_dir, name))
                st = os.lstat(full)
                if os.path.islink(full):
                    # dosdevices/z: points at / and is never followed.
                    files[rel] = ("link", os.readlink(full))
                elif os.path.isdir(full):
                    files[rel] = ("dir",)
                else:
                    files[rel] = ("file", st.st_size, st.st_mtime_ns)
        return cls(files, Registry.load(root))

    def diff(self, after: "Snapshot") -> list[Change]:
        changes: list[Change] = []
        for path in sorted(set(self.files) | set(after.files)):
            old, new = self.files.get(path), after.files.get(path)
            if old == new:
                continue
            what = "added" if old is None else "removed" if new is None else "changed"
            changes.append(Change("file", what, path))

        before_keys, after_keys = self.registry.keys, after.registry.keys
        for lower in sorted(set(before_keys) | set(after_keys)):
            old, new = before_keys.get(lower), after_keys.get(lower)
            if old is None or new is None:
                path = (old or new).path
                changes.append(Change("registry", "added" if old is None else "removed", path))
                continue
            # Last-write times are not compared: they follow the values and
            # subkeys, which are.
            for name in sorted(set(old.values) | set(new.values)):
                ov, nv = old.values.get(name), new.values.get(name)
                if ov is not None and nv is not None and ov.raw == nv.raw:
                    continue
                what = "added" if ov is None else "removed" if nv is None else "changed"
                shown = (ov or nv).name or "@"
                changes.append(Change("registry", what, "%s\\:%s" % (new.path, shown)))
        return changes


@dataclass(frozen=True)
class Allowed:
    """A change that may happen: fnmatch patterns over kind, what and path
    (paths compared case-insensitively), and why."""

    kind: str
    path: str
    why: str
    what: str = "*"

    def matches(self, change: Change) -> bool:
        return (
            fnmatch.fnmatchcase(change.kind, self.kind)
            and fnmatch.fnmatchcase(change.what, self.what)
            and fnmatch.fnmatchcase(change.path.lower(), self.path.lower())
        )


def unexpected(changes: list[Change], allowed: list[Allowed]) -> list[Change]:
    return [c for c in changes if not any(a.matches(c) for a in allowed)]
