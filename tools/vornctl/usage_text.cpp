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
    --seconds S     how many seconds of data; 0 or left out: until Ctrl-C
    --reconnect     a device that goes away is looked for again (backing off
                    from 0.5 s to 8 s) and the recording goes on into the same
                    files, the gap noted; one device only
    --subject TEXT  EDF+ patient field (and a CSV comment line)
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
    --block, --no-progress, --subject, --recording   as for record
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

Outputs are checked before any device is touched: a name without .csv,
.edf or .svg, a file named twice or a folder that does not exist is a usage
error.

Recording: Ctrl-C (or SIGTERM) stops cleanly (stream stopped, driver closed,
files complete); a second one ends vornctl at once. Before the recording has
begun (finding or initialising a device) the first one ends vornctl at once.
Sample sets are counted from the first line the device sends. The progress
line on stderr shows the seconds of data, lines per second, dropped lines
(not "@ " and one integer per channel) and missing ones (fewer lines than
the period and the clock expect). A device that sends nothing for 3 s (or
ten periods), or whose port fails, ends the recording with an error unless
--reconnect is given.

CSV: comment lines beginning "# " (vornctl, start as ISO 8601 UTC, serial,
unique id, product, version, period [us], subject, recording), a header line,
then one row per sample set: "time [s]" (sample index times the period),
"host time [s]" (the host's clock when the line arrived, from the start),
then per channel "NAME raw" (the driver's 0..32767) and "NAME [UNIT]"
(minimum + raw/32767 * (maximum - minimum)). A dropped line keeps its row and
time with empty values; a reconnection is a "# Reconnected ..." line.
EDF+: one signal per channel with the device's name, unit and physical range,
digital range 0..32767, sample rate from the period, data records of about a
second; the last record is filled up with the final values and annotated;
equipment is the product and serial text, the device's identifier and the
versions are annotated at the start. Builds without EDFlib (Windows) refuse
.edf with a message.

The driver is --library PATH, else $VORN_LIBRARY, else the library installed
beside vornctl, else the one of the build tree. VORN_PORTS=SERIAL=PATH;...
makes discovery look at exactly those ports (the demo sets it); vornctl says
which entries the driver skips and why.

Exit status: 0 done; 1 failed (the message says why, with the driver's
general message where it has one); 2 wrong usage; 130 Ctrl-C (143 SIGTERM)
ended a recording before its --seconds, or came before the recording began.
)";

}  // namespace vornctl
