#!/usr/bin/env bash
# The manual page tells what the tool does: every option of --help, every batch step, every
# verdict and every JSON key the README names is on the page, and no option, step or verdict
# is there that the tool no longer has.
#   manual_test.sh TOOL MANUAL README RESULTS_SOURCE
set -uo pipefail
tool=$1 manual=$2 readme=$3 results=$4
fails=0
fail() { echo "manual_test: $*" >&2; fails=$((fails + 1)); }

# The page as words: groff's escapes for a minus and a break point dropped.
page=$(sed -e 's/\\-/-/g' -e 's/\\%//g' -e 's/\\&//g' "$manual")
# The page up to its examples, which also show other programs' options.
body=$(printf '%s\n' "$page" | sed '/^\.SH ПРИМЕРЫ/,$d')
section() { printf '%s\n' "$page" | sed -n "/^\.SH \"\{0,1\}$1/,/^\.SH /p"; }
has_word() { grep -qw -- "$1" <<< "$page"; }

help=$(QT_QPA_PLATFORM=offscreen "$tool" --help) || { fail "$tool --help failed"; exit 1; }
tool_options=$(printf '%s\n' "$help" | grep -oE -- '--[a-z][a-z-]+' | grep -vx -- '--help-all' | sort -u)
# Each option has an entry of its own in the options' list; none is named anywhere that the tool lacks.
page_entries=$(printf '%s\n' "$page" | sed -n '/^\.SS Параметры/,/^\.SH /p' | sed -n '/^\.TP/{n;p}' |
               grep -oE -- '--[a-z][a-z-]+' | sort -u)
page_options=$(printf '%s\n' "$body" | grep -oE -- '--[a-z][a-z-]+' | sort -u)
for o in $tool_options; do grep -qx -- "$o" <<< "$page_entries" || fail "option $o of --help has no entry on the page"; done
for o in $page_options; do grep -qx -- "$o" <<< "$tool_options" || fail "option $o on the page is not in --help"; done

# The batch steps, as --help lists them; on the page, each an entry of the batch section.
# What a step is for may follow it in brackets; the list ends with «в заданном порядке».
tool_steps=$(printf '%s\n' "$help" | tr '\n' ' ' | tr -s ' ' | grep -oE 'шаги .* в заданном порядке' | head -1 |
    sed -e 's/([^)]*)//g' | grep -oE '\b[a-z]+\b' | tr '\n' ' ')
[ -n "$tool_steps" ] || fail "--help names no batch steps"
page_steps=$(section 'ПАКЕТНЫЙ РЕЖИМ' | sed -n '/^\.TP/{n;s/^\.B \([a-z]*\)$/\1/p}' | sort -u)
for s in $tool_steps; do grep -qx -- "$s" <<< "$page_steps" || fail "batch step $s is not in the batch section"; done
for s in $page_steps; do grep -qw -- "$s" <<< "$tool_steps" || fail "batch step $s on the page does not exist"; done

# The verdicts, as the results name them; on the page, each an entry of the verdict section.
tool_verdicts=$(sed -n '/^const char \*pcVerdict_Name/,/^}/p' "$results" | grep -oE 'return "[a-z_]+"' | cut -d'"' -f2 | grep -vx none)
[ -n "$tool_verdicts" ] || fail "no verdict names in $results"
page_verdicts=$(section 'ВЕРДИКТЫ' | sed '/^Коды выхода/,$d' | sed -n '/^\.TP/{n;s/^\.B \([a-z_]*\)$/\1/p}' | sort -u)
for v in $tool_verdicts; do grep -qx -- "$v" <<< "$page_verdicts" || fail "verdict $v is not in the verdict section"; done
for v in $page_verdicts; do grep -qx -- "$v" <<< "$tool_verdicts" || fail "verdict $v on the page does not exist"; done

# The README's JSON keys and values: in backticks on its lines about JSON, and in the batch
# section's account of the steps' JSON.
json_lines=$( (grep 'JSON' "$readme"; sed -n "/^The fill step's JSON adds/,/^A real run on the demo/p" "$readme") )
keys=$( (printf '%s\n' "$json_lines" | grep -oE '`[a-z][a-z0-9_]*`' | tr -d '`'
         printf '%s\n' "$json_lines" | grep -oE '"[a-z][a-z0-9_]*":' | tr -d '":') | sort -u)
[ -n "$keys" ] || fail "no JSON keys found in $readme"
for k in $keys; do has_word "$k" || fail "JSON key or value $k of the README is not on the page"; done

[ "$fails" -eq 0 ] || { echo "manual_test: $fails differences between the manual page and the tool" >&2; exit 1; }
echo "manual_test: the page names $(echo $tool_options | wc -w) options, $(echo $tool_steps | wc -w) steps, $(echo $tool_verdicts | wc -w) verdicts, $(echo $keys | wc -w) JSON names"
