"""The driver file and the two directories: the native system directory
versus its 32-bit view, and items in use that are deleted at the next boot."""

from __future__ import annotations

import os

from checks import (PENDING_RENAMES, TARGETS, assert_requests, done, event, finish,
                    pending_deletions)
from tessel_e2e import product
from tessel_e2e.machine import Plan
from transcript import (EXIT_PROMPT, NO_KEYS, NOTHING_ON_DISK, TELEMETRY_WAIT, assert_transcript,
                        path_absent, path_deferred, path_deleted, removal, service_absent)

NO_SERVICES = [service_absent("tslwfs"), service_absent("tsld")]


def run_to_the_end(machine):
    run = machine.run_tool()
    run.answer("agreement", "A")
    run.answer("exit", "E")
    status = run.wait(30)
    assert (status.code, status.unix) == (0, 0)
    return run


def test_only_the_native_driver_file_is_deleted(new_machine):
    # The tool is a 32-bit program: without switching redirection off it would
    # see (and delete) the copy in the 32-bit view instead.
    machine = new_machine(Plan().driver_file(native=True, wow64=True))
    run = run_to_the_end(machine)

    assert_transcript(run.output_bytes(), removal(
        NO_SERVICES, path_deleted("File", product.DRIVER_FILE), NOTHING_ON_DISK[1:], NO_KEYS,
        TELEMETRY_WAIT, EXIT_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(),
                    [event("start"), done(errors=0, reboot=False)])
    finish(machine, TARGETS)
    assert not machine.exists(product.DRIVER_FILE)
    assert machine.prefix.unix_path(product.DRIVER_FILE_WOW64).read_bytes() == \
        b"MZ tsld driver (32-bit view)\n"


def test_what_lies_only_in_the_32bit_views_is_left_alone(new_machine):
    # The driver file in SysWOW64 and the three keys under Wow6432Node are not
    # the product's: the tool looks at the native views only.
    machine = new_machine(Plan().driver_file(native=False, wow64=True).product_keys(view=32))
    run = run_to_the_end(machine)

    assert_transcript(run.output_bytes(), removal(
        NO_SERVICES, NOTHING_ON_DISK, NO_KEYS, TELEMETRY_WAIT, EXIT_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(),
                    [event("start"), done(errors=0, reboot=False)])
    finish(machine)  # nothing at all changes
    assert machine.exists(product.DRIVER_FILE_WOW64)
    registry = machine.after.registry
    for key in (product.PRODUCT_KEY, product.UNINSTALL_KEY):
        assert registry.has_key("HKLM\\" + product.wow64_key(key))


def test_driver_file_in_use_is_deleted_at_the_next_boot(new_machine):
    machine = new_machine(
        Plan().driver_file(native=True, wow64=True).hold(product.DRIVER_FILE))
    run = run_to_the_end(machine)

    # Put off, not failed: no error, and no restart offered for it.
    assert_transcript(run.output_bytes(), removal(
        NO_SERVICES, path_deferred("File", product.DRIVER_FILE), NOTHING_ON_DISK[1:], NO_KEYS,
        TELEMETRY_WAIT, EXIT_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(),
                    [event("start"), done(errors=0, reboot=False)])
    finish(machine, PENDING_RENAMES)
    assert pending_deletions(machine) == [product.DRIVER_FILE]
    assert machine.exists(product.DRIVER_FILE)

    # The boot deletes the native file, the one that was scheduled.
    machine.reboot()
    assert not machine.exists(product.DRIVER_FILE)
    assert machine.exists(product.DRIVER_FILE_WOW64)
    assert pending_deletions(machine) == []


def test_directory_holding_a_file_in_use_is_deleted_at_the_next_boot(new_machine):
    held = product.INSTALL_DIR + r"\driver\tsld.cat"
    machine = new_machine(Plan().install_dir().start_menu_dir().hold(held))
    run = run_to_the_end(machine)

    assert_transcript(run.output_bytes(), removal(
        NO_SERVICES, path_absent("File", product.DRIVER_FILE),
        path_deferred("Directory", product.INSTALL_DIR),
        path_deleted("Directory", product.START_MENU_DIR), NO_KEYS, TELEMETRY_WAIT, EXIT_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(),
                    [event("start"), done(errors=0, reboot=False)])
    finish(machine, TARGETS, PENDING_RENAMES)

    # The shell deleted part of the tree; everything left of it is scheduled,
    # each item before the directory that holds it, the directory itself last.
    # (Windows removes a directory at boot only once it is empty.)
    root = machine.prefix.unix_path(product.INSTALL_DIR)
    left = set()
    for directory, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            relative = os.path.relpath(os.path.join(directory, name), root)
            left.add(product.INSTALL_DIR + "\\" + relative.replace("/", "\\"))
    assert held in left
    scheduled = pending_deletions(machine)
    assert scheduled[-1] == product.INSTALL_DIR
    assert set(scheduled[:-1]) == left and len(scheduled) == len(left) + 1, scheduled
    for position, path in enumerate(scheduled):
        parent = path.rsplit("\\", 1)[0]
        if parent in left:
            assert scheduled.index(parent) > position, "%s before its content" % parent

    machine.reboot()
    assert not machine.exists(product.INSTALL_DIR)
    assert pending_deletions(machine) == []


def test_read_only_driver_file_is_deleted(new_machine):
    # Wine's shell refuses to delete a read-only file named directly (5);
    # Windows' shell deletes it when told not to ask. The tool deletes the
    # file with plain calls, clearing the attribute first, as Windows' shell
    # would, so that nothing loads a DLL while redirection is off.
    machine = new_machine(Plan().driver_file().make_read_only(product.DRIVER_FILE))
    run = run_to_the_end(machine)

    assert_transcript(run.output_bytes(), removal(
        NO_SERVICES, path_deleted("File", product.DRIVER_FILE), NOTHING_ON_DISK[1:], NO_KEYS,
        TELEMETRY_WAIT, EXIT_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(),
                    [event("start"), done(errors=0, reboot=False)])
    finish(machine, TARGETS)
    assert not machine.exists(product.DRIVER_FILE)
