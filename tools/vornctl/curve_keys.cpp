#include "tools/vornctl/curve_keys.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <cstring>
#include <vector>

#include <zmq.h>

namespace vornctl {

namespace {

constexpr std::size_t kZ85KeyLength = 40;
constexpr char kZ85Alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-:+=^!/*?&<>()[]{}@%$#";
// A key file is a few lines; anything longer is not one.
constexpr std::streamsize kMaxKeyFileBytes = 64 * 1024;

std::string Trim(const std::string &s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string PublicOf(const std::string &secret) {
  char pub[kZ85KeyLength + 1] = {};
  return zmq_curve_public(pub, secret.c_str()) == 0 ? std::string(pub) : std::string();
}

bool ReadSmallFile(const std::string &path, std::string &text, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the key file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<char> buffer(static_cast<std::size_t>(kMaxKeyFileBytes) + 1);
  in.read(buffer.data(), kMaxKeyFileBytes + 1);
  if (in.gcount() > kMaxKeyFileBytes) {
    error = path + " is not a key file (larger than 64 KiB)";
    return false;
  }
  text.assign(buffer.data(), static_cast<std::size_t>(in.gcount()));
  return true;
}

}  // namespace

bool IsZ85Key(const std::string &text) {
  return text.size() == kZ85KeyLength && text.find_first_not_of(kZ85Alphabet) == std::string::npos;
}

bool ParseKeyFile(const std::string &text, KeyFileKeys &keys, std::string &error) {
  keys = KeyFileKeys{};
  std::vector<std::string> unlabeled;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    line = Trim(line);
    // '#' is a Z85 character too: a line that is a whole key is a key.
    if (line.empty() || (line.front() == '#' && !IsZ85Key(line))) continue;
    std::string label;
    std::string value = line;
    const std::size_t sep = line.find_first_of("=:");
    if (!IsZ85Key(line) && sep != std::string::npos) {
      label = Lower(Trim(line.substr(0, sep)));
      value = Trim(line.substr(sep + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
    }
    if (!IsZ85Key(value)) continue;
    if (label.find("secret") != std::string::npos || label.find("private") != std::string::npos) {
      keys.secretKey = value;
    } else if (label.find("public") != std::string::npos) {
      keys.publicKey = value;
    } else {
      unlabeled.push_back(value);
    }
  }
  // Unlabelled keys: the secret one is the one whose public key is there too.
  for (const std::string &k : unlabeled) {
    const std::string derived = PublicOf(k);
    bool partner = derived == keys.publicKey;
    for (const std::string &other : unlabeled) partner = partner || (other != k && derived == other);
    if (partner && keys.secretKey.empty()) keys.secretKey = k;
  }
  for (const std::string &k : unlabeled) {
    if (k != keys.secretKey && keys.publicKey.empty()) keys.publicKey = k;
  }
  if (keys.publicKey.empty() && !keys.secretKey.empty()) keys.publicKey = PublicOf(keys.secretKey);
  if (keys.publicKey.empty() && keys.secretKey.empty()) {
    error = "holds no key (a CURVE key is 40 characters of Z85 text, as vornctl keygen writes it)";
    return false;
  }
  if (!keys.secretKey.empty() && PublicOf(keys.secretKey) != keys.publicKey) {
    error = "holds a public key that does not belong to its secret key";
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
  std::string text;
  KeyFileKeys server;
  if (!ReadSmallFile(serverKeyFile, text, error)) return false;
  if (!ParseKeyFile(text, server, error)) {
    error = "--server-key " + serverKeyFile + " " + error;
    return false;
  }
  KeyFileKeys client;
  if (!ReadSmallFile(clientKeyFile, text, error)) return false;
  if (!ParseKeyFile(text, client, error)) {
    error = "--client-key " + clientKeyFile + " " + error;
    return false;
  }
  if (client.secretKey.empty()) {
    error = "--client-key " + clientKeyFile +
            " holds only a public key; give the key pair file (NAME.key from 'vornctl keygen NAME')";
    return false;
  }
  struct stat st {};
  if (stat(clientKeyFile.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
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
