"""scripts/bootstrap against stand-ins for apt-get, dpkg-query and friends.

The stand-ins report every package missing, record what they are asked, and
serve apt-get update the way a mirror in the middle of a sync does: the first
update fails outright, every later one fetches some lists and fails on the
i386 one. Packages named in STANDIN_BROKEN cannot be installed.
"""
import os
import shutil
import stat
import subprocess
import sys
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("VORN_SOURCE_DIR", Path(__file__).resolve().parents[2]))

STANDINS = {
    "apt-get": r"""#!/bin/bash
echo "apt-get $*" >> "$STANDIN_LOG"
if [ "$1" = update ]; then
  n=$(cat "$STANDIN_DIR/updates" 2>/dev/null || echo 0); n=$((n + 1)); echo $n > "$STANDIN_DIR/updates"
  if [ "$n" -eq 1 ] || [ -n "${STANDIN_UPDATE_DOWN:-}" ]; then
    echo "Err:1 http://mirror.invalid/debian bookworm InRelease"
    echo "  Temporary failure resolving 'mirror.invalid'"
    echo "W: Failed to fetch http://mirror.invalid/debian/dists/bookworm/InRelease  Temporary failure resolving 'mirror.invalid'"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100
  fi
  echo "Get:1 http://mirror.invalid/debian bookworm InRelease [151 kB]"
  echo "Get:2 http://mirror.invalid/debian-security bookworm-security InRelease [34.8 kB]"
  echo "Ign:3 http://mirror.invalid/debian-security bookworm-security/main i386 Packages"
  echo "Get:3 http://mirror.invalid/debian-security bookworm-security/main i386 Packages [376 kB]"
  echo "Err:3 http://mirror.invalid/debian-security bookworm-security/main i386 Packages"
  echo "  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
  echo "E: Failed to fetch http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100
fi
if [ "$1" = install ]; then
  broken=""
  for a in "$@"; do
    case " ${STANDIN_BROKEN:-} " in *" $a "*) broken="$broken $a" ;; esac
  done
  if [ -n "$broken" ]; then
    echo "Some packages could not be installed. This may mean that you have"
    echo "The following packages have unmet dependencies:"
    for b in $broken; do
      echo " libother:i386 : Depends: zlib1g:i386 (>= 1:1.2.2) but it is not going to be installed"
      echo " $b : Depends: lib${b%%:*}-core (= 9.9) but 9.8 is to be installed"
      echo "       Depends: libextra (>= 1) but it is not going to be installed"
    done
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100
  fi
  exit 0
fi
exit 0
""",
    "dpkg-query": r"""#!/bin/bash
echo "dpkg-query $*" >> "$STANDIN_LOG"
if [ -n "${STANDIN_ALL_INSTALLED:-}" ]; then printf 'install ok installed'; exit 0; fi
echo "dpkg-query: no packages found matching ${*: -1}" >&2
exit 1
""",
    "dpkg": r"""#!/bin/bash
echo "dpkg $*" >> "$STANDIN_LOG"
exit 0
""",
    "sudo": r"""#!/bin/bash
exec "$@"
""",
    "sleep": r"""#!/bin/bash
echo "sleep $*" >> "$STANDIN_LOG"
""",
    "locale": r"""#!/bin/bash
echo de_DE.utf8
""",
    "npm": r"""#!/bin/bash
echo "npm $* in $PWD" >> "$STANDIN_LOG"
mkdir -p node_modules && echo '{}' > node_modules/.package-lock.json
""",
}


@pytest.fixture
def sandbox(tmp_path):
    """A copy of the bootstrap in its own tree, and a PATH with the stand-ins first."""
    root = tmp_path / "tree"
    (root / "scripts").mkdir(parents=True)
    shutil.copy(SOURCE / "scripts" / "bootstrap", root / "scripts" / "bootstrap")
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    for name, text in STANDINS.items():
        path = bin_dir / name
        path.write_text(text)
        path.chmod(path.stat().st_mode | stat.S_IXUSR)
    log = tmp_path / "calls.log"
    log.touch()

    class Sandbox:
        def __init__(self):
            self.root = root
            self.log = log

        def run(self, *args, **env_extra):
            env = {k: v for k, v in os.environ.items() if not k.startswith("STANDIN_")}
            env.update(PATH=f"{bin_dir}:{os.environ['PATH']}", STANDIN_LOG=str(log),
                       STANDIN_DIR=str(tmp_path), VORN_APT_PAUSE="7", **env_extra)
            return subprocess.run(["bash", str(root / "scripts" / "bootstrap"), *args], env=env,
                                  capture_output=True, text=True, timeout=120)

        def calls(self, prefix=""):
            return [c for c in log.read_text().splitlines() if c.startswith(prefix)]

        def installs(self):
            """Packages of the real (not simulated) apt-get install calls, per call."""
            return [c.split()[2:] for c in self.calls("apt-get install") if " -s " not in f" {c} "]

    return Sandbox()


