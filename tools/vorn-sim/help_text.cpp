#include "faults.h"
#include "options.h"

namespace VornSim {

std::string HelpText() {
  std::string text = R"(Usage: vorn-sim [OPTION]...
Simulates one Vorn device on a pseudo-terminal. It opens a pty pair (raw
mode, no echo, no CR/NL translation), prints one line SERIAL=PATH on stdout
(PATH is the slave device to open), and then plays the device side of the
line protocol until SIGTERM or SIGINT.

Device:
  --serial TEXT          serial-number text printed before '=' (default
                         VSC1234567)
  --profile NAME         built-in device description (default "default";
                         list below)
  --firmware REV         firmware revision text of the version line (field 4),
                         e.g. 1.9, 2, abc
  --product NAME         product name (field 5 of the version line)
  --no-product           send no product name (the host then uses its default)
  --channels ITEMS        replace the profile's channels with items
                         NAME[:UNIT[:MIN:MAX[:WAVE[:FREQ[:DECIMALS]]]]]
                         separated by ';'. UNIT, MIN and MAX may be "na"; WAVE
                         is sine, ramp, square, noise or constant (exact test
                         signals), or ecg, breath or drift (a heartbeat, tidal
                         breathing, a slow wander); FREQ in Hz (beats or
                         breaths per second; for drift its slowest swing);
                         DECIMALS 0..6. Defaults: unit na, 0..100, sine, 1 Hz,
                         2 decimals.
  --periods LIST         replace the period line, e.g. "EndOfCycle,0.002,0.01"
                         or "0.5,1,2" (seconds)
  --crc, --no-crc        add or remove the trailing CRC field
  --cycle-ms MS          sample period at the EndOfCycle position (default 800,
                         one beat at 75/min)
  --seed N               seed of the noise waveform and of the fault modes'
                         junk (default 1)
  --describe             print the lines the device sends for V, F and I, then
                         exit
  --list-profiles        print the profiles, then exit

Faults (--fault MODE[=ARG], may be repeated):
)";
  text += FaultHelp();
  text += R"(  --fault-every N        cadence of garbage, overlong and high-bytes, in data
                         lines (default 20)
  --vanish-action ACT    after the vanish fault: exit (default), or reopen: a
                         new pty, a new SERIAL=PATH line and --link re-pointed,
                         as a device plugged in again (power-on state)
  --reopen-delay-ms MS   time without a port before reopening (default 500)

Running:
  --link PATH            also make PATH a symlink to the slave (replacing an
                         existing symlink), e.g. a Wine prefix's
                         dosdevices/com5; removed at exit
  --trace FILE           log every command received and everything done,
                         time-stamped in ms since start
  --sent-log FILE        every data line exactly as written (without its
                         CR LF), one per line, logged once all its bytes are
                         in the pty
  --port-watch HOW       how the host's opens and closes are noticed: inotify
                         (default: the simulator keeps a slave descriptor,
                         counts the host's opens and undoes its TIOCEXCL at the
                         close, as a real port forgets it) or hangup (POLLHUP
                         on the master; a non-root host that used TIOCEXCL
                         then cannot reopen the pty)
  --exit-after SECONDS   exit on its own after this time
  -h, --help             this text

Profiles:
)";
  text += ProfileList();
  text += R"(
Protocol (host -> device; every command is ':', a capital letter, then LF,
except U, which ends with CR; every device line ends with CR LF):
  :S     answer "S". While streaming, S stops the stream first.
  :V     answer "V,<major>,<minor>,<build>,<firmware revision>[,<product>]".
  :F     answer "F", then the field line (field names: Count, the channels,
         CRC when present; the host counts commas + 1), then the period line.
  :U<d>  one digit 0/1 per field, ended by CR: selects the fields of the data
         lines (0 leaves a field out); answer "U". A wrong digit count is
         traced; missing digits select their fields.
  :I     answer "I", then the names line (Count first, CRC last when
         present), the units, maxima and minima lines ("na" allowed).
  :B     answer "B", then stream data lines: the sample counter (32-bit,
         wrapping), one value per channel, the CRC field when present.
  :P<n>  select period position n (one or two digits); no answer. Position 0
         is EndOfCycle when offered, else position k is period choice k
         (0-based); other positions are ignored. Power-on: the first numeric
         choice.
  :X     stop streaming; no answer.
  Anything else (unknown letter, extra characters, the wrong line end, more
  than 64 bytes without a line end) is ignored and traced.

Period values are in seconds (the host scales them by 1e6 to microseconds);
the device streams one data line per selected period. The CRC field is the
CRC-16/CCITT-FALSE of the line's text before it (separating comma excluded),
in decimal. Data values stay inside the channel's MIN..MAX (for "na" bounds
inside -1000..1000 unless given). The host may close and reopen the slave at
any time; while it is closed the device goes on with its stream, but what it
would write is discarded, and output left unread at the close is flushed.
A command half received when the host closes the port is dropped.
)";
  return text;
}

}  // namespace VornSim
