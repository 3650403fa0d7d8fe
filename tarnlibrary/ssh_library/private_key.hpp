// The private key a run logs in with, held only as long as needed.
#pragma once

#include <libssh/libssh.h>
#include <string>

namespace tarn {

// An OpenSSH private key (ed25519, ECDSA or RSA) read from its file. libssh
// wipes the key's numbers when it frees them: at forget() or destruction.
class PrivateKey {
public:
  // Reads file, opening an encrypted key with passphrase. Throws
  // std::runtime_error, never quoting the key or the passphrase, when the
  // file cannot be read, others than its owner may read it, it holds no key
  // this library reads, or the passphrase does not open it.
  PrivateKey(const std::string &file, const std::string &passphrase);
  ~PrivateKey();
  PrivateKey(const PrivateKey &) = delete;
  PrivateKey &operator=(const PrivateKey &) = delete;

  const std::string &file() const { return file_; }
  // The key, or nullptr once forgotten.
  ssh_key get() const { return key_; }
  // "ssh-ed25519" and the like.
  std::string type() const { return type_; }
  // Frees the key now: authentication is over.
  void forget();

private:
  std::string file_, type_;
  ssh_key key_ = nullptr;
};

} // namespace tarn
