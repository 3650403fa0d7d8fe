#!/usr/bin/env bash
# Installs every Debian package the build, the quick start and the tests
# need. Idempotent: installs only what is missing. Works as root, or through
# sudo otherwise. With --build-list, prints the build's packages instead.
set -euo pipefail

# The normal build with its server-free tests, and building and linting the
# Debian package: also all a Debian 13 root gets (scripts/debian13_root.sh).
BUILD=(
  g++ cmake ninja-build pkg-config
  libssh-dev libicu-dev nlohmann-json3-dev libssl-dev zlib1g-dev libzstd-dev
  libpam0g-dev libgtest-dev libgmock-dev strace
  build-essential debhelper dpkg-dev lintian
)
if [ "${1:-}" = --build-list ]; then
  printf '%s\n' "${BUILD[@]}"
  exit 0
fi

PACKAGES=(
  "${BUILD[@]}"
  # the sanitizer build, formatting, benchmarks
  clang libclang-rt-14-dev clang-format openssl libbenchmark-dev
  # the simulated device and the tests around it
  openssh-server openssh-client sshpass valgrind python3 procps time
  # real shells as the device's login shell, behind sshd and dropbear
  dropbear-bin zsh mksh fish tcsh busybox
  # a real Zabbix server for delivery tests (php8.2-cgi first, so apt does not
  # pull in Apache for PHP)
  php8.2-cgi php8.2-pgsql postgresql zabbix-server-pgsql zabbix-agent
  zabbix-frontend-php
  # the proxy tests (zabbix_test_server/lib.sh fetches and unpacks
  # zabbix-proxy-sqlite3 on first use: installing it removes the server)
  sqlite3 iproute2
  # a Debian 13 root for the build there (scripts/debian13_root.sh)
  debootstrap
  # the package's manual pages and the dashboard picture
  groff-base man-db chromium
)

if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi

missing=()
for package in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present" >&2
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
# Package scripts must not start system services (PostgreSQL, Zabbix, sshd):
# the tests start private instances of their own.
policy=/usr/sbin/policy-rc.d
own_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${SUDO[@]}" tee "$policy" >/dev/null
  "${SUDO[@]}" chmod +x "$policy"
  own_policy=1
fi
cleanup() { [ "$own_policy" -eq 1 ] && "${SUDO[@]}" rm -f "$policy"; true; }
trap cleanup EXIT

"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done" >&2