def requested(calls):
    return {a for call in calls for a in call if not a.startswith("-")}


def test_demo_asks_for_the_native_build_only_and_rides_out_a_mirror_in_sync(sandbox):
    r = sandbox.run("demo")
    assert r.returncode == 0, r.stdout + r.stderr
    asked = requested(sandbox.installs())
    assert {"cmake", "g++", "libsimpleini-dev", "libicu-dev", "libudev-dev", "libedf-dev", "libboost-dev"} <= asked
    assert not asked & {"npm", "python3-numpy", "lintian", "libgtest-dev"}
    for pkg in asked:
        assert "wine" not in pkg and "mingw" not in pkg and ":i386" not in pkg, pkg
    assert not any("--add-architecture" in c for c in sandbox.calls("dpkg "))
    # Failed outright once, paused, then fetched part of the lists: no third try.
    updates = sandbox.calls("apt-get update")
    assert len(updates) == 2
    log = sandbox.calls()
    assert log.index("sleep 7") < [i for i, c in enumerate(log) if c.startswith("apt-get update")][1]
    assert "trying again in 7s" in r.stdout
    assert "some package lists were not fetched" in r.stdout
    assert "Mirror sync in progress?" in r.stdout and "[IP:" not in r.stdout
    assert len(sandbox.installs()) == 1
    assert not sandbox.calls("npm")
    assert r.stdout.rstrip().endswith("bootstrap: ready")


def test_test_set_adds_i386_for_wine32_and_the_rest_of_the_tools(sandbox):
    web = sandbox.root / "tools" / "vornctl" / "web"
    web.mkdir(parents=True)
    (web / "package.json").write_text('{"name": "web", "dependencies": {}}\n')
    r = sandbox.run("test")
    assert r.returncode == 0, r.stdout + r.stderr
    asked = requested(sandbox.installs())
    assert {"wine32:i386", "wine64", "g++-mingw-w64-i686-posix", "libgtest-dev", "cmake", "libedf-dev"} <= asked
    assert any(c == "dpkg --add-architecture i386" for c in sandbox.calls("dpkg "))
    assert sandbox.calls("npm") == [f"npm install --no-audit --no-fund --loglevel=error in {web}"]
    assert not (sandbox.root / "build" / "bootstrap-wine32.txt").exists()


def test_the_view_and_python_sets_add_only_their_own_part_to_the_demo(sandbox):
    web = sandbox.root / "tools" / "vornctl" / "web"
    web.mkdir(parents=True)
    (web / "package.json").write_text('{"name": "web", "dependencies": {}}\n')
    r = sandbox.run("demo", "view", "python")
    assert r.returncode == 0, r.stdout + r.stderr
    assert len(sandbox.installs()) == 1
    asked = requested(sandbox.installs())
    assert {"cmake", "libedf-dev", "python3-venv", "python3-numpy", "python3-pandas"} <= asked
    for pkg in asked:
        assert not any(w in pkg for w in ("wine", "mingw", "gtest", "mne", "lintian", "chromium")), pkg
    # The page's uPlot comes with the view set, npm being on PATH here.
    assert sandbox.calls("npm") == [f"npm install --no-audit --no-fund --loglevel=error in {web}"]
    # The python set alone leaves npm alone.
    sandbox.log.write_text("")
    assert sandbox.run("python").returncode == 0
    assert not sandbox.calls("npm")


