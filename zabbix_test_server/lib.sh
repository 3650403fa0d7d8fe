# Shared pieces of the private Zabbix test server scripts (sourced, not run).

PG_CLIENT_BIN=/usr/lib/postgresql/15/bin # this machine's; serves either server
ZBX_FRONTEND=/usr/share/zabbix
ZBX_SCHEMA=/usr/share/zabbix-server-pgsql
ZBX_DB=zabbix
ZBX_DB_USER=zabbix
ZBX_PG_PORT=5432 # only names the socket file; the socket dir is private
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DEFAULT_STATE_DIR=/var/tmp/cgnat-zabbix-state
CACHE_DIR=${CGNAT_ZBX_CACHE:-/var/tmp/cgnat-zabbix-cache}

say() { printf '[zabbix-test] %s\n' "$*" >&2; }
die() {
  say "ERRO: $*"
  exit 1
}

# ZABBIX_RELEASE picks the server: 6.0 (this machine's Debian 12 packages)
# or 7.0 (Debian 13's, in the root scripts/debian13_root.sh keeps, put there
# by debian13_zabbix.sh). Paths such as PG_BIN and ZBX_SCHEMA are inside
# ZBX_ROOT (empty for 6.0); IN_ROOT runs a command there (see in_root.sh).
release_settings() {
  ZBX_RELEASE=${ZABBIX_RELEASE:-6.0}
  ZBX_PROXY_DIR=/opt/zabbix-proxy-sqlite3 # in the root (7.0)
  case $ZBX_RELEASE in
    6.0)
      ZBX_ROOT=
      PG_BIN=/usr/lib/postgresql/15/bin
      ;;
    7.0)
      ZBX_ROOT=${CGNAT_DEBIAN13_ROOT:-/var/cache/cgnat-collector/debian13-root}
      PG_BIN=/usr/lib/postgresql/17/bin
      ;;
    *) die "ZABBIX_RELEASE=$ZBX_RELEASE: use 6.0 ou 7.0" ;;
  esac
}
release_settings

# The command prefix that runs a program in the release's root with DIRs
# (and /tmp) at their own paths, keeping its pid; empty for 6.0.
in_root() { # DIR...
  IN_ROOT=()
  [[ -z $ZBX_ROOT ]] && return 0
  [[ -x $ZBX_ROOT/usr/sbin/zabbix_server ]] ||
    die "Zabbix 7.0 ausente em $ZBX_ROOT: rode zabbix_test_server/debian13_zabbix.sh"
  IN_ROOT=(unshare --mount --propagation private -- bash "$HERE/in_root.sh" "$ZBX_ROOT" "$@" --)
}

