"""The install tree as integrators and users meet it.

The build is installed into a prefix of its own (as `cmake --install --prefix`
does for /usr/local or /opt), and everything is used from there: the library's
names and SONAME, the pkg-config file and the CMake package that build
examples/host.c, vornctl and vorn-sim run by a user without privileges, and the
Python package outside a checkout finding a library the system loader knows.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("VORN_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BUILD = Path(os.environ.get("VORN_BUILD_DIR", SOURCE / "build" / "linux"))
VERSION = (SOURCE / "VERSION").read_text().split()[0]
MAJOR = VERSION.split(".")[0]
NOBODY = ["/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"]


def run(args, **kwargs):
    kwargs.setdefault("timeout", 120)
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def clean_env(**extra):
    """The environment of a user who has only the install: no VORN_* of the test run."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("VORN_")}
    env.update(extra)
    return env


@pytest.fixture(scope="module")
def scratch():
    """A folder a user without privileges can reach (pytest's own is root's alone)."""
    top = Path(tempfile.mkdtemp(prefix="vorn-package-test-"))
    top.chmod(0o755)
    yield top
    shutil.rmtree(top, ignore_errors=True)


@pytest.fixture
def tmp_path(scratch, request):
    path = scratch / re.sub(r"\W", "_", request.node.name)
    path.mkdir()
    path.chmod(0o755)
    return path


@pytest.fixture(scope="module")
def prefix(scratch):
    p = scratch / "opt-vorn"
    r = run(["cmake", "--install", str(BUILD), "--prefix", str(p)])
    assert r.returncode == 0, r.stdout + r.stderr
    return p


def test_the_library_has_its_version_soname_and_development_link(prefix):
    lib = prefix / "lib"
    real = lib / f"libvorn.so.{VERSION}"
    assert real.is_file() and not real.is_symlink()
    assert os.readlink(lib / f"libvorn.so.{MAJOR}") == real.name
    assert os.readlink(lib / "libvorn.so") == f"libvorn.so.{MAJOR}"
    dynamic = run(["readelf", "-d", str(real)]).stdout
    assert re.search(rf"\(SONAME\)\s+Library soname: \[libvorn\.so\.{MAJOR}\]", dynamic), dynamic
    # An install prefix is not where the library looks for its own dependencies.
    assert "RPATH" not in dynamic and "RUNPATH" not in dynamic


def test_every_part_lands_under_the_prefix_given_at_install_time(prefix, tmp_path):
    for part in ["include/vorn.h", "lib/pkgconfig/vorn.pc", "lib/cmake/Vorn/VornConfig.cmake",
                 "lib/cmake/Vorn/VornConfigVersion.cmake", "bin/vornctl", "bin/vorn-sim",
                 "lib/udev/rules.d/60-vorn.rules", "share/doc/vorn/examples/host.c",
                 "share/doc/vorn/examples/CMakeLists.txt", "share/doc/vorn/README.md"]:
        assert (prefix / part).is_file(), part
    if shutil.which("help2man"):
        page = (prefix / "share/man/man1/vornctl.1").read_text()
        assert "record" in page and VERSION in page
    # DESTDIR stages the same tree under another root; vorn.pc names the final prefix.
    stage = tmp_path / "stage"
    r = run(["cmake", "--install", str(BUILD), "--prefix", "/opt/vorn-staged"], env=dict(os.environ, DESTDIR=str(stage)))
    assert r.returncode == 0, r.stdout + r.stderr
    assert sorted(p.name for p in stage.iterdir()) == ["opt"]
    assert sorted(p.name for p in (stage / "opt").iterdir()) == ["vorn-staged"]
    pc = (stage / "opt/vorn-staged/lib/pkgconfig/vorn.pc").read_text()
    assert "prefix=/opt/vorn-staged\n" in pc and f"Version: {VERSION}\n" in pc


def test_one_version_in_every_place_a_user_reads_it(prefix):
    r = run([str(prefix / "bin/vornctl"), "--version"], env=clean_env())
    assert r.stdout.strip() == f"vornctl {VERSION}"
    changelog = (SOURCE / "debian/changelog").read_text().splitlines()[0]
    assert re.match(rf"vorn \({re.escape(VERSION)}-\d+\) ", changelog), "debian/changelog: " + changelog
    releases = re.findall(r"^## (\S+)", (SOURCE / "CHANGELOG.md").read_text(), re.M)
    assert releases and releases[0] == VERSION, "CHANGELOG.md's first release"
    assert (SOURCE / "python/VERSION").resolve() == (SOURCE / "VERSION").resolve()


