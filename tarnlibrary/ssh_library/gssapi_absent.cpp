// The collector logs in by password or keyboard-interactive, never with
// Kerberos, yet libssh's static archive names the GSS-API calls of its
// gssapi-with-mic method. Here they answer "unavailable", so a run does not
// map five Kerberos libraries only to leave them unused. libssh reaches them
// only when asked for that method, which the collector never does.
#include <cstdint>

namespace {

constexpr std::uint32_t GSS_S_UNAVAILABLE = 16u << 16;

// Every GSS-API call takes its minor status first.
std::uint32_t unavailable(std::uint32_t *minor) {
  if (minor)
    *minor = 0;
  return GSS_S_UNAVAILABLE;
}

} // namespace

#define TARN_GSS_ABSENT(name)                                                  \
  std::uint32_t name(std::uint32_t *minor, ...) { return unavailable(minor); }

extern "C" {
void *GSS_C_NT_HOSTBASED_SERVICE = nullptr;
void *GSS_C_NT_USER_NAME = nullptr;
TARN_GSS_ABSENT(gss_accept_sec_context)
TARN_GSS_ABSENT(gss_acquire_cred)
TARN_GSS_ABSENT(gss_add_oid_set_member)
TARN_GSS_ABSENT(gss_create_empty_oid_set)
TARN_GSS_ABSENT(gss_delete_sec_context) // libssh 0.11 on
TARN_GSS_ABSENT(gss_display_name)
TARN_GSS_ABSENT(gss_display_status)
TARN_GSS_ABSENT(gss_get_mic)
TARN_GSS_ABSENT(gss_import_name)
TARN_GSS_ABSENT(gss_indicate_mechs)
TARN_GSS_ABSENT(gss_init_sec_context)
TARN_GSS_ABSENT(gss_inquire_cred)
TARN_GSS_ABSENT(gss_inquire_cred_by_mech)
TARN_GSS_ABSENT(gss_release_buffer)
TARN_GSS_ABSENT(gss_release_cred)
TARN_GSS_ABSENT(gss_release_name)
TARN_GSS_ABSENT(gss_release_oid) // libssh 0.11 on
TARN_GSS_ABSENT(gss_release_oid_set)
TARN_GSS_ABSENT(gss_test_oid_set_member)
TARN_GSS_ABSENT(gss_verify_mic)
}
