// CURVE keys as text files, written by `vornctl keygen NAME`:
//   NAME.key  "public-key = Z85" and "secret-key = Z85" lines, for its owner only
//   NAME.pub  the public key alone, to hand to the other side
// Keys are libzmq's Z85 text (40 characters); lines starting with # are
// comments. A file of client keys holds one public key per line, so
// `cat a.pub b.pub > clients` makes one.
#pragma once

#include <set>
#include <string>

namespace vornctl {

constexpr std::size_t kZ85KeyLength = 40;

struct CurveKeys {
  std::string publicKey;  // Z85
  std::string secretKey;  // Z85; empty in a .pub file
};

// A 40-character Z85 text that decodes to 32 bytes.
bool IsZ85Key(const std::string &text);

// A .key or .pub file. A secret key without its public one gets it derived;
// the two must belong together.
bool ReadKeyFile(const std::string &path, CurveKeys &out, std::string &error);

// The public keys a server admits. A file that holds a secret key is refused:
// it was meant for its owner alone.
bool ReadClientKeys(const std::string &path, std::set<std::string> &out, std::string &error);

// A new key pair (zmq_curve_keypair) into NAME.key and NAME.pub; neither
// may exist already.
bool WriteKeyPair(const std::string &name, CurveKeys &out, std::string &error);

// A subscriber's keys: the publisher's public key and the client's own pair.
struct CurveClientKeys {
  std::string serverPublic;  // Z85
  std::string clientPublic;
  std::string clientSecret;
  bool Enabled() const { return !serverPublic.empty(); }
};

// serverKeyFile: the publisher's public key (its NAME.pub). clientKeyFile:
// this client's pair (NAME.key), whose public key the publisher lists.
// Both or neither; the error names the option, the file and what is wrong.
bool LoadClientKeys(const std::string &serverKeyFile, const std::string &clientKeyFile, CurveClientKeys &keys,
                    std::string &error);

}  // namespace vornctl
