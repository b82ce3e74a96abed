# Keeps one warm wineserver for the project's prefix while a script runs
# (sourced). A cold Wine process start costs seconds, a warm one milliseconds.
# Only a server this script started is stopped again.
KT_WINE_STARTED=0

wine_session_start() {
  # "wineserver -p" exits with 2 when a server already runs for this prefix.
  if wineserver -p </dev/null >/dev/null 2>&1; then
    KT_WINE_STARTED=1
  fi
}

wine_session_stop() {
  if [ "$KT_WINE_STARTED" = 1 ]; then
    wineserver -k 2>/dev/null || true
    KT_WINE_STARTED=0
  fi
}

# Starts Wine's services (desktop, device manager) with no inherited output.
wine_session_warm() {
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
