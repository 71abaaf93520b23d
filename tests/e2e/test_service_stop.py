"""A filter service that cannot be stopped: the tool reports it, takes its
non-admin exit with exit code -1, and touches nothing."""

from __future__ import annotations

import pytest

from checks import assert_paused_after, assert_requests, event, failure, finish, service_log
from tessel_e2e import product
from tessel_e2e.machine import Plan
from transcript import CANNOT_CONTINUE, EXIT_PROMPT, TELEMETRY_WAIT, assert_transcript, removal, \
    stop_failed, stop_wait


def assert_non_admin_exit(status) -> None:
    # -1 as the full 32-bit exit status; `wine` itself hands on its low 8 bits.
    assert (status.code, status.unix) == (4294967295, 255)


# "ignores-stop" takes the stop request and goes on running; "refuses-stop"
# does not accept it, so the service manager turns the request down (1052).
# Neither is reported by itself: the wait runs out and the state decides.
@pytest.mark.long
@pytest.mark.parametrize("mode, controls", [("ignores-stop", ["control 1"]),
                                            ("refuses-stop", [])], ids=["ignores", "refuses"])
def test_filter_service_that_does_not_stop(new_machine, mode, controls):
    machine = new_machine(Plan.full_installation(mode))
    run = machine.run_tool()
    run.answer("agreement", "A")
    exit_prompt = run.answer("exit", "E", timeout=150)
    status = run.wait(30)

    assert_non_admin_exit(status)
    # 30 pauses of a second, one dot each, and the service is still running.
    assert_transcript(run.output_bytes(), removal(
        stop_wait(dots=30), stop_failed("running", 4), TELEMETRY_WAIT, CANNOT_CONTINUE,
        EXIT_PROMPT))
    requests = machine.requests()
    # The failure's code is the service's state, 4; then the non-admin exit.
    assert_requests(requests, run.output_bytes(),
                    [event("start"), failure("SvcStop", "tslwfs"), event("non-admin-exit")])
    waited = requests[1].received - requests[0].received
    assert 29 <= waited <= 45, "the stop wait took %.1f s" % waited
    assert_paused_after(requests[-1], exit_prompt)
    assert service_log(machine) == ["state 4", *controls]
    assert machine.service_state(product.FILTER_SERVICE) == 4
    finish(machine)  # nothing removed


# Wine's service manager reports these states as the service program sets
# them. A service that leaves the start-pending state for anything but
# running counts as a failed start there, so e2e-service reports running
# first and settles in its state once the start has been answered.
@pytest.mark.parametrize("mode, state, text", [
    ("paused", 7, "paused"),
    ("start-pending", 2, "start pending"),
    ("stop-pending", 3, "stop pending"),
])
def test_filter_service_that_is_not_running_is_not_stopped(new_machine, mode, state, text):
    machine = new_machine(Plan.full_installation(mode))
    run = machine.run_tool()
    run.answer("agreement", "A")
    run.answer("exit", "E")
    status = run.wait(30)

    assert_non_admin_exit(status)
    # No stop request and no wait: the first state is the final one.
    assert_transcript(run.output_bytes(), removal(
        stop_failed(text, state), TELEMETRY_WAIT, CANNOT_CONTINUE, EXIT_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(),
                    [event("start"), failure("SvcStop", "tslwfs"), event("non-admin-exit")])
    assert "control 1" not in service_log(machine)
    assert machine.service_state(product.FILTER_SERVICE) == state
    finish(machine)
