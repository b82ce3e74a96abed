#!/bin/sh
# A second keltracer, in remote-server mode, for the viewer tests. It runs
# in a Wine prefix of its own: in the test's prefix it would meet the
# single-instance event of the viewer under test.
#
# Usage: peer_keltracer.sh CONTROL_DIR PORT VIEWER WRITER TEMP
#   CONTROL_DIR  Unix folder the test and this script talk through:
#                "started" is written once the server was started; the
#                test creates "write" to have WRITER write 50 records in the
#                peer's prefix ("written" follows), and "stop" to end the
#                peer (its wineserver is killed, so its viewers lose it).
#   PORT         the server's port
#   VIEWER       Windows path of keltracer.exe, WRITER of trace-writer.exe
#   TEMP         Windows path of the server's temporary folder
# The peer stops by itself after five minutes.
dir=$1 port=$2 viewer=$3 writer=$4 temp=$5
base=${WINEPREFIX:-$HOME/.cache/keltracer/wine}
export WINEPREFIX="${base%-peer}-peer"
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >"$dir/boot.log" 2>&1
  wineserver -w
fi
wineserver -p
wine cmd /c "set TEMP=$temp&&set TMP=$temp&&$viewer -c $port" >"$dir/server.log" 2>&1 &
: >"$dir/started"
end=$(($(date +%s) + 300))
while [ ! -e "$dir/stop" ] && [ "$(date +%s)" -lt "$end" ]; do
  if [ -e "$dir/write" ] && [ ! -e "$dir/written" ]; then
    wine "$writer" --count 50 --module PEER --level 4 --linger 5000 >"$dir/writer.log" 2>&1
    : >"$dir/written"
  fi
  sleep 0.2
done
wineserver -k
: >"$dir/stopped"
