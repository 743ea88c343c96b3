#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "serial/event_thread.h"
#include "serial/serial_port.h"
#include "support/code_page.h"

namespace OpenPlotr {

namespace {

struct Speed {
  std::int32_t rate;
  speed_t code;
};

// The rates termios can set; others are refused as a Windows port refuses a rate its UART cannot make.
constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool CodeForRate(std::int32_t rate, speed_t &code) {
  for (const Speed &s : kSpeeds) {
    if (s.rate == rate) {
      code = s.code;
      return true;
    }
  }
  return false;
}

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// Modem lines where the device has them; a pty has none and refuses the request.
void SetModemLine(int fd, int line, bool on) { ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line); }

}  // namespace

bool SerialPort::Open(const char16_t *name) {
  Close();
  const std::u16string_view text(name ? name : u"");
  const std::int32_t size = QVX::NarrowSize(text, QVX::kCodePageUtf8);
  if (text.empty() || size <= 0) return false;
  std::string path(static_cast<std::size_t>(size), '\0');
  if (!QVX::WideToBuffer(text, path.data(), size, QVX::kCodePageUtf8)) return false;
  path.resize(static_cast<std::size_t>(size - 1));

  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Exclusive like a Windows port opened without sharing: TIOCEXCL keeps other openers out
  // (root excepted), the lock keeps out other sessions and well-behaved programs.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  ioctl(fd, TIOCEXCL);
  handle = fd;
  return true;
}

void SerialPort::Close() {
  if (!IsOpen()) return;
  const int fd = Fd(handle);
  // The flag belongs to the tty, not to this descriptor: a pty's tty outlives the
  // close, and left set it refuses every later open by anyone but root.
  ioctl(fd, TIOCNXCL);
  close(fd);
  handle = kClosed;
}

ConfigureOutcome SerialPort::Configure(std::int32_t rate, std::int32_t rtsControl) {
  const int fd = Fd(handle);
  termios tio{};
  if (!IsOpen() || tcgetattr(fd, &tio) != 0) return ConfigureOutcome::kRejected;
  if (rate > 0) {
    speed_t code;
    if (!CodeForRate(rate, code)) return ConfigureOutcome::kRejected;
    cfsetispeed(&tio, code);
    cfsetospeed(&tio, code);
  }
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  // Reads return at once with what is buffered, as under the Windows read time-outs.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return ConfigureOutcome::kRejected;
  SetModemLine(fd, TIOCM_DTR, false);
  SetModemLine(fd, TIOCM_RTS, (rtsControl & 3) != 0);
  return ConfigureOutcome::kDone;
}

bool SerialPort::CurrentRate(std::int32_t &rate) const {
  termios tio{};
  if (!IsOpen() || tcgetattr(Fd(handle), &tio) != 0) return false;
  const speed_t code = cfgetospeed(&tio);
  for (const Speed &s : kSpeeds) {
    if (s.code == code) {
      rate = s.rate;
      return true;
    }
  }
  return false;
}

CharWait SerialPort::WaitForChars(Event &, Event &stopEvent) {
  if (!IsOpen()) return CharWait::kFailed;
  pollfd polled[2] = {{Fd(handle), POLLIN, 0}, {static_cast<int>(stopEvent.Native()), POLLIN, 0}};
  for (;;) {
    polled[0].revents = polled[1].revents = 0;
    if (poll(polled, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return CharWait::kFailed;
    }
    if ((polled[1].revents & POLLIN) && stopEvent.Wait(0) == WaitOutcome::kFirst) return CharWait::kStop;
    // A pty whose master closed, an unplugged adapter: the tty is hung up, polls as
    // readable and reads as empty for ever, so the hang-up decides.
    if (polled[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return CharWait::kFailed;
    if (polled[0].revents & POLLIN) return CharWait::kChars;
    if (polled[1].revents & (POLLERR | POLLNVAL)) return CharWait::kFailed;
  }
}

// Nothing here signals a comm event, so arriving characters resume the cycles. Each
// round first pauses on the stop request: a port that polls readable but keeps failing
// its reads, or a poll that keeps failing, costs a few wake-ups a second, not a core.
CharWait SerialPort::WaitAfterFailure(Event &, Event &stopEvent) {
  constexpr std::uint32_t kRetryPauseMs = 10;
  for (;;) {
    switch (stopEvent.Wait(kRetryPauseMs)) {
      case WaitOutcome::kTimeout: break;
      case WaitOutcome::kFirst: return CharWait::kStop;
      default: return CharWait::kFailed;
    }
    if (!IsOpen()) return CharWait::kFailed;
    pollfd polled[2] = {{Fd(handle), POLLIN, 0}, {static_cast<int>(stopEvent.Native()), POLLIN, 0}};
    if (poll(polled, 2, -1) < 0) continue;
    if ((polled[1].revents & POLLIN) && stopEvent.Wait(0) == WaitOutcome::kFirst) return CharWait::kStop;
    if (polled[1].revents & (POLLERR | POLLNVAL)) return CharWait::kFailed;
    // Hung up (the master of a pty closed, the adapter unplugged): it stays so.
    if (polled[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      return stopEvent.Wait(kWaitForever) == WaitOutcome::kFirst ? CharWait::kStop : CharWait::kFailed;
    }
    if (polled[0].revents & POLLIN) return CharWait::kChars;
  }
}

std::int32_t SerialPort::ReadChunk(char *buffer, std::int32_t size) {
  for (;;) {
    const ssize_t got = read(Fd(handle), buffer, static_cast<std::size_t>(size));
    if (got >= 0) return static_cast<std::int32_t>(got);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

WriteOutcome SerialPort::Write(const char *bytes, std::int32_t length, std::uint32_t boundMs) {
  if (!IsOpen()) return WriteOutcome::kFailed;
  const int fd = Fd(handle);
  const std::uint64_t deadline = MonotonicMs() + boundMs;
  std::int32_t sent = 0;
  while (sent < length) {
    const ssize_t put = write(fd, bytes + sent, static_cast<std::size_t>(length - sent));
    if (put > 0) {
      sent += static_cast<std::int32_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return WriteOutcome::kFailed;
    const std::uint64_t now = MonotonicMs();
    if (now >= deadline) return WriteOutcome::kTimedOut;
    pollfd polled{fd, POLLOUT, 0};
    if (poll(&polled, 1, static_cast<int>(deadline - now)) < 0 && errno != EINTR) return WriteOutcome::kFailed;
    if (polled.revents & (POLLHUP | POLLERR | POLLNVAL)) return WriteOutcome::kFailed;
  }
  return WriteOutcome::kDone;
}

// Waits poll on the stop event as well, so stopping needs no cancellation here.
void SerialPort::CancelPending() {}

}  // namespace OpenPlotr
