"""Runs tessel-cleanup.exe under Wine on a staged machine and watches it.

Shared by the end-to-end tests (tests/e2e) and the demo (scripts/demo).
"""
