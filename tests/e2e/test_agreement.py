"""The agreement prompt: declining it, and showing the agreement page."""

from __future__ import annotations

import os
import re
import time

from checks import AGREEMENT_PAGE, RUN_ID, assert_requests, event, finish
from tessel_e2e import product
from tessel_e2e.machine import PROMPTS, Plan
from tessel_e2e.pe import read_resource
from tessel_e2e.snapshot import Allowed
from transcript import AGREEMENT_PROMPT, BANNER, PAGE_WHERE, assert_transcript


def test_declining_the_agreement_leaves_the_installation_untouched(new_machine):
    machine = new_machine(Plan.full_installation())
    run = machine.run_tool()
    # A line pasted into the terminal (written in one go) and keypad 5 (ESC [ E,
    # characters without key codes to Wine) answer nothing; 'e' after them declines.
    run.wait_for(PROMPTS["agreement"])
    for keys in ("Tracking number 4471", "\x1b[E"):
        run.press(keys)
        time.sleep(1.5)
        assert run.proc.poll() is None, "%r answered the agreement" % keys
    run.press("e")
    status = run.wait(30)

    assert (status.code, status.unix) == (2, 2)
    assert_transcript(run.output_bytes(), [BANNER, AGREEMENT_PROMPT])
    # The start event goes out before the prompt is shown, and is the only one.
    assert_requests(machine.requests(), run.output_bytes(), [event("start")])
    assert machine.service_state(product.FILTER_SERVICE) == 4
    assert machine.service_state(product.DRIVER_SERVICE) == 1
    # Ctrl+C typed into its terminal ends it at once, with the exit code
    # Windows' own handling gives (STATUS_CONTROL_C_EXIT; Wine's own gives 0).
    run = machine.run_tool()
    run.wait_for(PROMPTS["agreement"])
    run.press("\x03")
    assert run.wait(10).code == 0xC000013A
    assert_transcript(run.output_bytes(), [BANNER, AGREEMENT_PROMPT])
    finish(machine)  # nothing of the product may change
    log = machine.prefix.unix_path(product.RUN_DIR + r"\tslwfs.log").read_text()
    assert "control 1\n" not in log, "the filter service was asked to stop"


def test_agreement_page_is_written_to_temp_and_never_opened_by_the_tool(new_machine, tool_exe):
    page_resource = read_resource(tool_exe.read_bytes(), product.PAGE_RESOURCE_TYPE,
                                  product.PAGE_RESOURCE_ID)
    assert list(page_resource) == [1033], "the page is an English (US) resource"
    page_bytes = page_resource[1033]
    assert b"\n" not in page_bytes and b"\r" not in page_bytes and b"\0" not in page_bytes

    machine = new_machine(Plan())
    page_path = machine.temp_dir + "\\" + product.AGREEMENT_PAGE_NAME
    page = machine.prefix.unix_path(page_path)
    opened_log = machine.prefix.unix_path(product.RUN_DIR + r"\opened.log")
    run_ids = []

    # A hard link at the page's name to a file under C:\windows, as any
    # program of the user could plant it: the link goes as a name, the file
    # it shares stays as it was, and the page is a new file of its own.
    system_file = machine.prefix.unix_path(r"C:\windows\win.ini")
    system_bytes = system_file.read_bytes()
    os.link(system_file, page)

    def show_then_decline(**run_args):
        run = machine.run_tool(**run_args)
        run.answer("agreement", "D")
        # Apart, as a person types them: keys typed together count for nothing.
        time.sleep(1)
        run.answer("agreement", "E")
        assert run.wait(30).code == 2
        # e2e-record, the HTML handler here in place of a browser, never runs.
        assert not opened_log.exists(), opened_log.read_text()
        return run

    # 'D', then 'E', started detached: keys from the keyboard state, each held
    # for several passes. Without a desktop shell (Wine), the page is named, once.
    run = show_then_decline(keys="detached")
    assert page.read_bytes() == page_bytes
    assert system_file.read_bytes() == system_bytes
    assert not os.path.samefile(system_file, page)
    # Nothing else is printed for the page: the prompt is not written again.
    assert_transcript(run.output_bytes(), [BANNER, AGREEMENT_PROMPT, PAGE_WHERE + page_path + "\n"])
    run_ids.append(assert_requests(machine.requests(), run.output_bytes(), [event("start")]))

    # Without TEMP nothing is written or opened, and the prompt keeps waiting.
    page.unlink()
    run = show_then_decline(env_unset=["TEMP"], keys="detached")
    assert not page.exists() and not opened_log.exists()
    assert_transcript(run.output_bytes(), [BANNER, AGREEMENT_PROMPT])

    # A trailing backslash on TEMP: the same directory.
    show_then_decline(env_set={"TEMP": machine.temp_dir + "\\"}, keys="detached")
    assert page.read_bytes() == page_bytes

    # TEMP through the object manager's namespace, or as a device path, to the
    # same directory: refused, so the hard link at the page's name stays and
    # nothing opens. (Wine resolves no file below \\?\GLOBALROOT (2); it
    # does resolve \\.\C:\....)
    page.unlink()
    os.link(system_file, page)
    for prefix in ("\\\\?\\GLOBALROOT\\??\\", "\\\\.\\"):
        show_then_decline(env_set={"TEMP": prefix + machine.temp_dir})
        time.sleep(1)
        assert os.path.samefile(system_file, page) and not opened_log.exists(), prefix

    # TEMP at the root of a second drive letter, which Wine maps to a
    # directory of C: (to Wine a volume of its own, not C:'s). Wine's mount
    # manager learns of a new letter only as the prefix starts: until then the
    # letter's paths open, but their final paths cannot be had (2).
    second = machine.prefix.path / "drive_c" / "second-drive"
    second.mkdir()
    machine.prefix.stop_server()
    (machine.prefix.path / "dosdevices" / "t:").symlink_to("../drive_c/second-drive")
    machine.prefix.start_server()
    show_then_decline(env_set={"TEMP": "T:\\"})
    assert (second / product.AGREEMENT_PAGE_NAME).read_bytes() == page_bytes

    # Six runs, six start events, six different run identifiers.
    requests = machine.requests()
    assert len(requests) == 6
    ids = [re.search(r"&build=([^&]*)&", r.body.decode()).group(1) for r in requests]
    assert all(RUN_ID.fullmatch(i) for i in ids) and len(set(ids)) == 6, ids
    assert ids[0] == run_ids[0]
    finish(machine, AGREEMENT_PAGE,
           Allowed("file", "dosdevices/t:", "the second drive letter", "added"),
           Allowed("file", "drive_c/second-drive*", "the second drive, and the page", "added"))
