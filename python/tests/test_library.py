"""Finding and loading the driver library."""
import os
import subprocess
import sys


def run(code, **env):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path), **env))


def test_vorn_library_names_the_library_and_a_wrong_one_is_explained(tmp_path):
    found = run("import vorn; print(vorn.find_library())", VORN_LIBRARY="/no/such/libvorn.so")
    assert found.stdout.strip() == "/no/such/libvorn.so"
    failed = run("import vorn; vorn.devices()", VORN_LIBRARY="/no/such/libvorn.so")
    assert failed.returncode != 0
    assert "vorn.errors.LibraryNotFound: cannot load the Vorn driver library '/no/such/libvorn.so'" in failed.stderr
    assert "Set VORN_LIBRARY" in failed.stderr
    # A library that is not the driver is refused by its missing exports.
    other = run("import vorn; vorn.devices()", VORN_LIBRARY="libm.so.6")
    assert "is not the Vorn driver: it lacks GetDeviceClassInfo" in other.stderr


def test_without_vorn_library_the_checkout_or_installed_library_is_found():
    env = {k: v for k, v in os.environ.items() if k != "VORN_LIBRARY"}
    out = subprocess.run([sys.executable, "-c", "import vorn; print(vorn.find_library())"], capture_output=True,
                         text=True, env=dict(env, PYTHONPATH=os.pathsep.join(sys.path)), timeout=60)
    path = out.stdout.strip()
    assert path.endswith("libvorn.so") and os.path.isfile(path), path


def test_units_beyond_ascii_arrive_as_themselves_in_a_utf8_and_in_the_c_locale(sims):
    # The device sends the degree and micro signs as one byte each; the driver hands
    # them on in the locale's code page (Latin-1 for the 7-bit C locale).
    sims("--profile", "units")
    code = "import vorn; d = vorn.devices()[0]; print(ascii([c.unit for c in d.channels])); vorn.close_all()"
    for env in ({"LC_ALL": "C.UTF-8"}, {"LC_ALL": "C", "PYTHONCOERCECLOCALE": "0", "PYTHONUTF8": "0"}):
        out = run(code, **env)
        assert out.stdout.strip() == ascii(["\u00b0C", "\u00b5V", "%"]), (env, out.stderr)
