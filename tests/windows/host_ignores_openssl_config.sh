#!/bin/sh
# The DLL reads no OpenSSL configuration: a configuration that would break
# every exchange (CONFIG: one that leaves no usable cipher) changes no result
# of a whole query from a Windows host, and is never opened, however it is
# offered:
#   1. named by OPENSSL_CONF;
#   2. planted as openssl.cnf in the OPENSSLDIR compiled into the DLL, inside
#      this build's Wine prefix;
# each under a trace of every file Wine opens (+file): the trace shows the
# DLL and the identity file opened (so it traces), and no openssl.cnf.
# The planted file is removed again on every path; the test runs alone
# (RUN_SERIAL), since the prefix is the other tests' too.
#   host_ignores_openssl_config.sh DVKC WINE_RUN DLL_HOST DLL WORK_DIR CONFIG WINEPREFIX OPENSSLDIR
set -eu
dvkc=$1 wine_run=$2 dll_host=$3 dll=$4 work=$5 config=$6 wineprefix=$7 openssldir=$8
query="$(dirname "$0")/host_against_serve.sh"

rm -rf "$work"
mkdir -p "$work"
cp "$config" "$work/openssl.cnf"
# C:/Windows/System32/OpenSSL -> <prefix>/drive_c/windows/system32/openssl
# (Wine finds names whatever their case).
planted_dir="$wineprefix/drive_c/$(printf '%s' "${openssldir#?:/}" | tr '[:upper:]' '[:lower:]')"
case "$openssldir" in
  [A-Za-z]:/*) ;;
  *) echo "the compiled-in OPENSSLDIR $openssldir is no Windows path" >&2; exit 1 ;;
esac
[ -d "$wineprefix/drive_c/windows" ] || { echo "no Wine prefix at $wineprefix" >&2; exit 1; }
planted_existed=no
[ -d "$planted_dir" ] && planted_existed=yes
unplant() {
  rm -f "$planted_dir/openssl.cnf"
  [ "$planted_existed" = yes ] || rmdir "$planted_dir" 2>/dev/null || true
}
trap unplant EXIT

# A whole query with Wine's trace of the files opened: its results must be
# the sample service's, the trace must show the DLL and the identity file
# opened (so it traces) and no openssl.cnf.
traced_query() {  # traced_query NAME
  DVKC_WINEDEBUG=+file sh "$query" "$dvkc" "$wine_run" "$dll_host" "$dll" "$work/$1" 2>"$work/$1.trace"
  if ! grep -qi 'identity\.bin' "$work/$1.trace" || ! grep -qi 'DVKCDLL\.dll' "$work/$1.trace"; then
    echo "the trace lacks the DLL or the identity file it read: it traces nothing ($work/$1.trace)" >&2
    exit 1
  fi
  if grep -i 'openssl\.cnf' "$work/$1.trace" | head -3 | grep . >&2; then
    echo "the DLL opened an openssl.cnf (above; whole trace: $work/$1.trace)" >&2
    exit 1
  fi
}

echo "1. OPENSSL_CONF=Z:$work/openssl.cnf"
OPENSSL_CONF="Z:$work/openssl.cnf" traced_query named

echo "2. openssl.cnf planted in $openssldir ($planted_dir)"
mkdir -p "$planted_dir"
cp "$config" "$planted_dir/openssl.cnf"
traced_query planted
echo "no OpenSSL configuration read: ok"