# A folder inside the release's root (the root's own
# /etc/zabbix/externalscripts, filled by a package installed there) is the
# root's: its daemons name it by its path there, and nothing is bound.
inside_root() { [[ -n $ZBX_ROOT && $1 == "$ZBX_ROOT"/* ]]; }

# ExternalScripts=DIR as the release's daemons see it; nothing without DIR.
external_setting() { # DIR
  [[ -n $1 ]] || return 0
  local dir=$1
  if inside_root "$dir"; then dir=${dir#"$ZBX_ROOT"}; fi
  echo "ExternalScripts=$dir"
}

# The folders a root's poller needs for the external checks in DIR: DIR and
# where each of its symbolic links leads (none for the root's own DIR).
external_dirs() { # DIR
  [[ -n $1 ]] && ! inside_root "$1" || return 0
  local entry
  echo "$1"
  for entry in "$1"/*; do
    [[ -L $entry ]] && dirname "$(readlink -f "$entry")"
  done
  return 0
}

# The release's server package version (the snapshot's name).
server_version() {
  if [[ -n $ZBX_ROOT ]]; then
    chroot "$ZBX_ROOT" dpkg-query -W -f='${Version}' zabbix-server-pgsql
  else
    dpkg-query -W -f='${Version}' zabbix-server-pgsql
  fi
}

# A user's numeric "uid:gid" in the release's system (the root has its own),
# for chown.
user_ids() { awk -F: -v u="$1" '$1 == u { print $3 ":" $4 }' "$ZBX_ROOT/etc/passwd"; }

# A TCP port in 20000-32767 nobody listens on (zabbix_server refuses ports
# above 32767, where the kernel's ephemeral range starts).
free_port() {
  python3 - <<'EOF'
import random, socket
for _ in range(200):
    port = random.randint(20000, 32767)
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            continue
        print(port)
        break
else:
    raise SystemExit("no free port in 20000-32767")
EOF
}

# Appends KEY=value to CONF when the variable VAR is set and not empty.
optional_setting() { # CONF KEY VAR
  [[ -z ${!3:-} ]] || echo "$2=${!3}" >>"$1"
}

# Runs "$@" until it succeeds, at most $1 seconds; false when time ran out.
retry_for() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < end)) || return 1
    sleep 0.1
  done
}

# Starts postgres on data dir $1 with its socket in $2; prints its pid.
start_postgres() {
  local data=$1 sock=$2
  in_root "$(dirname "$data")"
  "${IN_ROOT[@]}" setpriv --reuid=postgres --regid=postgres --init-groups -- \
    "$PG_BIN/postgres" -D "$data" -k "$sock" -p "$ZBX_PG_PORT" \
    -c listen_addresses= -c fsync=off -c synchronous_commit=off \
    -c full_page_writes=off -c logging_collector=off \
    >>"$data/../postgres.log" 2>&1 </dev/null &
  local pid=$!
  if ! retry_for 30 "$PG_CLIENT_BIN/pg_isready" -q -h "$sock" -p "$ZBX_PG_PORT"; then
    kill "$pid" 2>/dev/null || true
    die "postgres não respondeu em 30 s (veja $data/../postgres.log)"
  fi
  echo "$pid"
}

# The frontend reads its database only from this file, so it takes the
# database from each php -S process's environment: instances never mix.
write_frontend_conf() {
  local tmp conf=$ZBX_ROOT/etc/zabbix/zabbix.conf.php
  tmp=$(mktemp "$ZBX_ROOT/etc/zabbix/.zabbix.conf.php.XXXXXX")
  cat >"$tmp" <<'EOF'
<?php
// Written by the cgnat-collector test scripts; the database comes from the
// environment of the php -S process serving the request.
$DB['TYPE'] = 'POSTGRESQL';
$DB['SERVER'] = getenv('CGNAT_ZBX_PG_SOCKET') ?: 'localhost';
$DB['PORT'] = getenv('CGNAT_ZBX_PG_PORT') ?: '0';
$DB['DATABASE'] = 'zabbix';
$DB['USER'] = 'zabbix';
$DB['PASSWORD'] = '';
$DB['SCHEMA'] = '';
$DB['ENCRYPTION'] = false;
$DB['KEY_FILE'] = '';
$DB['CERT_FILE'] = '';
$DB['CA_FILE'] = '';
$DB['VERIFY_HOST'] = false;
$DB['CIPHER_LIST'] = '';
$DB['VAULT_URL'] = '';
$DB['VAULT_DB_PATH'] = '';
$DB['VAULT_TOKEN'] = '';
$DB['VAULT'] = '';
$DB['VAULT_CERT_FILE'] = '';
$DB['VAULT_KEY_FILE'] = '';
$DB['VAULT_PREFIX'] = '';
$DB['DOUBLE_IEEE754'] = true;
$ZBX_SERVER_NAME = 'cgnat-test';
$IMAGE_FORMAT_DEFAULT = IMAGE_FORMAT_PNG;
EOF
  chmod 644 "$tmp"
  mv -f "$tmp" "$conf"
}

# Starts php -S for the frontend API on port $1 against socket dir $2;
# prints its pid once the API answers.
start_php() {
  local port=$1 sock=$2 log=$3
  write_frontend_conf
  in_root
  CGNAT_ZBX_PG_SOCKET=$sock CGNAT_ZBX_PG_PORT=$ZBX_PG_PORT \
    "${IN_ROOT[@]}" php -S "127.0.0.1:$port" -t "$ZBX_FRONTEND" >>"$log" 2>&1 </dev/null &
  local pid=$!
  if ! retry_for 30 python3 "$HERE/zabbix_api.py" "http://127.0.0.1:$port/api_jsonrpc.php" ping; then
    kill "$pid" 2>/dev/null || true
    die "a API do Zabbix (php -S na porta $port) não respondeu em 30 s (veja $log)"
  fi
  echo "$pid"
}

# True while pid $1 runs (a zombie left for a lax init counts as gone).
alive() {
  local state
  state=$(awk '{print $3}' /proc/"$1"/stat 2>/dev/null) || return 1
  [[ -n $state && $state != Z ]]
}

# Stops pid $1 if its command line holds $2 (guards against a reused pid) with
# signal $3 (TERM by default), then KILL after 15 s. With $4=group the whole
# process group goes.
stop_pid() {
  local pid=$1 name=$2 signal=${3:-TERM} group=${4:-}
  [[ -n $pid && -r /proc/$pid/cmdline ]] || return 0
  tr '\0' ' ' </proc/"$pid"/cmdline | grep -qF -- "$name" || return 0
  local target=$pid
  [[ $group == group ]] && target=-$pid
  kill -"$signal" -- "$target" 2>/dev/null || return 0
  local end=$((SECONDS + 15))
  while alive "$pid" && ((SECONDS < end)); do
    sleep 0.05
  done
  if alive "$pid"; then
    say "$name (pid $pid) não terminou com $signal; enviando KILL"
    kill -KILL -- "$target" 2>/dev/null || true
  fi
}

ZBX_PROXY_NAME=cgnat-proxy

# Prints the folder holding Debian's zabbix-proxy-sqlite3 unpacked; fetches
# and unpacks it the first time. Installing it would remove the server.
proxy_root() {
  local root=$CACHE_DIR/zabbix-proxy-sqlite3
  if [[ ! -x $root/usr/sbin/zabbix_proxy ]]; then
    local work
    work=$(mktemp -d "$CACHE_DIR/proxy.XXXXXX")
    (cd "$work" && apt-get download zabbix-proxy-sqlite3 >/dev/null 2>&1) ||
      die "apt-get download zabbix-proxy-sqlite3 falhou"
    dpkg-deb -x "$work"/zabbix-proxy-sqlite3_*.deb "$work/root"
    rm -rf "$root" && mv "$work/root" "$root" && rm -rf "$work"
  fi
  echo "$root"
}
