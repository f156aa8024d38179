# Completes LINE with a loaded completion script the way readline hands a
# line to a completion function (words split at blanks, "=" a word of its
# own), and prints the candidates one per line.
# Usage: bash --norc --noprofile complete_bash.bash SCRIPT LINE [--with-helpers]
script=$1 line=$2
if [[ ${3:-} == --with-helpers ]]; then
  source /usr/share/bash-completion/bash_completion || exit 3
fi
source "$script" || exit 3
words=()
read -ra parts <<< "$line"
for part in "${parts[@]}"; do
  while [[ $part == *=* ]]; do
    words+=("${part%%=*}" "=")
    part=${part#*=}
  done
  [[ -n $part ]] && words+=("$part")
done
[[ $line == *' ' ]] && words+=("")
COMP_WORDS=("${words[@]}")
COMP_CWORD=$((${#words[@]} - 1))
COMP_LINE=$line
COMP_POINT=${#line}
registration=$(complete -p "${words[0]}") || exit 4
[[ $registration =~ -F\ ([^ ]+) ]] || exit 4
"${BASH_REMATCH[1]}" "${words[0]}" "${words[COMP_CWORD]}" "${words[COMP_CWORD-1]}"
printf '%s\n' "${COMPREPLY[@]}"
