// The CURVE keys of a subscriber: the publisher's public key and the
// client's own pair, read from the Z85 text files `vornctl keygen NAME`
// writes (NAME.pub: the public key; NAME.key: the secret key with its public).
#pragma once

#include <string>

namespace vornctl {

struct CurveClientKeys {
  std::string serverPublic;  // Z85, 40 characters
  std::string clientPublic;
  std::string clientSecret;
  bool Enabled() const { return !serverPublic.empty(); }
};

// Z85 text of a 32-byte key: exactly 40 characters of the Z85 alphabet.
bool IsZ85Key(const std::string &text);

// The keys in a key file's text: lines "KEY", "public-key = \"KEY\"",
// "secret-key: KEY" and the like; blank lines and comments (# ...) aside.
// A key without a label is told apart by deriving public from secret.
struct KeyFileKeys {
  std::string publicKey;
  std::string secretKey;
};
bool ParseKeyFile(const std::string &text, KeyFileKeys &keys, std::string &error);

// serverKeyFile: the publisher's public key (its NAME.pub). clientKeyFile:
// this client's pair (NAME.key), whose public key the publisher lists.
// Both or neither; the error names the file and what is wrong with it.
bool LoadClientKeys(const std::string &serverKeyFile, const std::string &clientKeyFile, CurveClientKeys &keys,
                    std::string &error);

}  // namespace vornctl
