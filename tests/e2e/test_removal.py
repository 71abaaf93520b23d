"""Whole runs that get past the agreement: a clean machine, a complete
installation with the restart declined or accepted (also in a console window,
as a person sees and types it), and the cases that decide whether a restart is
offered."""

from __future__ import annotations

import time

import pytest

from checks import (CONSOLE_SETTINGS, TARGETS, WINE_RESTART_RUN_KEY, assert_paused_after,
                    assert_product_gone, assert_requests, done, event, failure, finish,
                    form_encoded, pending_deletions, service_log)
from tessel_e2e import product
from tessel_e2e.console import ConsoleRun, Display, DisplayUnavailable, compiled_locale
from tessel_e2e.machine import PROMPTS, Plan
from transcript import (EVERYTHING_DELETED, EXIT_PROMPT, MANUAL_RESTART, NO_KEYS,
                        NOTHING_ON_DISK, RESTART_PROMPT, TELEMETRY_WAIT, assert_transcript,
                        key_deleted, key_failed, removal, service_absent, service_deleted,
                        service_marked, service_state, stop_wait)


def test_clean_machine(new_machine):
    machine = new_machine(Plan())
    run = machine.run_tool()
    run.answer("agreement", "A")
    exit_prompt = run.answer("exit", "E")
    status = run.wait(30)

    assert (status.code, status.unix) == (0, 0)
    # The stop finds no filter service and says nothing; the product key is
    # deleted quietly, so only the vendor and uninstall keys have a line.
    assert_transcript(run.output_bytes(), removal(
        service_absent("tslwfs"), service_absent("tsld"), NOTHING_ON_DISK, NO_KEYS,
        TELEMETRY_WAIT, EXIT_PROMPT))
    requests = machine.requests()
    assert_requests(requests, run.output_bytes(),
                    [event("start"), done(errors=0, reboot=False)])
    assert_paused_after(requests[-1], exit_prompt)
    finish(machine)


def test_full_installation_with_the_restart_declined(new_machine):
    machine = new_machine(Plan.full_installation())
    run = machine.run_tool()
    run.answer("agreement", "A")
    restart_prompt = run.answer("restart", "N")
    run.answer("exit", "E")
    status = run.wait(30)

    assert (status.code, status.unix) == (0, 0)
    assert_transcript(run.output_bytes(), removal(
        stop_wait(), service_state("stopped"), EVERYTHING_DELETED, TELEMETRY_WAIT,
        RESTART_PROMPT, MANUAL_RESTART, EXIT_PROMPT))
    requests = machine.requests()
    # Deleting the driver service is what makes the restart necessary.
    assert_requests(requests, run.output_bytes(),
                    [event("start"), done(errors=0, reboot=True)])
    assert_paused_after(requests[-1], restart_prompt)
    # The filter service got one stop request and stopped.
    assert service_log(machine) == ["state 4", "control 1", "state 3", "state 1"]
    assert machine.service_state(product.FILTER_SERVICE) is None
    assert machine.service_state(product.DRIVER_SERVICE) is None
    finish(machine, TARGETS)
    assert_product_gone(machine)
    assert pending_deletions(machine) == []


