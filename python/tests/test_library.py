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
