#!/usr/bin/env bash
# The Debian package as a user gets it: lintian says nothing about it, and unpacked it holds
# stripped programs, manual pages with their sections, the completion where the shells look and
# the udev rule that touches only USB serial adapters (and keeps modem probes off them).
# Usage: check-deb.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# lintian advises against running as root: a root test runs it as nobody, on a copy in a folder
# of its own that nobody may enter, wherever the clone lies (mktemp -d makes folders of mode 700).
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=nobody --regid=nogroup --init-groups env HOME="$root")
fi
chmod 755 "$root"
cp "$deb" "$root/" && chmod 644 "$root/$(basename "$deb")"
said=$(cd "$root" && "${as_user[@]}" lintian --fail-on error,warning "$root/$(basename "$deb")" 2>&1) ||
  fail "lintian failed"
[ -z "$said" ] || fail "lintian says:"$'\n'"$said"

dpkg-deb -x "$deb" "$root/unpacked"
cd "$root/unpacked"
for file in usr/bin/kd7x-update usr/bin/kd7x-radio-sim \
  usr/share/man/man1/kd7x-update.1.gz usr/share/man/man1/kd7x-radio-sim.1.gz \
  usr/share/bash-completion/completions/kd7x-update usr/share/zsh/vendor-completions/_kd7x-update \
  usr/lib/udev/rules.d/60-kd7x-update.rules \
  usr/share/doc/kd7x-update/copyright usr/share/doc/kd7x-update/changelog.Debian.gz; do
  [ -s "$file" ] || fail "the package has no $file"
done
for program in usr/bin/kd7x-update usr/bin/kd7x-radio-sim; do
  if readelf -S "$program" | grep -qE '\.symtab|\.debug_'; then fail "$program is not stripped"; fi
done

# Each page shows its sections.
check_page() {
  local page=$1
  shift
  local text
  text=$(MANWIDTH=80 man -l "$page" 2>/dev/null | col -b)
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "$@" "SEE ALSO"; do
    grep -qx "$section" <<<"$text" || fail "$page has no $section section"
  done
  grep -q -- "--version" <<<"$text" || fail "$page lists no option"
}
check_page usr/share/man/man1/kd7x-update.1.gz "EXIT STATUS" "JSON OUTPUT" ENVIRONMENT FILES EXAMPLES
check_page usr/share/man/man1/kd7x-radio-sim.1.gz "EXIT STATUS" "JSON OUTPUT" FILES EXAMPLES

# The rule: tty devices of known USB serial chips, the dialout group, left alone by modem probes;
# nothing else.
rule='^SUBSYSTEM=="tty", ATTRS\{idVendor\}=="[0-9a-f]{4}", ATTRS\{idProduct\}=="[0-9a-f]{4}", GROUP="dialout", MODE="0660", ENV\{ID_MM_DEVICE_IGNORE\}="1"$'
other=$(grep -vE '^(#.*)?$' usr/lib/udev/rules.d/60-kd7x-update.rules | grep -vE "$rule" || true)
[ -z "$other" ] || fail "the udev rule does more than give dialout the adapters:"$'\n'"$other"
grep -qE "$rule" usr/lib/udev/rules.d/60-kd7x-update.rules || fail "the udev rule names no adapter"

[ "$failures" -eq 0 ] || exit 1
echo "package: lintian silent; programs stripped; pages, completion, udev rule and docs in place"
