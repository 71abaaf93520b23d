"""Telemetry that is not delivered never changes the run: a redirect, a
server error, a server that takes the request and never answers (the run does
not even wait for it), no proxy at all; a late answer only delays the events
behind it."""

from __future__ import annotations

import time

import pytest

from checks import (TARGETS, assert_product_gone, assert_requests, done, event, failure, finish,
                    form_encoded)
from tessel_e2e import product
from tessel_e2e.machine import PROMPTS, Plan
from transcript import (EVERYTHING_DELETED, EXIT_PROMPT, MANUAL_RESTART, NO_KEYS, NOTHING_ON_DISK,
                        RESTART_PROMPT, TELEMETRY_WAIT, assert_transcript, removal,
                        service_absent, service_state, stop_wait)

CLEAN_RUN = removal(service_absent("tslwfs"), service_absent("tsld"), NOTHING_ON_DISK, NO_KEYS,
                    TELEMETRY_WAIT, EXIT_PROMPT)


def run_clean_machine(machine):
    run = machine.run_tool()
    agreement_prompt = run.answer("agreement", "A", timeout=60)
    run.answer("exit", "E", timeout=90)
    status = run.wait(60)
    assert (status.code, status.unix) == (0, 0)
    assert_transcript(run.output_bytes(), CLEAN_RUN)
    return run, agreement_prompt


@pytest.mark.parametrize("status", [201, 302, 404, 500])
def test_any_answer_of_the_server_leaves_the_run_unchanged(new_machine, status):
    machine = new_machine(Plan(), collector_status=status)
    run, _ = run_clean_machine(machine)
    # One request per event: a redirect is not followed (it would come through
    # the proxy as a request for its Location), nothing is sent twice.
    assert_requests(machine.requests(), run.output_bytes(),
                    [event("start"), done(errors=0, reboot=False)])
    finish(machine)


# Longer than the whole scenario: a collector that takes each request and
# never answers.
HOLD = 600.0


@pytest.mark.long
def test_server_that_does_not_answer(new_machine):
    # Wine's WinINet applies none of the tool's time-outs here (measured: it
    # waits as long as the server holds the connection), so the start event's
    # exchange is cancelled 14 s in and never returns. The run never waits for
    # it: the prompt follows the banner, the removal and its pause take what
    # they take with any collector, and the tool ends right after 'E'. The
    # done event waits behind it and is lost when the tool ends.
    machine = new_machine(Plan.full_installation(), collector_hold=HOLD)
    run = machine.run_tool()
    run.answer("agreement", "A", timeout=60)
    agreement_seen = run.seen[PROMPTS["agreement"]]
    assert agreement_seen < 5, "the prompt came %.1f s after the start" % agreement_seen
    run.answer("restart", "N", timeout=60)
    removal_and_pause = run.seen[PROMPTS["restart"]] - agreement_seen
    assert removal_and_pause < 30 + 10, "'A' to the question took %.1f s" % removal_and_pause
    run.answer("exit", "E", timeout=30)
    pressed = time.monotonic()
    status = run.wait(30)
    ended = time.monotonic() - pressed
    assert (status.code, status.unix) == (0, 0)
    assert ended < 5, "the tool ended %.1f s after 'E'" % ended
    assert_transcript(run.output_bytes(), removal(
        stop_wait(), service_state("stopped"), EVERYTHING_DELETED, TELEMETRY_WAIT,
        RESTART_PROMPT, MANUAL_RESTART, EXIT_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(), [event("start")])
    finish(machine, TARGETS)
    assert_product_gone(machine)


@pytest.mark.long
def test_late_first_answer_delays_the_events_behind_it(new_machine):
    # The start event's exchange is cancelled 14 s in, and Wine's WinINet
    # waits for the answer regardless of the receive time-out: the error and
    # done events, handed over meanwhile, follow in order once it has come.
    machine = new_machine(Plan().product_keys().key(product.VENDOR_KEY + r"\Sentry"),
                          collector_first_late=20)
    run = machine.run_tool()
    run.answer("agreement", "A", timeout=60)
    run.answer("exit", "E", timeout=90)
    assert run.wait(60).code == 0
    requests = machine.requests()
    assert_requests(requests, run.output_bytes(), [
        event("start"), failure("RegDelete", form_encoded(product.VENDOR_KEY)),
        done(errors=1, reboot=False)])
    assert requests[1].received - requests[0].received >= 20
    finish(machine, TARGETS)


def test_no_proxy_and_no_network(new_machine):
    # Without the proxy setting WinINet goes to the telemetry host itself, and
    # the machine's only network is loopback: every send fails at once.
    machine = new_machine(Plan().without_proxy())
    run_clean_machine(machine)
    assert machine.requests() == []
    finish(machine)
