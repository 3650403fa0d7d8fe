#!/bin/bash
# Puts Zabbix 7.0 LTS (Debian 13's packages) into the Debian 13 root that
# scripts/debian13_root.sh keeps, once: the server with PostgreSQL 17, the
# frontend with PHP 8.4 (and the en_US locale), and the sqlite3 proxy unpacked (never installed: it
# conflicts with the server package) under /opt in the root. Later calls
# only check. Run as root.
# Usage: debian13_zabbix.sh
set -euo pipefail
source "$(dirname "$0")/lib.sh"
ZABBIX_RELEASE=7.0 release_settings

# php8.4-cgi first: otherwise apt satisfies PHP's web server with Apache.
# locales: 7.0's frontend shows a warning over every widget unless the
# system has a locale for its language (en_US, made below).
packages=(php8.4-cgi php8.4-cli php8.4-pgsql zabbix-frontend-php
  zabbix-server-pgsql postgresql-17 locales)

installed() {
  local package
  for package in "${packages[@]}"; do
    [[ $(chroot "$ZBX_ROOT" dpkg-query -W -f='${Status}' "$package" 2>/dev/null) == "install ok installed" ]] ||
      return 1
  done
  [[ -x $ZBX_ROOT$ZBX_PROXY_DIR/usr/sbin/zabbix_proxy ]] &&
    [[ -d $ZBX_ROOT/usr/lib/locale/en_US.utf8 ]]
}

[[ -x $ZBX_ROOT/usr/bin/apt-get ]] || bash "$HERE/../scripts/debian13_root.sh" create
installed && exit 0
started=$SECONDS
say "instalando o Zabbix 7.0 na raiz Debian 13 ($ZBX_ROOT)"
bash "$HERE/../scripts/debian13_root.sh" run -- env DEBIAN_FRONTEND=noninteractive \
  ZBX_PROXY_DIR="$ZBX_PROXY_DIR" bash -euc '
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "$@" >/dev/null
    [ -d /usr/lib/locale/en_US.utf8 ] || localedef --no-archive -i en_US -f UTF-8 en_US.UTF-8
    if [ ! -x "$ZBX_PROXY_DIR/usr/sbin/zabbix_proxy" ]; then
      work=$(mktemp -d /var/tmp/proxy.XXXXXX)
      (cd "$work" && apt-get download -qq zabbix-proxy-sqlite3)
      rm -rf "$ZBX_PROXY_DIR"
      dpkg-deb -x "$work"/zabbix-proxy-sqlite3_*.deb "$ZBX_PROXY_DIR"
      rm -rf "$work"
    fi
    apt-get clean' packages "${packages[@]}"
installed || die "pacotes do Zabbix 7.0 ausentes na raiz após a instalação"
say "Zabbix 7.0 instalado na raiz em $((SECONDS - started)) s"
