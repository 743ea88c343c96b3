// The device end under Wine: the native peer process (wine_pty_peer.py) owns the pty
// behind the COM port; it is scripted over a loopback socket.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "serial/device_peer.h"

namespace vorn_test {

namespace {

std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Unhex(std::string_view text) {
  std::string out;
  auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    out += static_cast<char>(value(text[i]) << 4 | value(text[i + 1]));
  return out;
}

class RemotePty final : public DevicePeer {
 public:
  ~RemotePty() override {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }

  bool Connect(std::string &error) {
    const char *port = std::getenv("VORN_PEER_PORT");
    const char *com = std::getenv("VORN_PEER_COM");
    if (!port || !com) {
      error = "VORN_PEER_PORT/VORN_PEER_COM not set: run under wine_pty_peer.py";
      return false;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
      error = "WSAStartup failed";
      return false;
    }
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket_ == INVALID_SOCKET || connect(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
      error = "cannot reach the peer on 127.0.0.1:" + std::string(port);
      return false;
    }
    const BOOL noDelay = TRUE;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof noDelay);
    portName_ = u"\\\\.\\";
    for (const char *c = com; *c; ++c) portName_ += static_cast<char16_t>(*c);
    return true;
  }

  bool Renew() override { return Ask("RENEW") == "OK"; }
  std::u16string PortName() override { return portName_; }
  bool Send(std::string_view bytes) override { return Ask("SEND " + Hex(bytes)) == "OK"; }

  std::string Receive(std::size_t count, std::uint32_t timeoutMs) override {
    const std::string reply = Ask("RECV " + std::to_string(count) + " " + std::to_string(timeoutMs));
    return reply.rfind("DATA", 0) == 0 && reply.size() > 5 ? Unhex(std::string_view(reply).substr(5)) : "";
  }

  void Drain() override { Ask("DRAIN"); }
  void HangUp() override { Ask("HANGUP"); }

  bool Line(LineSettings &out) override {
    const std::string reply = Ask("LINE");
    int rate, cs8, parity, two, flow, raw;
    if (std::sscanf(reply.c_str(), "LINE %d %d %d %d %d %d", &rate, &cs8, &parity, &two, &flow, &raw) != 6)
      return false;
    out = {rate, cs8 != 0, parity != 0, two != 0, flow != 0, raw != 0};
    return true;
  }

 private:
  std::string Ask(const std::string &request) {
    std::lock_guard<std::mutex> hold(lock_);
    const std::string line = request + "\n";
    if (send(socket_, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size())) return "";
    std::string reply;
    char c;
    while (recv(socket_, &c, 1, 0) == 1) {
      if (c == '\n') return reply;
      reply += c;
    }
    return "";
  }

  SOCKET socket_ = INVALID_SOCKET;
  std::u16string portName_;
  std::mutex lock_;
};

}  // namespace

std::unique_ptr<DevicePeer> OpenDevicePeer(std::string &error) {
  auto peer = std::make_unique<RemotePty>();
  if (!peer->Connect(error)) return nullptr;
  return peer;
}

std::u16string MissingPortName() { return u"C:\\vorn-no-such-port"; }

bool ExclusiveOpenIsEnforced() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return !(ntdll && GetProcAddress(ntdll, "wine_get_version"));
}

std::uint64_t ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto ms = [](const FILETIME &t) {
    return ((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000u;
  };
  return ms(kernel) + ms(user);
}

}  // namespace vorn_test