def test_full_installation_with_the_restart_accepted(new_machine):
    machine = new_machine(Plan.full_installation())
    run = machine.run_tool()
    run.answer("agreement", "A")
    run.answer("restart", "Y")
    status = run.wait(60)

    # The restart request is accepted: exit code 1 at once, no exit prompt.
    # Wine then ends the prefix's processes and starts its system anew.
    assert (status.code, status.unix) == (1, 1)
    assert_transcript(run.output_bytes(), removal(
        stop_wait(), service_state("stopped"), EVERYTHING_DELETED, TELEMETRY_WAIT,
        RESTART_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(),
                    [event("start"), done(errors=0, reboot=True)])
    finish(machine, TARGETS, WINE_RESTART_RUN_KEY)
    assert_product_gone(machine)


@pytest.fixture
def display(tmp_path):
    try:
        screen = Display(tmp_path / "xvfb.log")
    except DisplayUnavailable as reason:
        pytest.skip("no X display for a console window: %s" % reason)
    yield screen
    screen.close()


@pytest.mark.long
def test_full_removal_in_a_console_window(new_machine, display, tmp_path):
    # In French, Wine's text for error 5 (the vendor key that still holds
    # another product's key) is not plain ASCII.
    env = {"DISPLAY": display.name, **compiled_locale(tmp_path / "locales")}
    machine = new_machine(Plan.full_installation().key(product.VENDOR_KEY + r"\Sentry"), env=env)
    run = ConsoleRun(machine)
    # Letters typed into another window (Notepad in front) never reach the
    # console's input: the tool keeps waiting, at the agreement and at the
    # restart question; letters typed into its window count.
    for prompt, elsewhere, answer, next_line in (
            ("agreement", "ae", "a", "Waiting for"), ("restart", "y", "n", "Please manually")):
        run.wait_for(PROMPTS[prompt].rstrip("\r\n"))
        run.type_elsewhere(*elsewhere)
        time.sleep(1)
        assert run.proc.poll() is None and next_line not in run.text(), run.text()
        run.answer(prompt, answer)
    run.answer("exit", "e")
    status = run.wait(60)

    assert (status.code, status.unix) == (0, 0)
    # The window's own text once the tool has ended, long lines unwrapped.
    assert_transcript(run.text(), removal(
        stop_wait(in_window=True), service_state("stopped"), EVERYTHING_DELETED[:5],
        key_failed(product.VENDOR_KEY, 5, "Acc\u00e8s refus\u00e9."),
        key_deleted(product.UNINSTALL_KEY), TELEMETRY_WAIT, RESTART_PROMPT, MANUAL_RESTART,
        EXIT_PROMPT))
    assert_requests(machine.requests(), None, [
        event("start"), failure("RegDelete", form_encoded(product.VENDOR_KEY)),
        done(errors=1, reboot=True)])
    finish(machine, TARGETS, CONSOLE_SETTINGS)


def test_only_the_filter_service_installed_needs_no_restart(new_machine):
    machine = new_machine(Plan().filter_service("stops"))
    run = machine.run_tool()
    run.answer("agreement", "A")
    run.answer("exit", "E")
    status = run.wait(30)

    assert (status.code, status.unix) == (0, 0)
    assert_transcript(run.output_bytes(), removal(
        stop_wait(), service_state("stopped"), service_deleted("tslwfs"), service_absent("tsld"),
        NOTHING_ON_DISK, NO_KEYS, TELEMETRY_WAIT, EXIT_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(),
                    [event("start"), done(errors=0, reboot=False)])
    finish(machine, TARGETS)
    assert_product_gone(machine)


@pytest.mark.parametrize("marked", [("tslwfs",), ("tslwfs", "tsld")], ids=["filter", "both"])
def test_services_already_marked_for_deletion_need_a_restart(new_machine, marked):
    # An earlier removal deleted the services and no restart followed: another
    # process still holds them, so they are only marked for deletion. The
    # filter service is stopped, so the tool goes on to the deletions.
    plan = Plan().filter_service(None)
    if "tsld" in marked:
        plan.driver_service()
    machine = new_machine(plan.mark_for_deletion(*marked))
    run = machine.run_tool()
    run.answer("agreement", "A")
    run.answer("restart", "N")
    run.answer("exit", "E")
    status = run.wait(30)

    assert (status.code, status.unix) == (0, 0)
    driver_line = service_marked("tsld") if "tsld" in marked else service_absent("tsld")
    assert_transcript(run.output_bytes(), removal(
        service_state("stopped"), service_marked("tslwfs"), driver_line, NOTHING_ON_DISK,
        NO_KEYS, TELEMETRY_WAIT, RESTART_PROMPT, MANUAL_RESTART, EXIT_PROMPT))
    # Already marked counts as done: no failure, but a restart is pending.
    assert_requests(machine.requests(), run.output_bytes(),
                    [event("start"), done(errors=0, reboot=True)])
    # Still there until the process holding them lets go (or the restart).
    for name in marked:
        assert machine.service_state(name) == 1
    finish(machine, TARGETS)
