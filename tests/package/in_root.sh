#!/bin/sh
# The package check's steps inside the clean root (or, where no clean root can
# be made, on the machine itself). scripts/package-check runs one step at a
# time and installs what each step needs between them.
#   in_root.sh runtime VERSION   the four packages: vornctl, its demo, serve's keys, Python from vorn-sim
#   in_root.sh dev               examples/host.c through pkg-config and through find_package(Vorn)
#   in_root.sh udev              the udev rule parses, and in a umockdev bed tags and sets the timer
#   in_root.sh wheel VERSION WHEEL SIM   the wheel in a venv, with no package of ours installed
# The user steps run as nobody: root would open any port and hide a
# permission the packages forgot.
set -eu
step=$1
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d /tmp/vorn-check.XXXXXX)
chown nobody:nogroup "$scratch"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() { echo "package check ($step): $*" >&2; exit 1; }
ok() { echo "package check ($step): $*"; }
as_user() { setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$scratch" "$@"; }

# start_sim SIM SERIAL: a simulated device whose pty nobody may open; sets $port.
start_sim() {
  port="$scratch/port-$2"
  # Not through as_user: a function in the background is a subshell, and its
  # process id would not be the simulator's.
  setpriv --reuid=nobody --regid=nogroup --clear-groups "$1" --serial "$2" --link "$port" \
    >"$scratch/sim-$2.txt" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -e "$port" ] && return 0; sleep 0.05; done
  cat "$scratch/sim-$2.txt" >&2
  fail "vorn-sim did not make its port"
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

# The Python recording, the same for the package and the wheel: one second
# from the simulator, the library it loaded named on the first line.
record_one_second() {  # record_one_second PYTHON
  cat >"$scratch/record.py" <<'EOF'
import vorn
import vorn._library as library

device = vorn.devices()[0]
rec = device.record(1, period="2ms")
vorn.close_all()
print(library.loaded().path)
print(len(rec.data), device.serial)
EOF
  start_sim "${SIM:-vorn-sim}" VSC0000741
  (cd "$scratch" && as_user env VORN_PORTS="VSC0000741=$port" "$1" record.py) >"$scratch/record.txt" 2>&1 ||
    { cat "$scratch/record.txt" >&2; fail "the Python recording failed"; }
  stop_sim
  loaded=$(sed -n 1p "$scratch/record.txt")
  rows=$(sed -n 2p "$scratch/record.txt" | cut -d' ' -f1)
  # One second at 2 ms is 500 sample sets; the count is the Python package's
  # business, the check's is that data flowed.
  [ "$rows" -ge 450 ] && [ "$rows" -le 550 ] || { cat "$scratch/record.txt" >&2; fail "recorded $rows sample sets in 1 s at 2 ms"; }
}

case "$step" in
runtime)
  version=$2
  got=$(as_user vornctl --version)
  [ "$got" = "vornctl $version" ] || fail "vornctl --version says '$got', not 'vornctl $version'"
  ok "$got"
  soname=$(ls /usr/lib/*/libvorn.so.1)
  [ "$(readlink "$soname")" = "libvorn.so.$version" ] || fail "$soname is not a link to libvorn.so.$version"
  owner=$(dpkg -S "$(dirname "$soname")/libvorn.so" | cut -d: -f1)
  [ "$owner" = libvorn-dev ] || fail "libvorn.so belongs to $owner, not to libvorn-dev"
  about=$(as_user vornctl about)
  case "$about" in
    *"library:     /usr/bin/../lib/"*"/libvorn.so.1"*) ;;
    *) fail "vornctl did not load the packaged library: $about" ;;
  esac
  (cd "$scratch" && as_user vornctl demo --seconds 1) >"$scratch/demo.txt" 2>&1 ||
    { cat "$scratch/demo.txt" >&2; fail "vornctl demo failed"; }
  ok "vornctl demo: $(grep -c . "$scratch/demo.txt") lines of output"
  # The page and its plotting library come with the package.
  for f in index.html view.js view.css uPlot.iife.min.js uPlot.min.css; do
    [ -s "/usr/share/vornctl/web/$f" ] || fail "vornctl view's page lacks $f"
  done
  man -w vornctl >/dev/null 2>&1 || [ -e /usr/share/man/man1/vornctl.1.gz ] || fail "no man page for vornctl"
  [ -e /usr/share/man/man1/vorn-sim.1.gz ] || fail "no man page for vorn-sim"
  # serve's keys come from the libzmq the package depends on: it must be there
  # and built with CURVE.
  (cd "$scratch" && as_user vornctl keygen check) >"$scratch/keygen.txt" 2>&1 ||
    { cat "$scratch/keygen.txt" >&2; fail "vornctl keygen failed"; }
  [ "$(stat -c %a "$scratch/check.key")" = 600 ] && [ -s "$scratch/check.pub" ] ||
    fail "vornctl keygen did not write check.key (mode 600) and check.pub"
  ok "vornctl keygen wrote a CURVE key pair through $(ldd /usr/bin/vornctl | grep -o 'libzmq[^ ]*')"
  record_one_second /usr/bin/python3
  case "$loaded" in
    libvorn.so.1) ;;
    *) fail "python3-vorn loaded $loaded, not the packaged libvorn.so.1" ;;
  esac
  ok "python3-vorn recorded $rows sample sets in 1 s through $loaded"
  ;;
dev)
  examples=/usr/share/doc/libvorn-dev/examples
  cp -r "$examples/." "$scratch/"
  # dh_compress may have packed the larger examples.
  for gz in "$scratch"/*.gz; do [ -e "$gz" ] && gunzip "$gz"; done
  chmod -R a+rX "$scratch"
  cd "$scratch"
  pkg-config --exists vorn || fail "pkg-config does not know vorn"
  [ "$(pkg-config --modversion vorn)" = "$(dpkg-query -W -f='${Version}' libvorn-dev | cut -d- -f1)" ] ||
    fail "vorn.pc's version differs from the package's"
  # shellcheck disable=SC2046
  cc -Wall -Werror -o host-pc host.c $(pkg-config --cflags --libs vorn) || fail "host.c does not build with pkg-config"
  cmake -S . -B build >cmake.txt 2>&1 && cmake --build build >>cmake.txt 2>&1 ||
    { cat cmake.txt >&2; fail "host.c does not build with find_package(Vorn)"; }
  for host in ./host-pc ./build/host; do
    as_user bash run-with-sim.sh /usr/bin/vorn-sim VSC0000751 -- "$host" >host.txt 2>&1 ||
      { cat host.txt >&2; fail "$host did not record from vorn-sim"; }
    grep -q '^recorded 10 lines$' host.txt || { cat host.txt >&2; fail "$host did not record 10 lines"; }
  done
  ok "examples/host.c built with pkg-config and with find_package(Vorn); both recorded from vorn-sim"
  ;;
udev)
  rules=/lib/udev/rules.d/60-vorn.rules
  [ -f "$rules" ] || fail "$rules is not installed"
  if udevadm verify --help >/dev/null 2>&1; then
    udevadm verify "$rules" || fail "udevadm verify rejects $rules"
  fi
  # Two converters as the kernel shows them (USB device, interface, usb-serial
  # port with the latency timer, tty): FTDI's and another vendor's. udev writes
  # the timer without truncating, as sysfs needs none, so the bed's plain file
  # starts one digit long for the written value to show.
  cp "$here/ftdi.umockdev" "$here/prolific.umockdev" "$scratch/"
  cd "$scratch"
  for bed in ftdi prolific; do
    umockdev-run --device "$bed.umockdev" -- sh -c \
      'udevadm test --action=add /sys/class/tty/ttyUSB0 >test.txt 2>&1
       cat /sys/class/tty/ttyUSB0/device/latency_timer >latency.txt 2>/dev/null || echo none >latency.txt'
    if grep -E '60-vorn\.rules.*(nvalid|nknown|rror|gnoring)' test.txt; then fail "udev reports the rule above"; fi
    # /lib is /usr/lib on a merged-/usr system: udev names either.
    grep -q "Reading rules file: .*/udev/rules.d/60-vorn.rules" test.txt ||
      { cat test.txt >&2; fail "udevadm test did not read $rules"; }
    # TAGS keeps what the device's database entry had from the bed before; CURRENT_TAGS is this event's.
    tags=$(sed -n 's/^CURRENT_TAGS=//p' test.txt)
    case "$bed:$tags:$(cat latency.txt)" in
      ftdi:*:uaccess:*:1) ok "an FTDI converter's tty is tagged uaccess and its latency timer set to 1" ;;
      ftdi:*) cat test.txt >&2; fail "FTDI converter: tags '$tags', latency timer $(cat latency.txt)" ;;
      prolific:*:uaccess:*) cat test.txt >&2; fail "another vendor's converter is tagged uaccess" ;;
      prolific:*) ok "another vendor's converter is left alone" ;;
    esac
  done
  ;;
wheel)
  version=$2 wheel=$3 SIM=$4
  for p in libvorn1 libvorn-dev vorn-tools python3-vorn; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok'; then fail "$p is still installed"; fi
  done
  ! ls /usr/lib/*/libvorn.so* >/dev/null 2>&1 || fail "a libvorn.so is left in the system's library folder"
  # Debian's numpy, as a user of Debian does; nothing from the network.
  /usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
  "$scratch/venv/bin/pip" install --quiet --no-index "$wheel" || fail "pip cannot install $wheel"
  chmod -R a+rX "$scratch"
  record_one_second "$scratch/venv/bin/python"
  case "$loaded" in
    "$scratch"/venv/lib/python3*/site-packages/vorn/libvorn.so) ;;
    *) fail "the wheel's package loaded $loaded, not its own library" ;;
  esac
  ok "the wheel (vorn $version) recorded $rows sample sets in 1 s through its own libvorn.so"
  ;;
*)
  fail "unknown step"
  ;;
esac
