#!/usr/bin/env bash
# The steps of debian13_test.sh that run inside the Debian 13 root.
# Usage: debian13_inside.sh install SOURCE_DIR WORK_DIR DEVICE_ENV
#          (build, tests, package, install, debug runs; the package stays)
#        debian13_inside.sh purge
set -euo pipefail
package=cgnat-collector

say() { printf '[debian13] %s\n' "$*" >&2; }
fail() {
  say "ERRO: $*"
  exit 1
}
installed() { [[ $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) == *" installed" ]]; }

if [[ ${1:-} == purge ]]; then
  if installed; then
    log=$(dpkg --purge "$package" 2>&1) || { printf '%s\n' "$log" >&2; fail "dpkg --purge falhou"; }
  fi
  ! installed || fail "$package continua instalado"
  exit 0
fi
[[ ${1:-} == install ]] || fail "uso: $0 install SOURCE_DIR WORK_DIR DEVICE_ENV | purge"
src=$2 work=$3
# shellcheck disable=SC1090
. "$4"

step=$SECONDS
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS=-Werror >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; fail "cmake falhou"; }
cmake --build "$work/build" -j 2 >"$work/build.log" 2>&1 ||
  { grep -E -B2 -A8 'error|warning' "$work/build.log" | head -n 80 >&2; fail "a compilação falhou (GCC $(g++ -dumpversion))"; }
say "compilado sem avisos (GCC $(g++ -dumpversion)) em $((SECONDS - step)) s"

step=$SECONDS
(cd "$work/build" && ctest -L server_free -j 2 --output-on-failure >"$work/ctest.log" 2>&1) ||
  { tail -n 60 "$work/ctest.log" >&2; fail "testes sem servidor falharam"; }
say "$(grep -E 'tests passed' "$work/ctest.log") (server_free) em $((SECONDS - step)) s"

step=$SECONDS
deb=$("$src/scripts/build_package.sh" "$work")
lintian --fail-on error,warning --suppress-tags-from-file /dev/null "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian apontou problemas"; }
# The ICU this release has, as the package's dependency.
icu_package=$(dpkg-query -S "$(find /usr/lib -name 'libicuuc.so.[0-9]*' -type l | head -n 1)" | cut -d: -f1)
grep -qw "$icu_package" <<<"$(dpkg-deb -f "$deb" Depends)" ||
  fail "Depends sem $icu_package: $(dpkg-deb -f "$deb" Depends)"
# Every static archive linked in (CMake lists them) is named in Built-Using.
using=$(dpkg-deb -f "$deb" Built-Using)
while read -r archive; do
  source=$(dpkg-query -W -f='${source:Package} (= ${source:Version})' "$(dpkg-query -S "$archive" | cut -d: -f1)")
  grep -qF "$source" <<<"$using" || fail "Built-Using sem $source ($archive): $using"
done <"$work/build/static-archives.txt"
say "pacote $(basename "$deb") construído e limpo no lintian em $((SECONDS - step)) s"

dpkg -i "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "dpkg -i falhou"; }
# The package's collector, and this machine's build (another release's ICU):
# each must open this root's ICU for the device's non-ASCII line.
for collector in "/usr/bin/$package" "$work/cgnat-collector-host"; do
  status=0
  rm -f "$work"/loader.*
  out=$(LD_DEBUG=files LD_DEBUG_OUTPUT=$work/loader "$collector" discoveryLinux \
    "$DEVICE_HOST" "$DEVICE_PORT" "$DEVICE_USER" "$DEVICE_PASSWORD" debug 2>&1) || status=$?
  ((status == 0)) && ! grep -q '^Erro' <<<"$out" ||
    { printf '%s\n' "$out" >&2; fail "$collector terminou com $status contra o dispositivo"; }
  grep -qF "'{#THREAD_CONTENTION_ERRORS}': '5'" <<<"$out" &&
    grep -qF "'{#FAILED_TO_ALLOCATE_SUBSCRIBER_ADDRESS_OUT}': '2'" <<<"$out" ||
    { printf '%s\n' "$out" >&2; fail "$collector: relatório sem os valores do dispositivo"; }
  icu=$(sed -n 's/.*file=\([^ ]*libicuuc[^ ]*\) .*generating link map.*/\1/p' "$work"/loader.* | head -n 1)
  [[ -n $icu ]] || fail "$collector não abriu a ICU para o texto não ASCII"
  say "$collector: relatório completo, ICU aberta ($icu)"
done
