"""scripts/release: what it refuses, leaving nothing behind, and exes that do
not depend on where the commit was checked out.

TESSEL_SKIP_REPRODUCIBILITY=1 skips the test that builds the release twice.
"""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
EXES = ("tessel-cleanup-x86.exe", "tessel-cleanup-x64.exe")


def run(*args, cwd=None, env=None):
    return subprocess.run(args, cwd=cwd, env=env, check=True, capture_output=True, text=True)


@pytest.fixture(scope="module")
def origin(tmp_path_factory):
    """A repository whose one commit is this work tree as it is now."""
    root = tmp_path_factory.mktemp("origin")
    listed = run("git", "ls-files", "-z", "--cached", "--others", "--exclude-standard", cwd=REPO)
    for name in filter(None, listed.stdout.split("\0")):
        source = REPO / name
        if source.is_file():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, root / name)
    env = dict(os.environ, GIT_AUTHOR_DATE="2026-01-02T03:04:05Z",
               GIT_COMMITTER_DATE="2026-01-02T03:04:05Z")
    run("git", "init", "-q", cwd=root)
    run("git", "add", "-A", cwd=root)
    run("git", "-c", "user.name=release test", "-c", "user.email=release@test.invalid",
        "commit", "-q", "-m", "snapshot", cwd=root, env=env)
    return root


def checkout(origin, path):
    run("git", "clone", "-q", str(origin), str(path))
    return path


def release(tree, out, **signing):
    env = {k: v for k, v in os.environ.items() if not k.startswith("SIGN_")}
    env.update({k: str(v) for k, v in signing.items()})
    return subprocess.run([str(tree / "scripts" / "release"), str(out)], env=env,
                          capture_output=True, text=True, timeout=1800)


def make_pfx(directory, name, *, days=30, usage="codeSigning", password="right"):
    """A throwaway self-signed certificate and key as a PKCS#12 file."""
    key, csr, cert = (directory / f"{name}.{ext}" for ext in ("key", "csr", "pem"))
    extensions = directory / f"{name}.ext"
    extensions.write_text(f"extendedKeyUsage={usage}\nkeyUsage=digitalSignature\n")
    run("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
        "-out", str(csr), "-subj", f"/CN=Release test {name}")
    # -days -1 ends the validity a day before it starts: expired from the outset.
    run("openssl", "x509", "-req", "-in", str(csr), "-signkey", str(key), "-days", str(days),
        "-extfile", str(extensions), "-out", str(cert))
    pfx = directory / f"{name}.pfx"
    run("openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(cert), "-out", str(pfx),
        "-passout", f"pass:{password}")
    return pfx


def test_refuses_a_work_tree_with_changes(origin, tmp_path):
    tree = checkout(origin, tmp_path / "tree")
    with open(tree / "run" / "main.cpp", "a") as source:
        source.write("// not committed\n")

    result = release(tree, tmp_path / "out")

    assert result.returncode != 0
    assert "run/main.cpp" in result.stderr and "--not-a-release" in result.stderr
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize("case, cause", [
    ("wrong password", "wrong password"),
    ("expired", "expired"),
    ("no code signing", "not for code signing"),
    ("not a PKCS#12 file", "not a readable PKCS#12 file"),
])
def test_signing_stops_on_an_unusable_certificate(origin, tmp_path, case, cause):
    tree = checkout(origin, tmp_path / "tree")
    password = tmp_path / "password"
    password.write_text("right\n")
    if case == "wrong password":
        pfx = make_pfx(tmp_path, "signer", password="wrong")
    elif case == "expired":
        pfx = make_pfx(tmp_path, "signer", days=-1)
    elif case == "no code signing":
        pfx = make_pfx(tmp_path, "signer", usage="serverAuth")
    else:
        pfx = tmp_path / "signer.pfx"
        pfx.write_text("-----BEGIN CERTIFICATE-----\n")

    result = release(tree, tmp_path / "out", SIGN_PFX=pfx, SIGN_PASSWORD_FILE=password)

    assert result.returncode != 0
    assert cause in result.stderr, result.stderr
    assert "SIGN_PFX" in result.stderr
    assert not (tmp_path / "out").exists()


@pytest.mark.skipif(os.environ.get("TESSEL_SKIP_REPRODUCIBILITY") == "1",
                    reason="TESSEL_SKIP_REPRODUCIBILITY=1")
def test_two_checkouts_at_different_paths_give_the_same_exes(origin, tmp_path):
    first = checkout(origin, tmp_path / "a")
    second = checkout(origin, tmp_path / "elsewhere" / "second-checkout")
    outputs = []
    for tree in (first, second):
        out = tmp_path / f"out-{len(outputs)}"
        result = release(tree, out)
        assert result.returncode == 0, result.stdout[-3000:] + result.stderr
        outputs.append(out)

    run("sha256sum", "--check", "--strict", "SHA256SUMS", cwd=outputs[0])
    for name in EXES + ("SHA256SUMS",):
        assert (outputs[0] / name).read_bytes() == (outputs[1] / name).read_bytes(), name
