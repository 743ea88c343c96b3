#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "serial/device_peer.h"

namespace vorn_test {

namespace {

std::int32_t RateOf(speed_t code) {
  static const struct {
    speed_t code;
    std::int32_t rate;
  } kRates[] = {{B1200, 1200},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},
                {B19200, 19200},   {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
                {B230400, 230400}, {B460800, 460800}, {B921600, 921600}, {B0, 0}};
  for (const auto &r : kRates) {
    if (r.code == code) return r.rate;
  }
  return -1;
}

class LocalPty final : public DevicePeer {
 public:
  ~LocalPty() override { Close(); }

  bool Renew() override {
    Close();
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return false;
    // A quiet port in raw state: nothing is echoed back before the driver sets the line.
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = name;
    return true;
  }

  std::u16string PortName() override { return std::u16string(path_.begin(), path_.end()); }

  bool Send(std::string_view bytes) override {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t put = write(master_, bytes.data() + sent, bytes.size() - sent);
      if (put > 0) {
        sent += static_cast<std::size_t>(put);
      } else if (put < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd p{master_, POLLOUT, 0};
        if (poll(&p, 1, 5000) <= 0) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  std::string Receive(std::size_t count, std::uint32_t timeoutMs) override {
    std::string got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[4096];
      const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
      else if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return got;
  }

  void Drain() override {
    char buffer[4096];
    while (read(master_, buffer, sizeof buffer) > 0) {
    }
  }

  void HangUp() override { Close(); }

  bool Line(LineSettings &out) override {
    termios tio{};
    if (slave_ < 0 || tcgetattr(slave_, &tio) != 0) return false;
    out.rate = RateOf(cfgetospeed(&tio));
    out.eightBits = (tio.c_cflag & CSIZE) == CS8;
    out.parity = (tio.c_cflag & PARENB) != 0;
    out.twoStopBits = (tio.c_cflag & CSTOPB) != 0;
    out.hardwareFlow = (tio.c_cflag & CRTSCTS) != 0;
    out.raw = !(tio.c_lflag & (ICANON | ECHO | ISIG)) && !(tio.c_oflag & OPOST) &&
              !(tio.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF));
    return true;
  }

 private:
  void Close() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    master_ = slave_ = -1;
  }

  int master_ = -1;
  int slave_ = -1;  // kept open so that the pty outlives the driver's own opens and closes
  std::string path_;
};

}  // namespace

std::unique_ptr<DevicePeer> OpenDevicePeer(std::string &) { return std::make_unique<LocalPty>(); }

std::u16string MissingPortName() { return u"/dev/vorn-no-such-port"; }

bool ExclusiveOpenIsEnforced() { return true; }

std::uint64_t ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval &t) { return static_cast<std::uint64_t>(t.tv_sec) * 1000u + t.tv_usec / 1000; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace vorn_test
