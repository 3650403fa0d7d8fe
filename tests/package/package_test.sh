#!/usr/bin/env bash
# The Debian package as an operator gets it: built from this tree, linted,
# installed with dpkg, run through both external-script links, its manual
# pages rendered, then purged, leaving none of its files behind.
# Usage: package_test.sh WORK_DIR   (the .deb and logs go there)
# Exit 77 (skipped) when the machine already has cgnat-collector installed:
# an operator's installation is not ours to remove.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mkdir -p "${1:?uso: $0 WORK_DIR}" && cd "$1" && pwd)/package
package=cgnat-collector

say() { printf '[package] %s\n' "$*" >&2; }
fail() {
  say "ERRO: $*"
  exit 1
}
installed() { [[ $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) == *" installed" ]]; }

if dpkg-query -W "$package" >/dev/null 2>&1 &&
  [[ $(dpkg-query -W -f='${Status}' "$package") != "unknown ok not-installed" ]]; then
  say "$package já está no sistema ($(dpkg-query -W -f='${Status}' "$package")): teste pulado"
  exit 77
fi

# Other apt or dpkg runs on the machine hold the lock for a while: wait.
dpkg_locked() {
  local out status=0
  out=$("$@" 2>&1) || status=$?
  for _ in $(seq 1 300); do
    ((status != 0)) && grep -q "lock" <<<"$out" || break
    sleep 2
    status=0
    out=$("$@" 2>&1) || status=$?
  done
  printf '%s\n' "$out"
  return $status
}

rm -rf "$work"
mkdir -p "$work"
cleanup() {
  installed && dpkg_locked dpkg --purge "$package" >/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

started=$SECONDS
deb=$("$root/scripts/build_package.sh" "$work")
say "construído em $((SECONDS - started)) s: $(basename "$deb")"

# lintian: no error and no warning (overrides carry their reasons).
lintian --fail-on error,warning --suppress-tags-from-file /dev/null "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian apontou problemas"; }
say "lintian: limpo"

fields=$(dpkg-deb -f "$deb" Depends)
for needed in libicu libc6; do
  grep -q "$needed" <<<"$fields" || fail "Depends sem $needed: $fields"
done
# What is linked in from static archives is named, at the version built with.
using=$(dpkg-deb -f "$deb" Built-Using)
for library in libssh-dev libssl-dev zlib1g-dev; do
  source=$(dpkg-query -W -f='${source:Package} (= ${source:Version})' "$library")
  grep -qF "$source" <<<"$using" || fail "Built-Using sem $source: $using"
done
dpkg-deb -x "$deb" "$work/unpacked"
needed=$(readelf -d "$work/unpacked/usr/bin/$package" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
  { grep -vx -e libc.so.6 -e 'ld-linux-.*' || true; } | paste -sd' ')
[[ -z $needed ]] || fail "o coletor carrega bibliotecas além da libc: $needed"
say "Built-Using: $using"

# Only what existed before may remain after the purge.
mapfile -t contents < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's,^\./,/,; s,/$,,' | grep -v '^/$')
before=()
for path in "${contents[@]}"; do
  [[ -e $path || -L $path ]] && before+=("$path")
done

dpkg_locked dpkg -i "$deb" >"$work/install.log" || { cat "$work/install.log" >&2; fail "dpkg -i falhou"; }
installed || fail "dpkg -i não deixou $package instalado"

for link in /usr/lib/zabbix/externalscripts/$package /etc/zabbix/externalscripts/$package; do
  [[ -L $link && $(readlink -f "$link") == /usr/bin/$package ]] || fail "$link não aponta para /usr/bin/$package"
  out=$("$link" version) || fail "$link version terminou com erro"
  grep -qF "$link  1.0.0" <<<"$out" || fail "$link version mostrou: $out"
done
for file in cgnat_collector.yaml cgnat_collector_7.0.yaml README.md; do
  cmp -s "/usr/share/$package/$file" "$root/zabbix_template/$file" ||
    fail "/usr/share/$package/$file difere de zabbix_template/$file"
done
[[ -f /usr/share/doc/$package/copyright && -f /usr/share/doc/$package/changelog.gz ]] ||
  fail "copyright ou changelog ausente em /usr/share/doc/$package"

# Both manual pages render, in their own language, without groff warnings.
for case in "C|NAME|/usr/share/man/man1/$package.1.gz" "pt_BR|NOME|/usr/share/man/pt_BR/man1/$package.1.gz"; do
  IFS='|' read -r lang heading page <<<"$case"
  [[ -f $page ]] || fail "página de manual ausente: $page"
  text=$(zcat "$page" | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -ww -z 2>&1) && [[ -z $text ]] ||
    fail "groff avisou em $page: $text"
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -L "$lang" -P cat "$package" 2>&1) || fail "man -L $lang falhou: $text"
  grep -q "^$heading" <<<"$text" || fail "man -L $lang não mostrou a seção $heading"
  grep -q "CGNAT_ZABBIX_SERVER" <<<"$text" || fail "man -L $lang sem a variável de ambiente"
done
say "instalado, executado pelos dois links, manuais em inglês e português"

dpkg_locked dpkg --purge "$package" >"$work/purge.log" || { cat "$work/purge.log" >&2; fail "dpkg --purge falhou"; }
dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "not-installed" ||
  ! dpkg-query -W "$package" >/dev/null 2>&1 || fail "$package continua registrado após o purge"
left=()
for path in "${contents[@]}"; do
  [[ -e $path || -L $path ]] || continue
  printf '%s\n' "${before[@]}" | grep -qxF "$path" || left+=("$path")
done
((${#left[@]} == 0)) || fail "restos após o purge: ${left[*]}"
say "removido sem restos ($((SECONDS - started)) s no total)"