def test_the_web_libraries_come_from_the_lock_file_once(sandbox):
    web = sandbox.root / "tools" / "vornctl" / "web"
    web.mkdir(parents=True)
    (web / "package.json").write_text('{"name": "web", "dependencies": {"uplot": "1.6.32"}}\n')
    (web / "package-lock.json").write_text('{"lockfileVersion": 3}\n')
    assert sandbox.run("test", STANDIN_ALL_INSTALLED="1").returncode == 0
    assert sandbox.run("test", STANDIN_ALL_INSTALLED="1").returncode == 0
    assert sandbox.calls("npm") == [f"npm ci --no-audit --no-fund --loglevel=error in {web}"]
    # A changed lock file installs again; the demo never does.
    os.utime(web / "package-lock.json", (2e9, 2e9))
    assert sandbox.run("demo", STANDIN_ALL_INSTALLED="1").returncode == 0
    assert len(sandbox.calls("npm")) == 1
    assert sandbox.run("test", STANDIN_ALL_INSTALLED="1").returncode == 0
    assert len(sandbox.calls("npm")) == 2


def test_uninstallable_wine32_is_a_note_and_the_rest_is_installed(sandbox):
    r = sandbox.run("test", STANDIN_BROKEN="wine32:i386")
    assert r.returncode == 0, r.stdout + r.stderr
    note = [l for l in r.stdout.splitlines() if "wine32:i386 not installed" in l]
    assert note == ["bootstrap: wine32:i386 not installed, the 32-bit Wine suites will be skipped: "
                    "unmet dependencies: wine32:i386 : Depends: libwine32-core (= 9.9) but 9.8 is to be "
                    "installed (and 1 more unmet dependencies)"]
    last = sandbox.installs()[-1]
    assert "wine32:i386" not in last and "wine64" in last and "cmake" in last
    saved = (sandbox.root / "build" / "bootstrap-wine32.txt").read_text()
    assert saved.startswith("wine32:i386: unmet dependencies: wine32:i386 : Depends:")


def test_a_needed_package_that_cannot_be_installed_is_one_line_and_a_failure(sandbox):
    r = sandbox.run("demo", STANDIN_BROKEN="libedf-dev")
    assert r.returncode == 1
    assert r.stderr.splitlines() == [
        "bootstrap: cannot install libedf-dev: unmet dependencies: libedf-dev : Depends: "
        "liblibedf-dev-core (= 9.9) but 9.8 is to be installed (and 1 more unmet dependencies)"]
    # The others are installed all the same.
    last = sandbox.installs()[-1]
    assert "libedf-dev" not in last and "cmake" in last
    assert "bootstrap: ready" not in r.stdout


def test_an_unknown_package_names_apts_reason(sandbox):
    # apt prints no unmet-dependency list for a package it does not know.
    apt = sandbox.root.parent / "bin" / "apt-get"
    apt.write_text(apt.read_text().replace(
        'if [ "$1" = install ]; then',
        'if [ "$1" = install ] && [[ " $* " == *" libedf-dev "* ]]; then\n'
        '  echo "E: Unable to locate package libedf-dev"; exit 100\nfi\n'
        'if [ "$1" = install ]; then', 1))
    r = sandbox.run("demo")
    assert r.returncode == 1
    assert r.stderr.splitlines() == ["bootstrap: cannot install libedf-dev: Unable to locate package libedf-dev"]


def test_an_update_that_never_works_is_tried_a_few_times_then_the_install_decides(sandbox):
    r = sandbox.run("demo", STANDIN_UPDATE_DOWN="1", VORN_APT_ATTEMPTS="3")
    assert r.returncode == 0, r.stdout + r.stderr
    assert len(sandbox.calls("apt-get update")) == 3
    assert sandbox.calls("sleep") == ["sleep 7", "sleep 7"]
    assert "apt-get update failed 3 times" in r.stdout
    assert len(sandbox.installs()) == 1


def test_everything_present_asks_apt_nothing_and_says_only_ready(sandbox):
    for set_name in ("demo", "test"):
        r = sandbox.run(set_name, STANDIN_ALL_INSTALLED="1")
        assert r.returncode == 0, r.stderr
        assert r.stdout == "bootstrap: ready\n" and r.stderr == ""
    assert not sandbox.calls("apt-get") and not sandbox.calls("dpkg ")


def test_an_unknown_set_is_a_usage_error(sandbox):
    r = sandbox.run("everything")
    assert r.returncode == 2 and "usage: scripts/bootstrap [demo|view|python|test]..." in r.stderr
    assert not sandbox.calls("apt-get")


if __name__ == "__main__":
    sys.exit(pytest.main([__file__, "-q"]))