def run_with_sim(prefix, serial, command, **kwargs):
    return run(NOBODY + ["bash", str(SOURCE / "examples/run-with-sim.sh"), str(prefix / "bin/vorn-sim"),
                         serial, "--"] + command, **kwargs)


def built_host_records(prefix, host, env):
    r = run_with_sim(prefix, "VSC0000721", [str(host)], env=env)
    assert r.returncode == 0 and "recorded 10 lines" in r.stdout, r.stdout + r.stderr


def test_a_host_builds_with_pkg_config_and_runs(prefix, tmp_path):
    env = clean_env(PKG_CONFIG_PATH=str(prefix / "lib/pkgconfig"))
    flags = run(["pkg-config", "--cflags", "--libs", "vorn"], env=env)
    assert flags.returncode == 0, flags.stderr
    assert flags.stdout.split() == [f"-I{prefix}/include", f"-L{prefix}/lib", "-lvorn"]
    assert run(["pkg-config", "--modversion", "vorn"], env=env).stdout.strip() == VERSION
    host = tmp_path / "host"
    r = run(["cc", "-Wall", "-Werror", "-o", str(host), str(prefix / "share/doc/vorn/examples/host.c")]
            + flags.stdout.split(), env=env)
    assert r.returncode == 0, r.stderr
    built_host_records(prefix, host, clean_env(LD_LIBRARY_PATH=str(prefix / "lib")))


def test_a_host_builds_with_find_package_and_a_wrong_major_is_refused(prefix, tmp_path):
    project = tmp_path / "host"
    shutil.copytree(prefix / "share/doc/vorn/examples", project)
    env = clean_env(CMAKE_PREFIX_PATH=str(prefix))
    r = run(["cmake", "-S", str(project), "-B", str(project / "build"), "-G", "Ninja"], env=env)
    assert r.returncode == 0, r.stdout + r.stderr
    r = run(["cmake", "--build", str(project / "build")], env=env)
    assert r.returncode == 0, r.stdout + r.stderr
    # The imported target carries the library's path: no LD_LIBRARY_PATH needed.
    built_host_records(prefix, project / "build" / "host", clean_env())

    (project / "CMakeLists.txt").write_text(
        (project / "CMakeLists.txt").read_text().replace("find_package(Vorn 1.0 REQUIRED)",
                                                         f"find_package(Vorn {int(MAJOR) + 1}.0 REQUIRED)"))
    r = run(["cmake", "-S", str(project), "-B", str(tmp_path / "wrong")], env=env)
    assert r.returncode != 0 and "Vorn" in r.stderr


def test_installed_tools_run_for_a_user_and_find_their_own_library(prefix, tmp_path):
    work = tmp_path / "user"
    work.mkdir()
    work.chmod(0o777)  # the user's own folder
    # Found on PATH, so argv[0] is only a name: the library still comes from the prefix.
    env = clean_env(PATH=f"{prefix}/bin:/usr/bin:/bin", HOME=str(work))
    about = run(NOBODY + ["vornctl", "about"], env=env, cwd=work)
    assert f"library:     {prefix}/bin/../lib/libvorn.so\n" in about.stdout, about.stdout + about.stderr
    demo = run(NOBODY + ["vornctl", "demo", "--seconds", "1"], env=env, cwd=work)
    assert demo.returncode == 0, demo.stdout + demo.stderr


def test_python_outside_a_checkout_asks_the_system_loader_for_the_soname(prefix, tmp_path):
    # The package as python3-vorn installs it: no library inside, no checkout around it.
    site = tmp_path / "site"
    shutil.copytree(SOURCE / "python/vorn", site / "vorn", ignore=shutil.ignore_patterns("__pycache__"))
    script = ("import vorn, vorn._library as l\n"
              "print(vorn.find_library())\n"
              "rec = vorn.devices()[0].record(0.2)\n"
              "vorn.close_all()\n"
              "print(l.loaded().path, len(rec.data))\n")
    r = run_with_sim(prefix, "VSC0000722", ["/usr/bin/python3", "-c", script],
                     env=clean_env(PYTHONPATH=str(site), LD_LIBRARY_PATH=str(prefix / "lib")), cwd=tmp_path)
    assert r.returncode == 0, r.stdout + r.stderr
    found, loaded = r.stdout.splitlines()[:2]
    assert found == f"libvorn.so.{MAJOR}"
    assert loaded.split()[0] == f"libvorn.so.{MAJOR}" and int(loaded.split()[1]) > 0


if __name__ == "__main__":
    sys.exit(pytest.main([__file__, "-q"]))
