"""Telemetry that is not delivered never changes the run: a redirect, a
server error, a server that does not answer, no proxy at all."""

from __future__ import annotations

import pytest

from checks import assert_requests, done, event, finish
from tessel_e2e.machine import Plan
from transcript import (EXIT_PROMPT, NO_KEYS, NOTHING_ON_DISK, TELEMETRY_WAIT, assert_transcript,
                        removal, service_absent)

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
# What one exchange may hold the run, from its start.
EXCHANGE_DEADLINE = 15.0


@pytest.mark.long
def test_server_that_does_not_answer(new_machine):
    # Wine's WinINet applies none of the tool's time-outs here (measured: it
    # waits as long as the server holds the connection), so the tool gives up
    # on each exchange at its deadline; on Windows the 10-second receive
    # time-out may end it first. Either way the run goes on as if the event
    # had been delivered, and nothing left behind writes to the console.
    machine = new_machine(Plan(), collector_hold=HOLD)
    run, agreement_prompt = run_clean_machine(machine)
    requests = machine.requests()
    assert_requests(requests, run.output_bytes(),
                    [event("start"), done(errors=0, reboot=False)])
    waited = agreement_prompt - requests[0].received
    assert EXCHANGE_DEADLINE - 1.5 <= waited <= EXCHANGE_DEADLINE + 1, (
        "the start event held the run %.1f s" % waited)
    finish(machine)


def test_no_proxy_and_no_network(new_machine):
    # Without the proxy setting WinINet goes to the telemetry host itself, and
    # the machine's only network is loopback: every send fails at once.
    machine = new_machine(Plan().without_proxy())
    run_clean_machine(machine)
    assert machine.requests() == []
    finish(machine)
