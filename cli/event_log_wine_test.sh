#!/bin/sh
# The events of readsweeper-cli.exe --event-log as the system's event call
# receives them: Wine traces each call and its string on the program's Unix
# standard error. A clean scan gives an information event (type 0x0004,
# identifier 1) whose string is the summary line; a folder that cannot be
# listed a warning (0x0002, 3) with the line told for it.
# Usage: event_log_wine_test.sh PROGRAM.exe
set -u
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
"$here/../tools/wine-setup" || exit 125
. "$here/../tools/wine-vars.sh"
export WINEDEBUG=-all,+eventlog,fixme+advapi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tree"
printf 'healthy file' >"$work/tree/healthy.bin"
failed=0

# expect RUN_OUTPUT TYPE ID TEXT
expect() {
  call=$(grep -o 'ReportEventW ([^,]*,0x[0-9a-f]*,0x0000,0x[0-9a-f]*' "$1" | sed 's/^ReportEventW ([^,]*,//')
  if [ "$call" != "$2,0x0000,$3" ]; then
    echo "event call: '$call', expected '$2,0x0000,$3'"; failed=1
  fi
  text=$(grep 'eventlog:ReportEventW L"' "$1" | sed 's/^.*eventlog:ReportEventW L"//; s/"$//; s/\\\(.\)/\1/g')
  if [ "$text" != "$4" ]; then
    printf 'event text: %s\nexpected:   %s\n' "$text" "$4"; failed=1
  fi
  if [ "$(grep -c 'ReportEventW (' "$1")" != 1 ]; then
    echo "not exactly one event:"; cat "$1"; failed=1
  fi
}

cd "$work" || exit 1
wine "$program" --every-file --cycles 1 --event-log tree 2>clean.txt
code=$?
[ $code = 0 ] || { echo "clean scan: exit code $code"; cat clean.txt; failed=1; }
summary=$(grep '^readsweeper-cli: checked ' clean.txt | sed 's/^readsweeper-cli: //' | tr -d '\r')
case $summary in
  "checked "*" B, files checked 1, opening errors 0, reading errors 0, "*" s; stopped by the cycle limit") ;;
  *) echo "summary: '$summary'"; failed=1 ;;
esac
expect clean.txt 0x0004 0x00000001 "$summary"

wine "$program" --event-log missing 2>missing.txt
code=$?
[ $code = 3 ] || { echo "missing folder: exit code $code"; cat missing.txt; failed=1; }
told=$(grep '^readsweeper-cli: cannot list "missing\\": ' missing.txt | sed 's/^readsweeper-cli: //' | tr -d '\r')
[ -n "$told" ] || { echo "no line for the missing folder:"; cat missing.txt; failed=1; }
expect missing.txt 0x0002 0x00000003 "$told"

exit $failed
