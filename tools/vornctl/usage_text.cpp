#include "tools/vornctl/usage_text.h"

namespace vornctl {

const char kUsageText[] = R"(usage: vornctl [--library PATH] COMMAND [ARGUMENTS]

A recorder for Vorn devices. It loads the driver library by path and uses only
its sixteen exports, as the host application does.

Commands:
  about           the driver's device class record and its general message
  list            find the devices; for each: index, serial text, unique id,
                  product and version (each device is initialised to ask)
  info N          device N's channels (position, name, unit, minimum, maximum,
                  the driver's range text), its sample periods in us and ms,
                  and the length of its control list
  record N        record device N:
    --out FILE      CSV, or EDF+ when FILE ends in .edf; "-" writes CSV to
                    stdout; may be given more than once (same samples in each)
    --plot FILE     an SVG plot, one trace per channel with its unit
    --channels L    positions, ranges or names, comma-separated ("1,3",
                    "1-2", "ECG,Temp"); default all
    --period P      one of the device's periods: 2ms, 2000us, 0.002s (a bare
                    number is ms), fastest (default) or slowest
    --seconds S     how long to record; 0 or left out: until Ctrl-C
    --block         read with ReadBuffSize and ReadBuffer, not ReadLine
    --no-progress   no live progress line
  demo            start vorn-sim, record all its channels at the fastest
                  period, print a table (channel, unit, min, max, mean) with a
                  sparkline per channel, stop the simulator:
    --seconds S     default 3
    --out FILE      as for record; default a CSV in the temporary folder
    --plot FILE     as for record
    --profile NAME  vorn-sim's device profile (vorn-sim --list-profiles)
    --sim-arg ARG   one more argument for vorn-sim; may be repeated
    --block, --no-progress   as for record
  view            a live web page of every device: traces per channel,
                  start/stop, channels, period, recording (POSIX builds):
    --port N        port to serve on; default 0, a free one (printed)
    --listen ADDR   serve on ADDR instead of 127.0.0.1; the page then needs
                    the token printed with the URL
    --open          open the page in the desktop's browser
    --start         start every device at once
    --out-dir DIR   where the page's recordings go; default the current folder
    --web DIR       the page's files; default those installed with vornctl

Recording: Ctrl-C stops cleanly (stream stopped, driver closed, files
complete); a second Ctrl-C ends vornctl at once. The progress line on stderr
shows elapsed time, lines per second, dropped lines (not "@ " and one integer
per channel) and missing ones (fewer lines than the period and the clock
expect). A device that sends nothing for 3 s (or ten periods) ends the
recording with an error.

CSV: a header line, then one row per sample set: "time [s]" (sample index
times the period), then per channel "NAME raw" (the driver's 0..32767) and
"NAME [UNIT]" (minimum + raw/32767 * (maximum - minimum)). A dropped line keeps
its row and time with empty values.
EDF+: one signal per channel with the device's name, unit and physical range,
digital range 0..32767, sample rate from the period, data records of about a
second; the last record is filled up with the final values and annotated.
Builds without EDFlib (Windows) refuse .edf with a message.

The driver is --library PATH, else $VORN_LIBRARY, else the library installed
beside vornctl, else the one of the build tree. VORN_PORTS=SERIAL=PATH;...
makes discovery look at exactly those ports (the demo sets it).

Exit status: 0 done; 1 failed (the message says why, with the driver's
general message where it has one); 2 wrong usage; 130 Ctrl-C ended a
recording before its --seconds.
)";

}  // namespace vornctl
