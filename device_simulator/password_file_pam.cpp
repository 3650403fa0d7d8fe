// PAM module of the simulated device: accepts exactly the bytes of a file
// as the password, whatever their length. pam_unix stops at 512 bytes and
// pam_exec's expose_authtok hands on only the first 511, so neither can
// check a long password. Used as "auth required THIS.so file=PATH
// [ask_pause_ms=N] [answer_pause_ms=N]".
#include <security/pam_ext.h>
#include <security/pam_modules.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <syslog.h>
#include <thread>

namespace {

// "ask_pause_ms=N", "answer_pause_ms=N": waits before asking for the
// password and before answering, as a device whose password check is slow
// (a remote AAA server, a busy control plane) does at each login step.
void pause_if_asked(int argc, const char **argv, const char *name) {
  size_t length = std::strlen(name);
  for (int i = 0; i < argc; ++i)
    if (std::strncmp(argv[i], name, length) == 0 && argv[i][length] == '=') {
      long ms = std::strtol(argv[i] + length + 1, nullptr, 10);
      if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

bool read_expected(int argc, const char **argv, std::string &expected) {
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "file=", 5) != 0)
      continue;
    std::ifstream file(argv[i] + 5, std::ios::binary);
    if (!file)
      return false;
    expected.assign(std::istreambuf_iterator<char>(file), {});
    return true;
  }
  return false;
}

} // namespace

extern "C" {

PAM_EXTERN int pam_sm_authenticate(pam_handle_t *pamh, int, int argc,
                                   const char **argv) {
  std::string expected;
  if (!read_expected(argc, argv, expected)) {
    pam_syslog(pamh, LOG_ERR, "no readable file= argument");
    return PAM_AUTHINFO_UNAVAIL;
  }
  pause_if_asked(argc, argv, "ask_pause_ms");
  // Asked directly: the answer comes back as the client sent it.
  char *answer = nullptr;
  int asked = pam_prompt(pamh, PAM_PROMPT_ECHO_OFF, &answer, "Password: ");
  if (asked != PAM_SUCCESS || answer == nullptr)
    return asked == PAM_CONV_AGAIN ? PAM_INCOMPLETE : PAM_AUTH_ERR;
  size_t got = std::strlen(answer);
  bool same =
      got == expected.size() && std::memcmp(answer, expected.data(), got) == 0;
  // The length, never the bytes, for whoever reads the system log.
  pam_syslog(pamh, LOG_NOTICE, "password of %zu bytes %s", got,
             same ? "accepted" : "refused");
  std::memset(answer, 0, got);
  std::free(answer);
  pause_if_asked(argc, argv, "answer_pause_ms");
  return same ? PAM_SUCCESS : PAM_AUTH_ERR;
}

PAM_EXTERN int pam_sm_setcred(pam_handle_t *, int, int, const char **) {
  return PAM_SUCCESS;
}
}
