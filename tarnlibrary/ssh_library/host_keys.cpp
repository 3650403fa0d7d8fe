// The device's host key against known_hosts, by the run's policy.
#include "tarnlibrary/ssh_library/ssh_session.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn {
namespace {

struct KeyFree {
  void operator()(ssh_key key) const { ssh_key_free(key); }
};
using KeyHandle = std::unique_ptr<ssh_key_struct, KeyFree>;

std::runtime_error system_failure(const std::string &what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

// "ssh-ed25519 SHA256:..." of the key the device showed.
std::string key_identity(ssh_session session) {
  ssh_key raw = nullptr;
  if (ssh_get_server_publickey(session, &raw) != SSH_OK)
    return "chave desconhecida";
  KeyHandle key(raw);
  unsigned char *hash = nullptr;
  size_t length = 0;
  if (ssh_get_publickey_hash(key.get(), SSH_PUBLICKEY_HASH_SHA256, &hash,
                             &length) != SSH_OK)
    return ssh_key_type_to_char(ssh_key_type(key.get()));
  char *fingerprint =
      ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
  ssh_clean_pubkey_hash(&hash);
  std::string identity =
      std::string(ssh_key_type_to_char(ssh_key_type(key.get()))) + " " +
      (fingerprint != nullptr ? fingerprint : "");
  ssh_string_free_char(fingerprint);
  return identity;
}

// Appends the device's line to the file under an exclusive lock, so runs
// for other devices at the same moment keep their lines, and flushes it to
// the disk before the login goes on.
void append_known_host(ShellSession &state, const std::string &file) {
  char *raw = nullptr;
  if (ssh_session_export_known_hosts_entry(state.session.get(), &raw) != SSH_OK)
    throw std::runtime_error("SSH " + state.where +
                             ": não foi possível montar a linha de "
                             "known_hosts: " +
                             ssh_get_error(state.session.get()));
  std::string line = raw;
  ssh_string_free_char(raw);
  if (line.empty() || line.back() != '\n')
    line += '\n';
  std::string what = "SSH " + state.where + ": known_hosts \"" + file + "\"";
  int fd =
      ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    throw system_failure(what + " não pode ser aberto para gravar");
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); } // also releases the lock
  } closer{fd};
  if (::flock(fd, LOCK_EX) != 0)
    throw system_failure(what + " não pode ser travado");
  // Another run may have left its last line without an end.
  struct stat status {};
  if (::fstat(fd, &status) == 0 && status.st_size > 0) {
    char last = '\n';
    if (::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n')
      line.insert(0, "\n");
  }
  if (::write(fd, line.data(), line.size()) !=
          static_cast<ssize_t>(line.size()) ||
      ::fsync(fd) != 0)
    throw system_failure(what + ": falha ao gravar");
}

} // namespace

void check_known_hosts_file(const std::string &file, HostKeyPolicy policy) {
  if (file.empty())
    throw std::runtime_error("o caminho do known_hosts está vazio");
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) {
    if (errno != ENOENT)
      throw system_failure("\"" + file + "\" não pode ser lido");
    std::string folder = file.substr(0, file.find_last_of('/') + 1);
    if (policy == HostKeyPolicy::AcceptNew &&
        ::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0)
      throw system_failure("\"" + file + "\" não existe e não pode ser criado");
    return; // no key known yet
  }
  if (!S_ISREG(status.st_mode))
    throw std::runtime_error("\"" + file + "\" não é um arquivo");
  int wanted = policy == HostKeyPolicy::AcceptNew ? R_OK | W_OK : R_OK;
  if (::access(file.c_str(), wanted) != 0)
    throw system_failure("\"" + file + "\" não pode ser " +
                         (wanted & W_OK ? "lido e gravado" : "lido"));
}

void check_host_key(ShellSession &state, const std::string &known_hosts) {
  ssh_session session = state.session.get();
  HostKeyPolicy policy = state.options.host_key_policy;
  std::string files = state.options.known_hosts.empty()
                          ? "~/.ssh/known_hosts ou /etc/ssh/ssh_known_hosts"
                          : state.options.known_hosts;
  switch (ssh_session_is_known_server(session)) {
  case SSH_KNOWN_HOSTS_OK:
    return;
  case SSH_KNOWN_HOSTS_UNKNOWN:
  case SSH_KNOWN_HOSTS_NOT_FOUND:
    if (policy == HostKeyPolicy::Accept)
      return; // accepted and not recorded
    if (policy == HostKeyPolicy::AcceptNew)
      return append_known_host(state, known_hosts);
    throw std::runtime_error(
        "SSH " + state.where + ": a chave do servidor (" +
        key_identity(session) + ") não está registrada em known_hosts (" +
        files +
        ") e a política é strict; conexão recusada antes de enviar a senha. "
        "Registre a chave (ssh-keyscan) depois de conferi-la");
  case SSH_KNOWN_HOSTS_CHANGED:
  case SSH_KNOWN_HOSTS_OTHER:
    throw std::runtime_error(
        "SSH " + state.where +
        ": a chave do servidor difere da registrada em known_hosts (" + files +
        "); conexão recusada antes de enviar a senha (chave apresentada: " +
        key_identity(session) +
        "). Confirme se o "
        "equipamento foi trocado e atualize o known_hosts, ou investigue uma "
        "interceptação");
  default:
    throw std::runtime_error("SSH " + state.where +
                             ": não foi possível verificar a chave do "
                             "servidor em known_hosts: " +
                             ssh_get_error(session));
  }
}

} // namespace tarn
