# Run as elvish's rc file on a terminal: loads the completion script, asks
# its arg-completer for the words of $E:LINE (split at blanks, the last one
# being completed), keeps what elvish's own prefix matcher keeps and writes
# the stems to $E:OUT, one per line, then "<<done>>".
use str
eval (slurp < $E:SCRIPT)
var words = [(str:split ' ' $E:LINE)]
var seed = $words[-1]
var stems = [($edit:completion:arg-completer[$words[0]] $@words | each {|c|
  if (eq (kind-of $c) string) { put $c } else { put $c[stem] }
})]
var kept = [(put $@stems | edit:match-prefix $seed)]
var lines = []
for i [(range (count $stems))] {
  if $kept[$i] { set lines = [$@lines $stems[$i]] }
}
print (str:join "\n" [$@lines '<<done>>'])"\n" > $E:OUT
exit
