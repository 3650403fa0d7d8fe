#include "tarnlibrary/process_library/process_library.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

namespace tarn {
namespace {

// Owns a file descriptor so that every path closes it.
struct Fd {
  int fd = -1;
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0)
      ::close(fd);
    fd = -1;
  }
};

void write_all(int fd, const void *data, size_t size) {
  const char *p = static_cast<const char *>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    p += n;
    size -= static_cast<size_t>(n);
  }
}

// Copies every line the background run writes into the system log.
[[noreturn]] void relay_to_syslog(int from, const std::string &identity) {
  openlog(identity.c_str(), LOG_PID, LOG_DAEMON);
  std::string pending;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      syslog(LOG_INFO, "%s", pending.substr(0, end).c_str());
      pending.erase(0, end + 1);
    }
  }
  if (!pending.empty())
    syslog(LOG_INFO, "%s", pending.c_str());
  ::_exit(0);
}

void to_dev_null(int target) {
  int null = ::open("/dev/null", O_RDWR);
  if (null >= 0 && null != target) {
    ::dup2(null, target);
    ::close(null);
  }
}

// A sealed anonymous memory file holding secret: unlike a pipe it never
// blocks the writer, whatever the size.
int secret_file(const std::string &secret) {
  int fd = ::memfd_create("cgnat-secret", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0)
    throw std::runtime_error(std::string("memfd_create falhou: ") +
                             std::strerror(errno));
  size_t done = 0;
  while (done < secret.size()) {
    ssize_t n = ::write(fd, secret.data() + done, secret.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      int error = errno;
      ::close(fd);
      throw std::runtime_error(std::string("não foi possível guardar a senha "
                                           "para a execução em segundo "
                                           "plano: ") +
                               std::strerror(error));
    }
    done += static_cast<size_t>(n);
  }
  ::fcntl(fd, F_ADD_SEALS,
          F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
  return fd;
}

} // namespace

pid_t spawn_detached(const std::string &executable,
                     const std::vector<std::string> &words,
                     const std::string &identity, const std::string *secret) {
  // Built before forking: the child may only exec or report.
  std::vector<char *> argv;
  for (const auto &word : words)
    argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);
  Fd secret_fd;
  std::string secret_variable;
  std::vector<char *> envp;
  if (secret != nullptr) {
    secret_fd.fd = secret_file(*secret);
    secret_variable =
        std::string(SECRET_FD_VARIABLE) + "=" + std::to_string(secret_fd.fd);
    envp.push_back(secret_variable.data());
  }
  const std::string own = std::string(SECRET_FD_VARIABLE) + "=";
  for (char **entry = environ; *entry != nullptr; ++entry)
    if (std::strncmp(*entry, own.c_str(), own.size()) != 0)
      envp.push_back(*entry);
  envp.push_back(nullptr);

  // The started run's pid, then an exec error number if exec failed; the
  // pipe reaches end of file once exec has succeeded.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("não foi possível criar pipe: ") +
                             std::strerror(errno));
  Fd report_read{report[0]}, report_write{report[1]};

  pid_t middle = ::fork();
  if (middle < 0)
    throw std::runtime_error(std::string("fork falhou: ") +
                             std::strerror(errno));
  if (middle == 0) {
    int log_pipe[2];
    if (::pipe(log_pipe) != 0)
      ::_exit(1);
    pid_t relay = ::fork();
    if (relay == 0) {
      ::setsid();
      ::close(report[1]);
      ::close(log_pipe[1]);
      secret_fd.reset();
      to_dev_null(STDIN_FILENO);
      to_dev_null(STDOUT_FILENO);
      to_dev_null(STDERR_FILENO);
      relay_to_syslog(log_pipe[0], identity);
    }
    pid_t run = ::fork();
    if (run == 0) {
      ::setsid(); // no terminal or session of the caller's reaches it
      ::close(log_pipe[0]);
      to_dev_null(STDIN_FILENO);
      ::dup2(log_pipe[1], STDOUT_FILENO);
      ::dup2(log_pipe[1], STDERR_FILENO);
      if (log_pipe[1] > STDERR_FILENO)
        ::close(log_pipe[1]);
      if (secret_fd.fd >= 0)
        ::fcntl(secret_fd.fd, F_SETFD, 0); // this one is inherited
      ::execve(executable.c_str(), argv.data(), envp.data());
      int error = errno;
      write_all(report[1], &error, sizeof error);
      ::_exit(127);
    }
    write_all(report[1], &run, sizeof run);
    ::_exit(run > 0 && relay > 0 ? 0 : 1);
  }

  report_write.reset();
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  pid_t run = -1;
  int exec_error = 0;
  std::string received;
  char buffer[64];
  for (;;) {
    ssize_t n = ::read(report_read.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    received.append(buffer, static_cast<size_t>(n));
  }
  if (received.size() >= sizeof run)
    std::memcpy(&run, received.data(), sizeof run);
  if (received.size() >= sizeof run + sizeof exec_error)
    std::memcpy(&exec_error, received.data() + sizeof run, sizeof exec_error);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || run <= 0)
    throw std::runtime_error(
        "não foi possível iniciar a execução em segundo plano");
  if (exec_error != 0)
    throw std::runtime_error("não foi possível executar " + executable + ": " +
                             std::strerror(exec_error));
  return run;
}

void launch(const std::string &mode, std::vector<std::string> words,
            size_t secret_word) {
  size_t mark = mode.find(LAUNCH_MARK);
  if (words.size() < 2 || secret_word >= words.size() ||
      mark == std::string::npos)
    throw std::runtime_error("linha de comando inválida para launch");
  words[1] = mode.substr(mark + LAUNCH_MARK.size());
  std::string secret = std::move(words[secret_word]);
  words[secret_word] = SECRET_MASK;
  struct Wipe {
    std::string &text;
    ~Wipe() { explicit_bzero(text.data(), text.size()); }
  } wipe{secret};
  // This very executable, even if its file was replaced since it started.
  spawn_detached("/proc/self/exe", words, "cgnat-collector", &secret);
}

} // namespace tarn
