// PAM module of the simulated device: accepts exactly the bytes of a file
// as the password, whatever their length. pam_unix stops at 512 bytes and
// pam_exec's expose_authtok hands on only the first 511, so neither can
// check a long password. Used as "auth required THIS.so file=PATH".
#include <security/pam_ext.h>
#include <security/pam_modules.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <syslog.h>

namespace {

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
  return same ? PAM_SUCCESS : PAM_AUTH_ERR;
}

PAM_EXTERN int pam_sm_setcred(pam_handle_t *, int, int, const char **) {
  return PAM_SUCCESS;
}
}
