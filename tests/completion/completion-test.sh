#!/usr/bin/env bash
# The completion scripts the package installs, in bash and in zsh: what each lists for options,
# ports, images, files and numbers, against the program's own --help and --list-ports.
# Usage: completion-test.sh KD7X-UPDATE FOLDER (FOLDER holds kd7x-update and _kd7x-update)
set -euo pipefail
program=$1
folder=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/sub"
touch "$work/app.bin" "$work/notes.txt" "$work/radio"
failures=0

# What SHELL completes for the words given, the last being the one completed: one a line.
complete_words() {
  local shell=$1
  shift
  if [ "$shell" = bash ]; then
    bash --norc --noprofile -c '
      source "$1"
      shift
      COMP_WORDS=("$@")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      _kd7x_update
      printf "%s\n" "${COMPREPLY[@]}"' - "$folder/kd7x-update" "$@"
  else
    # The words joined: an empty last word leaves the line ending in a blank.
    (cd "$work" && timeout 60 zsh -f "$here/zsh-complete.zsh" "$folder" "$*")
  fi
}

# expect SHELL 'WORDS' has|lacks|none ITEM...: ITEM is a whole line, or with a leading * its end.
expect() {
  local shell=$1 words=$2 how=$3 item found
  shift 3
  local listed
  read -ra argv <<<"$words"
  [[ $words == *" " ]] && argv+=("")
  listed=$(complete_words "$shell" "$program" "${argv[@]}")
  if [ "$how" = none ] && [ -n "$listed" ]; then
    echo "FAIL $shell: '$words' should list nothing, lists: $(echo $listed)"
    failures=$((failures + 1))
  fi
  for item in "$@"; do
    if [[ $item == \** ]]; then
      grep -q -- "${item#\*}\$" <<<"$listed" && found=yes || found=no
    else
      grep -qxF -- "$item" <<<"$listed" && found=yes || found=no
    fi
    if [[ $how == has && $found == no || $how == lacks && $found == yes ]]; then
      echo "FAIL $shell: '$words' $how '$item'; it lists: $(echo $listed)"
      failures=$((failures + 1))
    fi
  done
}

# Every option --help shows ("-p, --port PORT ..." gives -p and --port); every port it lists.
mapfile -t options < <("$program" --help | sed -n 's/^  \(-[^ ,]*\(, -[^ ,]*\)*\).*/\1/p' | sed 's/, /\n/g')
mapfile -t ports < <("$program" --list-ports | sed -n 's/^\(\/[^ ]*\).*/\1/p')
[ "${#options[@]}" -gt 10 ] || { echo "FAIL: no options read from --help"; exit 1; }

for shell in bash zsh; do
  expect $shell "-" has "${options[@]}"
  expect $shell "--l" has --log --list-ports
  expect $shell "--l" lacks --port
  expect $shell "-p " has auto "${ports[@]}"
  expect $shell "--port $work/ra" has "*radio"
  expect $shell "-a $work/" has "*app.bin" "*sub"
  expect $shell "-a $work/" lacks "*notes.txt"
  expect $shell "--log $work/" has "*notes.txt" "*app.bin"
  expect $shell "--timeout " none
done
echo "completion: ${#options[@]} options and ${#ports[@]} port(s) of this machine listed in bash and zsh"
[ "$failures" -eq 0 ]
