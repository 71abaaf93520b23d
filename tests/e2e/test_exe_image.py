"""The exe under test as a file: what Windows reads before it runs a line of
it. These need no Wine, so they also inspect the 32-bit exe on a machine that
cannot run it (`-m image --exe x86`)."""

from __future__ import annotations

import re

import pytest

from tessel_e2e import product
from tessel_e2e.pe import imported_dlls, machine_of, read_resource, version_value

pytestmark = pytest.mark.image

RT_MANIFEST = 24
ENGLISH_US = 1033
BITS = {"x86": "32-bit", "x64": "64-bit"}
MANIFEST_ARCH = {"x86": "x86", "x64": "amd64"}
# Windows 10's KnownDLLs: always loaded from the system directory. Any other
# DLL is looked for beside the exe first, where a planted one would run with
# the tool's rights.
KNOWN_DLLS = {name + ".dll" for name in ("advapi32", "combase", "comdlg32", "gdi32", "kernel32",
              "msvcrt", "ole32", "oleaut32", "rpcrt4", "shell32", "shlwapi", "user32")}


@pytest.fixture(scope="module")
def image(tool_exe) -> bytes:
    return tool_exe.read_bytes()


@pytest.fixture(scope="module")
def arch(request) -> str:
    return request.config.getoption("--exe")


def test_it_is_built_for_its_processor(image, arch):
    assert machine_of(image) == arch


def test_it_imports_only_known_dlls(image):
    imported = {name.lower() for name in imported_dlls(image)}
    assert "kernel32.dll" in imported and imported <= KNOWN_DLLS, imported


def test_it_is_at_most_280_kib(image):
    assert len(image) <= product.MAX_EXE_BYTES, len(image)


def test_the_manifest_asks_for_an_administrator_on_its_processor(image, arch):
    (manifest,) = read_resource(image, RT_MANIFEST, 1).values()
    text = manifest.decode("utf-8")
    assert re.search(r'<requestedExecutionLevel level="requireAdministrator" '
                     r'uiAccess="false"/>', text)
    assert 'processorArchitecture="%s"' % MANIFEST_ARCH[arch] in text


def test_the_version_says_which_build_it_is(image, arch, tool_exe):
    description = "Tessel Web Protection Removal Tool (%s)" % BITS[arch]
    assert version_value(image, "FileDescription") == description
    # The version the build made for the code, which the scenarios expect.
    generated = (tool_exe.parent / "generated" / "tessel-version.h").read_text()
    built = re.search(r'kText\[\] = L"([^"]*)"', generated).group(1)
    assert version_value(image, "ProductVersion") == built == product.VERSION


def test_it_carries_the_agreement_page_as_built(image, tool_exe):
    page = read_resource(image, product.PAGE_RESOURCE_TYPE, product.PAGE_RESOURCE_ID)
    built = (tool_exe.parent / "resources" / "eula.single-line.html").read_bytes()
    assert page == {ENGLISH_US: built}
    assert b"<html" in built and b"\n" not in built
