#include "tarnlibrary/ssh_library/private_key.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn {
namespace {

// Asked by libssh for a passphrase only when the key is encrypted; answers
// nothing, so the key stays closed.
int note_encrypted(const char *, char *, size_t, int, int, void *asked) {
  *static_cast<bool *>(asked) = true;
  return -1;
}

void check_file(const std::string &file) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0 || ::access(file.c_str(), R_OK) != 0)
    throw std::runtime_error("\"" + file +
                             "\" não pode ser lido: " + std::strerror(errno));
  if (!S_ISREG(status.st_mode))
    throw std::runtime_error("\"" + file + "\" não é um arquivo");
  if ((status.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o",
                  static_cast<unsigned>(status.st_mode & 07777));
    throw std::runtime_error(
        "\"" + file + "\" pode ser lido por outros além do dono (modo " + mode +
        "); a chave privada é só do dono: chmod 600");
  }
}

} // namespace

PrivateKey::PrivateKey(const std::string &file, const std::string &passphrase)
    : file_(file) {
  check_file(file);
  if (ssh_pki_import_privkey_file(file.c_str(), passphrase.c_str(), nullptr,
                                  nullptr, &key_) == SSH_OK) {
    type_ = ssh_key_type_to_char(ssh_key_type(key_));
    return;
  }
  key_ = nullptr;
  // Tell a closed key from one that is not a key at all.
  bool asked = false;
  ssh_key probe = nullptr;
  if (ssh_pki_import_privkey_file(file.c_str(), nullptr, note_encrypted, &asked,
                                  &probe) == SSH_OK)
    ssh_key_free(probe);
  if (asked)
    throw std::runtime_error(
        "a chave em \"" + file +
        "\" é cifrada e a senha da linha de comando não a abre (a senha é "
        "usada como frase-senha da chave)");
  throw std::runtime_error("\"" + file +
                           "\" não contém uma chave privada legível (formato "
                           "OpenSSH: ed25519, ECDSA ou RSA)");
}

PrivateKey::~PrivateKey() { forget(); }

void PrivateKey::forget() {
  ssh_key_free(key_);
  key_ = nullptr;
}

} // namespace tarn
