"""scripts/release: refusals leave OUT empty; two checkouts give the same exes.
TESSEL_SKIP_REPRODUCIBILITY=1 skips the test that builds the release twice."""
import os
import shutil
import subprocess
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]


def sh(*args, cwd=None):
    return subprocess.run([str(a) for a in args], cwd=cwd, check=True, capture_output=True, text=True)


@pytest.fixture(scope="module")
def origin(tmp_path_factory):
    """A repository whose one commit is this work tree as it is now."""
    root = tmp_path_factory.mktemp("origin") / "repo"
    skipped = shutil.ignore_patterns(".git", "build", ".cache", "__pycache__", ".pytest_cache")
    shutil.copytree(REPO, root, ignore=skipped)
    sh("git", "init", "-q", cwd=root)
    sh("git", "add", "-A", cwd=root)
    sh("git", "-c", "user.name=t", "-c", "user.email=t@t.invalid", "commit", "-qm", "snapshot", cwd=root)
    return root


def release(origin, tree, out, dirty=False, **signing):
    sh("git", "clone", "-q", origin, tree)
    if dirty:
        with open(tree / "run" / "main.cpp", "a") as source:
            source.write("// not committed\n")
    env = {k: v for k, v in os.environ.items() if not k.startswith("SIGN_")}
    env.update({k: str(v) for k, v in signing.items()})
    return subprocess.run([tree / "scripts" / "release", out], env=env, capture_output=True, text=True)


def make_pfx(d, days, usage, password):
    """A throwaway self-signed certificate; -days -1 makes it expired from the start."""
    (d / "ext").write_text(f"extendedKeyUsage={usage}\n")
    sh("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", d / "key", "-out", d / "csr",
       "-subj", "/CN=release test")
    sh("openssl", "x509", "-req", "-in", d / "csr", "-signkey", d / "key", "-days", days,
       "-extfile", d / "ext", "-out", d / "cert")
    sh("openssl", "pkcs12", "-export", "-inkey", d / "key", "-in", d / "cert", "-out", d / "signer.pfx",
       "-passout", f"pass:{password}")


@pytest.mark.parametrize("case, cause", [
    ("changes", "--not-a-release"), ("wrong password", "wrong password"), ("expired", "expired"),
    ("serverAuth", "not for code signing"), ("garbage", "not a readable PKCS#12 file")])
def test_refuses_and_leaves_nothing_in_out(origin, tmp_path, case, cause):
    (tmp_path / "password").write_text("right\n")
    if case == "garbage":
        (tmp_path / "signer.pfx").write_text("not PKCS#12\n")
    elif case != "changes":
        usage = "serverAuth" if case == "serverAuth" else "codeSigning"
        make_pfx(tmp_path, -1 if case == "expired" else 30, usage, "wrong" if case == "wrong password" else "right")
    signing = {} if case == "changes" else {"SIGN_PFX": tmp_path / "signer.pfx",
                                            "SIGN_PASSWORD_FILE": tmp_path / "password"}
    result = release(origin, tmp_path / "tree", tmp_path / "out", case == "changes", **signing)
    assert result.returncode != 0 and cause in result.stderr, result.stderr
    assert not (tmp_path / "out").exists()


@pytest.mark.skipif(os.environ.get("TESSEL_SKIP_REPRODUCIBILITY") == "1", reason="TESSEL_SKIP_REPRODUCIBILITY=1")
def test_two_checkouts_at_different_paths_give_the_same_exes(origin, tmp_path):
    outs = [tmp_path / "out-a", tmp_path / "out-b"]
    # Side by side: each build leaves a processor idle while it configures and links.
    with ThreadPoolExecutor(2) as pool:
        results = list(pool.map(release, [origin] * 2, (tmp_path / "a", tmp_path / "elsewhere" / "b"), outs))
    for result in results:
        assert result.returncode == 0, result.stderr
    sh("sha256sum", "--check", "--strict", "SHA256SUMS", cwd=outs[0])
    for name in ("tessel-cleanup-x86.exe", "tessel-cleanup-x64.exe", "SHA256SUMS"):
        assert (outs[0] / name).read_bytes() == (outs[1] / name).read_bytes(), name
