# Sourced by scripts/bench: times lnav, a log viewer users pick, on the ISO
# log that the text-log benchmark opened, in the same run, and reports the
# ratio of the two speeds (ours over lnav's; above 1 means we are faster).

iso_log_file=""

# Names the file the benchmark makes (when the filter runs IsoLogOpen).
iso_log_prepare() {
  /usr/bin/python3 -c 'import re, sys; sys.exit(0 if re.search(sys.argv[1], "IsoLogOpen") else 1)' "$1" || return 0
  iso_log_file=$(mktemp -u /tmp/kt-isolog-XXXXXX.log)
  KT_ISO_LOG_FILE=$(winepath -w "$iso_log_file" 2>/dev/null)
  export KT_ISO_LOG_FILE
}

iso_log_install_lnav() {
  command -v lnav >/dev/null && return 0
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  echo "bench: installing lnav" >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q lnav >&2 && command -v lnav >/dev/null
}

# Reads our figure from the report ($1) and prints lnav's and the ratio.
iso_log_compare() {
  [ -n "$iso_log_file" ] || return 0
  if [ ! -s "$iso_log_file" ]; then
    echo "bench: the ISO log was not made; no lnav comparison" >&2
    return 0
  fi
  if ! iso_log_install_lnav; then
    echo "bench: lnav is not available; no lnav comparison" >&2
    rm -f "$iso_log_file"
    return 0
  fi
  local ours bytes best="" t0 t1 count
  # Timed in real time, the benchmark's name carries "_real_time".
  ours=$(sed -n 's|^bench IsoLogOpen\(_real_time\)\{0,1\}: \([0-9.]*\) MB/s$|\2|p' "$1" | head -1)
  bytes=$(stat -c %s "$iso_log_file")
  # Best of three: lnav's own index cache never makes it slower.
  for _ in 1 2 3; do
    t0=$(date +%s.%N)
    count=$(lnav -n -c ';SELECT count(*) FROM all_logs' "$iso_log_file" 2>/dev/null | tr -dc '0-9')
    t1=$(date +%s.%N)
    best=$(/usr/bin/python3 -c 'import sys; t = float(sys.argv[2]) - float(sys.argv[1]); b = sys.argv[3]; print(min(t, float(b)) if b else t)' "$t0" "$t1" "$best")
  done
  rm -f "$iso_log_file"
  echo "bench: lnav indexed ${count:-?} lines of $bytes bytes in $best s" >&2
  /usr/bin/python3 - "$bytes" "$best" "$ours" <<'PY'
import sys
size, seconds, ours = float(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
lnav = size / 1e6 / seconds
print(f"bench lnav_iso_log: {lnav:.1f} MB/s")
if ours:
    print(f"bench iso_log_vs_lnav: {float(ours) / lnav:.2f} x")
PY
}
