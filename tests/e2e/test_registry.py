"""Registry keys that cannot be deleted: the vendor key shared with another
product, and a product key with subkeys of its own."""

from __future__ import annotations

from checks import TARGETS, assert_requests, done, event, failure, finish, form_encoded
from tessel_e2e import product
from tessel_e2e.machine import Plan
from transcript import (EXIT_PROMPT, NOTHING_ON_DISK, TELEMETRY_WAIT, assert_transcript,
                        key_deleted, key_failed, removal, service_absent)

NO_SERVICES = [service_absent("tslwfs"), service_absent("tsld")]
OTHER_PRODUCT = product.VENDOR_KEY + r"\Sentry"
PRODUCT_SETTINGS = product.PRODUCT_KEY + r"\Settings"


def run_to_the_end(machine):
    run = machine.run_tool()
    run.answer("agreement", "A")
    run.answer("exit", "E")
    status = run.wait(60)
    assert (status.code, status.unix) == (0, 0)  # failures never change the exit code
    return run


def test_vendor_key_holding_another_product_stays(new_machine):
    machine = new_machine(Plan().product_keys().key(OTHER_PRODUCT, Version="2.0"))
    run = run_to_the_end(machine)

    # A key with subkeys cannot be deleted: access denied, 5.
    assert_transcript(run.output_bytes(), removal(
        NO_SERVICES, NOTHING_ON_DISK, key_failed(product.VENDOR_KEY, 5),
        key_deleted(product.UNINSTALL_KEY), TELEMETRY_WAIT, EXIT_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(), [
        event("start"), failure("RegDelete", form_encoded(product.VENDOR_KEY)),
        done(errors=1, reboot=False)])
    finish(machine, TARGETS)
    registry = machine.after.registry
    assert not registry.has_key("HKLM\\" + product.PRODUCT_KEY)
    assert not registry.has_key("HKLM\\" + product.UNINSTALL_KEY)
    subkeys = registry.subkeys("HKLM\\" + product.VENDOR_KEY)
    assert [key.lower() for key in subkeys] == [("HKLM\\" + OTHER_PRODUCT).lower()]
    assert registry.value("HKLM\\" + OTHER_PRODUCT, "Version") == "2.0"


def test_product_key_with_subkeys_fails_twice(new_machine):
    machine = new_machine(Plan().product_keys().key(PRODUCT_SETTINGS, Mode="strict"))
    run = run_to_the_end(machine)

    # The product key's failure shows although that deletion is quiet, and the
    # vendor key then still holds the product key.
    assert_transcript(run.output_bytes(), removal(
        NO_SERVICES, NOTHING_ON_DISK, key_failed(product.PRODUCT_KEY, 5),
        key_failed(product.VENDOR_KEY, 5), key_deleted(product.UNINSTALL_KEY), TELEMETRY_WAIT,
        EXIT_PROMPT))
    assert_requests(machine.requests(), run.output_bytes(), [
        event("start"), failure("RegDelete", form_encoded(product.PRODUCT_KEY)),
        failure("RegDelete", form_encoded(product.VENDOR_KEY)), done(errors=2, reboot=False)])
    finish(machine, TARGETS)
    registry = machine.after.registry
    assert registry.value("HKLM\\" + PRODUCT_SETTINGS, "Mode") == "strict"
    assert registry.value("HKLM\\" + product.PRODUCT_KEY, "Version") == "4.7.1"
    assert not registry.has_key("HKLM\\" + product.UNINSTALL_KEY)
