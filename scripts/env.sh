# Shared settings for the project's scripts (sourced, not run).
KT_ROOT=${KT_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
KT_CACHE=${KT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/keltracer}
KT_DEPS=${KT_DEPS:-$KT_CACHE/deps-1}
KT_DEPS_PREFIX=${KT_DEPS_PREFIX:-$KT_DEPS/prefix}
KT_BUILD=${KT_BUILD:-$KT_ROOT/build}
export WINEPREFIX=${KT_WINEPREFIX:-$KT_CACHE/wine}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Tests read times and code pages: keep them the same on every machine
# (under this locale Wine uses code page 1252 as the ANSI code page).
export TZ=UTC
export LC_ALL=C.UTF-8
export LANG=C.UTF-8
# Nothing the tests start may leave this machine through a proxy.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ftp_proxy FTP_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
