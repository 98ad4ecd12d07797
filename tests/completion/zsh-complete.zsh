#!/usr/bin/env zsh
# Prints, one a line, what zsh completes at the end of a command line: an interactive zsh on a
# pseudo-terminal loads the completion from FOLDER, and its compadd also prints every match it
# adds, between two marker lines.
# Usage: zsh-complete.zsh FOLDER 'kd7x-update -p '
emulate -L zsh
zmodload zsh/zpty || exit 2
export KD7X_COMPLETION_FOLDER=$1
setup=$(mktemp) || exit 2
trap 'rm -f $setup; zpty -d shell 2>/dev/null' EXIT
cat >$setup <<'EOF'
PROMPT= RPROMPT=
fpath=($KD7X_COMPLETION_FOLDER $fpath)
autoload -Uz compinit && compinit -u -D
bindkey '^I' complete-word
zstyle ':completion:*' insert-tab false
zstyle ':completion:*' list-grouped false
kd7x_mark() { print -r -- '--kd7x-matches--' }
compprefuncs=(kd7x_mark)
comppostfuncs=(kd7x_mark exit)
compadd() {
  # Calls that only collect matches for another compadd are passed through.
  if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then
    builtin compadd "$@"
    return
  fi
  local -a hits
  builtin compadd -A hits "$@"
  (( $#hits )) && print -rl -- $hits
  builtin compadd "$@"
}
print -r -- '--kd7x-ready--'
EOF
zpty shell zsh -f -i
zpty -w shell ". ${(q)setup}"
line=
until [[ $line == *--kd7x-ready--* ]]; do
  zpty -r shell line || exit 2
done
zpty -w -n shell "$2"$'\t'
marks=0
while zpty -r shell line; do
  line=${line%$'\r\n'}
  line=${line%$'\n'}
  if [[ $line == *--kd7x-matches--* ]]; then
    (( ++marks == 2 )) && exit 0
  elif (( marks == 1 )); then
    print -r -- $line
  fi
done
exit 2
