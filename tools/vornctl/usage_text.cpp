#include "tools/vornctl/usage_text.h"

namespace vornctl {

const char kUsageText[] = R"(usage: vornctl [--library PATH] COMMAND [ARGUMENTS]
       vornctl --version | --help

A recorder for Vorn devices. It loads the driver library by path and uses only
its sixteen exports, as the host application does.

Commands:
  about           the driver's device class record and its general message
  list            find the devices; for each: index, serial text, unique id,
                  product and version (each device is initialised to ask); a
                  device that cannot say is marked and the exit status is 1
    --json          the same as JSON: {"devices": [{"index", "serial",
                    "unique_id", "product", "version", "state", "error"}]}
  info N|SERIAL   a device (index from list, or its serial text): channels
                  (position, name, unit, minimum, maximum, the driver's range
                  text), its sample periods in us and ms, the control list
    --json          the same as JSON
  record N...     record devices (indexes or serial texts), each on its own
  record --all    reader thread into its own files, all on one clock:
    --out FILE      FILE.csv, FILE.edf (EDF+; any case), or "-" for CSV on
                    stdout; may be given more than once (same samples in each).
                    With several devices each gets FILE-SERIAL-N.csv and so on
    --plot FILE     an SVG plot (FILE.svg), one trace per channel with its unit
    --channels L    positions, ranges or names, comma-separated ("1,3",
                    "1-2", "Temp,ECG"), in the files in the order given;
                    default all, in the device's order
    --period P      one of the device's periods: 2ms, 2000us, 0.002s (a bare
                    number is ms), fastest (default) or slowest. A device's
                    EndOfCycle choice is not among them: the driver offers no
                    command that selects it
    --seconds S     round(S/period) sample sets, gaps included; 0 or left out: until Ctrl-C
    --reconnect     a device that goes away is looked for again (backing off
                    from 0.5 s to 8 s) and the recording goes on into the same
                    files, the gap marked (below); one device only
    --force         replace an existing file, a recording left under its
                    .partial name, or a symbolic link (the link itself, never
                    what it points to); also --overwrite
    --subject CODE  subject identifier: the EDF+ patient code (and a CSV
                    comment line)
    --subject-name N  EDF+ patient name (and a CSV comment line)
    --recording T   EDF+ investigation code (and a CSV comment line)
    --block         read with ReadBuffSize and ReadBuffer, not ReadLine
    --no-progress   no live progress line
  demo            start vorn-sim, record all its channels at the fastest
                  period, print a table (channel, unit, min, max, mean) with a
                  sparkline per channel, stop the simulator:
    --seconds S     default 3
    --out FILE      as for record; default a CSV in the folder vornctl-demo
                    of the temporary folder (the demo says which)
    --plot FILE     as for record
    --profile NAME  vorn-sim's device profile (vorn-sim --list-profiles)
    --sim-arg ARG   one more argument for vorn-sim; may be repeated
    --block, --no-progress, --force, --subject, --subject-name, --recording
                    as for record
  view            a live web page of every device: traces per channel,
                  start/stop, channels, period, recording (POSIX builds):
    --port N        port to serve on; default 0, a free one (printed)
    --listen ADDR   serve on ADDR instead of 127.0.0.1 (0.0.0.0: every
                    interface); the page then needs the token printed in
                    its URLs
    --token         need the token on 127.0.0.1 too (there, any user of
                    the machine may otherwise drive the devices)
    --open          open the page in the desktop's browser
    --start         start every device at once
    --out-dir DIR   where the page's recordings go; default the current folder
    --web DIR       the page's files; default those installed with vornctl
  serve SERIAL... publish devices' streams over ZeroMQ (Linux builds with
  serve --all     libzmq): data and metadata on an XPUB socket, controls
                  (start, stop, channels, period, the recording lease) on a
                  ROUTER beside it (docs/streaming.md). Prints both endpoints.
    --bind URL      tcp://HOST:PORT (default tcp://127.0.0.1:5650; PORT *:
                    any free one). Anything but a loopback address needs
                    --curve-secret and --curve-clients
    --control URL   the control socket; default the port after --bind's
    --curve-secret FILE   the server's key pair (NAME.key of keygen): CURVE
    --curve-clients FILE  the client public keys admitted, one per line
                    (# comments); every other client is refused and logged
    --channels L, --period P  as for record, for every device served
    --no-start      leave the devices stopped (a control starts them)
    --send-hwm N    data messages queued per subscriber before ZeroMQ drops
                    for it (default 10000); the subscriber sees the gap
  keygen NAME     a CURVE key pair: NAME.key (public and secret, mode 600)
                  and NAME.pub (the public key, for the other side); never
                  replaces a file. Prints the public key

Files are never overwritten: an output that exists is a usage error unless
--force. Outputs are checked before any device is touched (nothing is opened
to check them): a name without .csv, .edf or .svg, a file named twice, a
folder that does not exist or that you may not write in, a symbolic link, a
FIFO or device, a path too long, or a NAME.partial.EXT left by a recording
that was cut short is a usage error (exit 2) that names the file. A recording
is written as NAME.partial.EXT and renamed to NAME.EXT when it is complete; a
vornctl that is killed leaves what it had written there, in whole rows and
whole EDF+ data records that readers open.

Gaps: every row's sample time is its sample index times the period, the
index counting from the recording's first line and including the sets that
would have come during a gap; host time is seconds from that first line. A
reconnection is a gap of round((first line after - last line before) /
period) - 1 sets; lines lost while vornctl fell behind (the driver's receive
ring full) are a gap of what the clock expected beyond what came, once
vornctl has caught up, when that exceeds the larger of 0.5 s and 50 periods.

Recording: Ctrl-C (or SIGTERM) stops cleanly (stream stopped, driver closed,
files complete); a second one ends vornctl at once. Before the recording has
begun (finding or initialising a device) the first one ends vornctl at once.
Sample sets are counted from the first line the device sends. The progress
line on stderr shows the seconds of data, lines per second, dropped lines
(not "@ " and one integer per channel) and missing ones (fewer lines than
the period and the clock expect). A device that sends nothing for 3 s (or
ten periods), or whose port fails, ends the recording with an error unless
--reconnect is given.

CSV: comment lines beginning "# " (vornctl, start as ISO 8601 UTC, monotonic
start [s], serial, unique id, product, version, period [us], subject, subject
name, recording), a header line, then one row per sample set: "time [s]"
(sample index times the period), "host time [s]" (the host's monotonic clock
when the line arrived, from the first line), then per channel "NAME raw" (the
driver's 0..32767) and "NAME [UNIT]" (minimum + raw/32767 * (maximum -
minimum)). A dropped line keeps its row and time with empty values; a gap is
a "# GAP: start S s, duration D s, sets N, reason R" line (R: reconnect or
lost). A recording that streamed no line is the comment and header lines.
EDF+ (continuous): one signal per channel with the device's name, unit and
physical range, digital range 0..32767, sample rate from the period, data
records of about a second; a gap is filled with each signal's digital minimum
and annotated "BAD_gap R" with its duration, so MNE leaves it out of analysis
while its time axis stays true; the last record is filled up with the final
values, annotated and marked BAD_padding; patient code --subject, patient
name --subject-name, equipment the product and serial text; the device's
identifier and the versions are annotated at the start. A recording without
any sample set writes no EDF+ file (readers cannot open one) and says so.

The driver is --library PATH, else $VORN_LIBRARY, else the library installed
beside vornctl, else the one of the build tree. VORN_PORTS=SERIAL=PATH;...
makes discovery look at exactly those ports (the demo sets it); vornctl says
which entries the driver skips and why.

Exit status: 0 done; 1 failed (the message says why, with the driver's
general message where it has one); 2 wrong usage; 130 Ctrl-C (143 SIGTERM)
ended a recording before its --seconds, or came before the recording began.
)";

}  // namespace vornctl

namespace vornctl {

std::string WithoutNetworkText(const std::string &command) {
  return command +
         ": this vornctl was built without the network commands (they need libzmq3-dev and cppzmq-dev; Linux builds "
         "only)";
}

}  // namespace vornctl
