# Completes LINE in an interactive zsh on a pseudo-terminal (zsh/zpty) with
# the completion system started by compinit and the script found in DIR as
# an autoloaded #compdef function; the Tab key does the completing. Every
# word the completion functions hand to compadd as a match is written to
# OUT, one per line, and a last line "<<done>>".
# Usage: zsh -f complete_zsh.zsh DIR LINE OUT
zmodload zsh/zpty || exit 3
dir=$1 line=$2 out=$3
: > $out
zpty z zsh -f -i || exit 3
zpty -w z "fpath=(${(q)dir} \$fpath); autoload -Uz compinit; compinit -u -d ${(q)out}.zcompdump"
zpty -w z "setopt no_beep no_auto_list; out=${(q)out}"
zpty -w z 'compadd() {
  if (( ! ${@[(I)-[ADO]]} )); then
    local -a found
    builtin compadd -O found "$@"
    (( $#found )) && print -rl -- $found >> $out
  fi
  builtin compadd "$@"
}'
zpty -w z 'completion-done() { print -r -- "<<done>>" >> $out }; zle -N completion-done; bindkey "^T" completion-done'
zpty -w -n z "$line"$'\t\x14'
for i in {1..500}; do
  [[ -s $out && "$(tail -n 1 $out)" == "<<done>>" ]] && break
  sleep 0.02
done
zpty -d z
