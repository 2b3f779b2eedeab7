#!/usr/bin/env bash
# Sources the bash completion of tessaly-cli as bash-completion loads it and checks what Tab offers
# for a few command lines, set up as bash sets them up for a completion function.
#   completion_test.sh COMPLETION_FILE
# Exits 77 (skipped) where bash-completion, whose helpers the completion uses, is not installed.
set -u
completion=$1
framework=/usr/share/bash-completion/bash_completion
[ -r "$framework" ] || { echo "bash-completion is not installed: skipped"; exit 77; }
# shellcheck disable=SC1090
source "$framework"
# shellcheck disable=SC1090
source "$completion"

failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
touch route.qxm Track.WZM ride.displog firmware.bin update.qxf notes.txt
mkdir rides

# offers WORD... -- EXPECTED...: the sorted completions for the line of WORDs, the cursor at the
# end of the last one (bash splits "A:" into "A" and ":", as its COMP_WORDBREAKS holds a colon).
offers()
{
    local words=() expected=()
    while [ "$1" != "--" ]; do words+=("$1"); shift; done
    shift
    expected=("$@")
    COMP_WORDS=("${words[@]}")
    COMP_CWORD=$((${#words[@]} - 1))
    COMP_LINE=""
    local word previous=""
    for word in "${words[@]}"; do
        # No blank around a colon bash split off.
        if [ -n "$COMP_LINE" ] && [ "$word" != ":" ] && [ "$previous" != ":" ]; then
            COMP_LINE+=" "
        fi
        COMP_LINE+=$word
        previous=$word
    done
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _tessaly_cli tessaly-cli "${words[COMP_CWORD]}" "${words[COMP_CWORD - 1]}" 2>/dev/null
    local actual
    actual=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort | tr '\n' ' ')
    local want
    want=$(printf '%s\n' "${expected[@]}" | sed '/^$/d' | LC_ALL=C sort | tr '\n' ' ')
    if [ "$actual" != "$want" ]; then
        echo "FAIL: '${COMP_LINE}': got [$actual], expected [$want]"
        failures=$((failures + 1))
    fi
}

# Commands and global options.
offers tessaly-cli "" -- devices info ls get put rm sync flash convert stats
offers tessaly-cli s -- sync stats
offers tessaly-cli stats R1.displog --c -- --channel
offers tessaly-cli --j -- --json
offers tessaly-cli --simulate --json "" -- devices info ls get put rm sync flash convert stats
offers tessaly-cli --simulate=r -- rides
# The unit's folders, typed plain, quoted, or up to the colon bash splits at.
offers tessaly-cli ls "" -- 'A:\Maps' 'A:\Logs'
offers tessaly-cli get "'A:\\L" -- 'A:\Logs'
offers tessaly-cli rm A : -- '\Maps' '\Logs'
offers tessaly-cli sync A : '\\M' -- '\Maps'
# Local files by the extension the folder or command takes (directories too, to walk into).
offers tessaly-cli put "'A:\\Maps'" "" -- route.qxm Track.WZM rides
offers tessaly-cli put 'A:\\Logs' "" -- ride.displog rides
offers tessaly-cli convert "" -- ride.displog rides
offers tessaly-cli convert ride.displog --i -- --interval
offers tessaly-cli flash "" -- firmware.bin update.qxf rides
offers tessaly-cli flash firmware.bin - -- --no-verify
# Options and folders of the PC.
offers tessaly-cli get "'A:\\Logs'" R1.displog --to "" -- rides
offers tessaly-cli sync "'A:\\Logs'" "" -- rides
offers tessaly-cli sync "'A:\\Logs'" rides --d -- --dry-run
offers tessaly-cli sync "'A:\\Logs'" rides - -- --convert --dry-run
# Nothing is made up where the program takes no argument.
offers tessaly-cli devices "" --
offers tessaly-cli rm "'A:\\Maps'" "" --

[ "$failures" -eq 0 ] && echo "all completions as expected"
[ "$failures" -eq 0 ]
