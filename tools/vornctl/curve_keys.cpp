#include "tools/vornctl/curve_keys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <zmq.h>

namespace vornctl {

namespace {

// Far beyond any key file or list of a ward's machines.
constexpr std::size_t kKeyFileLimit = 1024 * 1024;

std::string Trim(const std::string &s) {
  const std::size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

// A key file's lines without comments and blank ones; false when unreadable.
bool KeyLines(const std::string &path, std::vector<std::string> &lines, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  if (text.size() > kKeyFileLimit) {
    error = path + " is too large for a key file";
    return false;
  }
  std::istringstream split(text);
  std::string line;
  while (std::getline(split, line)) {
    line = Trim(line);
    if (!line.empty() && line.front() != '#') lines.push_back(line);
  }
  return true;
}

// "public-key = X" gives ("public-key", X); a bare key gives ("", key). Z85
// has '=' among its characters, so only a known label before it counts.
std::pair<std::string, std::string> Labelled(const std::string &line) {
  for (const char *label : {"public-key", "secret-key"}) {
    const std::string l = label;
    if (line.rfind(l, 0) != 0) continue;
    const std::string rest = Trim(line.substr(l.size()));
    if (rest.empty() || rest.front() != '=') break;
    std::string value = Trim(rest.substr(1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return {l, value};
  }
  return {"", line};
}

// A name as it may stand in a comment line.
std::string CommentSafe(const std::string &text) {
  std::string out;
  for (char c : text) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
  return out;
}

bool WriteNew(const std::string &path, const std::string &text, mode_t mode, std::string &error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) {
    error = errno == EEXIST ? path + " exists; keygen never replaces a key (remove it first, or choose another name)"
                            : "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  const int saved = errno;
  if (::close(fd) != 0 || !ok) {
    error = "cannot write " + path + ": " + std::strerror(ok ? errno : saved);
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool IsZ85Key(const std::string &text) {
  if (text.size() != kZ85KeyLength) return false;
  std::uint8_t bytes[32];
  return zmq_z85_decode(bytes, text.c_str()) != nullptr;
}

bool ReadKeyFile(const std::string &path, CurveKeys &out, std::string &error) {
  std::vector<std::string> lines;
  if (!KeyLines(path, lines, error)) return false;
  out = CurveKeys{};
  for (const std::string &line : lines) {
    const auto [label, value] = Labelled(line);
    std::string *slot = nullptr;
    if (label.empty() || label == "public-key") slot = &out.publicKey;
    if (label == "secret-key") slot = &out.secretKey;
    if (!slot || !IsZ85Key(value)) {
      error = path + " is not a key file of vornctl keygen (a line is neither a comment nor a 40-character key)";
      return false;
    }
    *slot = value;
  }
  if (!out.secretKey.empty()) {
    char derived[kZ85KeyLength + 1];
    if (zmq_curve_public(derived, out.secretKey.c_str()) != 0) {
      error = "cannot use the secret key in " + path + ": " + zmq_strerror(zmq_errno());
      return false;
    }
    if (!out.publicKey.empty() && out.publicKey != derived) {
      error = path + ": its public key does not belong to its secret key";
      return false;
    }
    out.publicKey = derived;
  }
  if (out.publicKey.empty()) {
    error = path + " holds no key";
    return false;
  }
  return true;
}

bool ReadClientKeys(const std::string &path, std::set<std::string> &out, std::string &error) {
  std::vector<std::string> lines;
  if (!KeyLines(path, lines, error)) return false;
  out.clear();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto [label, value] = Labelled(lines[i]);
    if (label == "secret-key") {
      error = path + " holds a secret key; list only the clients' public keys (their NAME.pub files)";
      return false;
    }
    if ((!label.empty() && label != "public-key") || !IsZ85Key(value)) {
      error = path + ": a line is not a 40-character public key: '" + lines[i].substr(0, 60) + "'";
      return false;
    }
    out.insert(value);
  }
  if (out.empty()) {
    error = path + " lists no client key, so no client could connect; add their NAME.pub keys";
    return false;
  }
  return true;
}

bool WriteKeyPair(const std::string &name, CurveKeys &out, std::string &error) {
  char publicKey[kZ85KeyLength + 1];
  char secretKey[kZ85KeyLength + 1];
  if (zmq_curve_keypair(publicKey, secretKey) != 0) {
    error = std::string("this libzmq cannot make CURVE keys: ") + zmq_strerror(zmq_errno());
    return false;
  }
  out.publicKey = publicKey;
  out.secretKey = secretKey;
  const std::string secretPath = name + ".key";
  const std::string publicPath = name + ".pub";
  struct stat st {};
  // Checked first, so a taken .pub leaves no new .key behind.
  for (const std::string &p : {secretPath, publicPath}) {
    if (::lstat(p.c_str(), &st) == 0) {
      error = p + " exists; keygen never replaces a key (remove it first, or choose another name)";
      return false;
    }
  }
  const std::string secretText = "# vornctl CURVE key pair '" + CommentSafe(name) +
                                 "': keep this file to yourself; give " + CommentSafe(publicPath) +
                                 " to the other side\n" + "public-key = " + out.publicKey +
                                 "\nsecret-key = " + out.secretKey + "\n";
  const std::string publicText = "# vornctl CURVE public key '" + CommentSafe(name) + "'\n" + out.publicKey + "\n";
  if (!WriteNew(secretPath, secretText, 0600, error)) return false;
  if (!WriteNew(publicPath, publicText, 0644, error)) {
    ::unlink(secretPath.c_str());
    return false;
  }
  return true;
}

bool LoadClientKeys(const std::string &serverKeyFile, const std::string &clientKeyFile, CurveClientKeys &keys,
                    std::string &error) {
  keys = CurveClientKeys{};
  if (serverKeyFile.empty() && clientKeyFile.empty()) return true;
  if (serverKeyFile.empty() || clientKeyFile.empty()) {
    error = serverKeyFile.empty()
                ? "--client-key needs --server-key FILE too (the publisher's public key, its NAME.pub)"
                : "--server-key needs --client-key FILE too (this client's key pair from 'vornctl keygen NAME', "
                  "whose NAME.pub the publisher lists in its --curve-clients file)";
    return false;
  }
  CurveKeys server;
  if (!ReadKeyFile(serverKeyFile, server, error)) {
    error = "--server-key: " + error;
    return false;
  }
  CurveKeys client;
  if (!ReadKeyFile(clientKeyFile, client, error)) {
    error = "--client-key: " + error;
    return false;
  }
  if (client.secretKey.empty()) {
    error = "--client-key " + clientKeyFile +
            " holds only a public key; give the key pair file (NAME.key from 'vornctl keygen NAME')";
    return false;
  }
  struct stat st {};
  if (::stat(clientKeyFile.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    std::fprintf(stderr,
                 "vornctl: warning: %s holds a secret key that other users may read; keep it to yourself "
                 "(chmod 600 %s)\n",
                 clientKeyFile.c_str(), clientKeyFile.c_str());
  }
  keys.serverPublic = server.publicKey;
  keys.clientPublic = client.publicKey;
  keys.clientSecret = client.secretKey;
  return true;
}

}  // namespace vornctl
