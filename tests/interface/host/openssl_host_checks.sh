#!/bin/sh
# The library in a host's process, against dvkc serve (127.0.0.1, a free
# port, a throwaway PKI; the service gets an environment without
# OPENSSL_CONF, so that only the host's side is under test):
#
#   openssl_host_checks.sh CHECK DVKC HOST_PROGRAM WORK_DIR [PATH_PREFIX [RUNNER...]]
#
#   config   a configuration that would break every exchange, named in
#            OPENSSL_CONF, changes no result of a whole query (and, where the
#            host program can load it itself, does break it when the host
#            loads it: the file bites).
#   trace    under strace -f -e trace=%file, with OPENSSL_CONF naming that
#            file, no openssl.cnf, no configuration file and nothing under the
#            OPENSSLDIR of the system's OpenSSL is opened (exit 77, skipped,
#            where strace cannot trace).
#   late     a query from an atexit handler registered before the first
#            query, run after OpenSSL's own exit-time cleanup: build -1 with
#            nothing written, exchange -4 (EXPECT_LATE="BUILD EXCHANGE"
#            overrides; EXPECT_LATE=any accepts either a working library or
#            that clean failure, for hosts where the library's OpenSSL is
#            cleaned up only after the host's handlers, as in a DLL).
#   cleanup  the same after the host's own OPENSSL_cleanup().
#
# PATH_PREFIX is put before every file name handed to the host (Z: under
# Wine); RUNNER runs the host program (e.g. wine).
set -eu
check=$1 dvkc=$2 host=$3 work=$4
prefix=${5:-}
[ $# -ge 5 ] && shift 5 || shift $#
here=$(cd "$(dirname "$0")" && pwd)
config=$here/unusable_tls.cnf

rm -rf "$work"
mkdir -p "$work"
. "$here/../../support/start_serve.sh"
start_serve "$dvkc" "$work" env -u OPENSSL_CONF
printf 'identity of the host\n' >"$work/identity.bin"

# run_host OUT MODE [ARGS...]: the host's output, without Wine's CRs, in OUT; its status returned.
run_host() {
  out=$1 mode=$2
  shift 2
  status=0
  "$@" "$host" "$mode" 127.0.0.1 "$port" "$prefix$trust" "$prefix$work/identity.bin" $extra >"$out.raw" 2>"$out.err" ||
    status=$?
  tr -d '\r' <"$out.raw" >"$out"
  return $status
}
extra=

case $check in
config)
  run_host "$work/plain.txt" query || { cat "$work/plain.txt" "$work/plain.txt.err" >&2; exit 1; }
  run_host "$work/with-config.txt" query env OPENSSL_CONF="$prefix$config" "$@" ||
    { echo "with OPENSSL_CONF=$config:" >&2; cat "$work/with-config.txt" "$work/with-config.txt.err" >&2; exit 1; }
  if ! cmp -s "$work/plain.txt" "$work/with-config.txt"; then
    echo "OPENSSL_CONF changed the query's result:" >&2
    diff "$work/plain.txt" "$work/with-config.txt" >&2 || true
    exit 1
  fi
  cat "$work/plain.txt"
  status=0
  run_host "$work/loaded.txt" loaded env OPENSSL_CONF="$prefix$config" "$@" || status=$?
  case $status in
  2) echo "(this host cannot load a configuration itself)" ;;
  1) grep -q '^exchange: -12$' "$work/loaded.txt" ||
       { echo "loaded by the host, the file should break the handshake:" >&2; cat "$work/loaded.txt" >&2; exit 1; }
     echo "loaded by the host itself, the same file breaks the exchange: $(cat "$work/loaded.txt")" ;;
  *) echo "loaded by the host itself, the file did not break the exchange: is it still a test?" >&2; exit 1 ;;
  esac
  echo "OPENSSL_CONF changes no result"
  ;;
trace)
  if ! command -v strace >/dev/null 2>&1 || ! strace -f -e trace=%file -o "$work/probe.trace" true 2>/dev/null; then
    echo "strace cannot trace here"
    exit 77
  fi
  ssldir=$(openssl version -d | sed -n 's/^OPENSSLDIR: "\(.*\)"$/\1/p')
  [ -n "$ssldir" ] || { echo "no OPENSSLDIR from openssl version -d" >&2; exit 1; }
  # LeakSanitizer cannot run under ptrace: the traced run goes without it.
  run_host "$work/traced.txt" query env OPENSSL_CONF="$config" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" strace -f -e trace=%file -o "$work/query.trace" "$@" ||
    { cat "$work/traced.txt" "$work/traced.txt.err" >&2; exit 1; }
  grep -q 'identity.bin' "$work/query.trace" || { echo "the trace saw no file of the query" >&2; exit 1; }
  if grep -F -e 'openssl.cnf' -e "$config" -e "\"$ssldir/" -e "\"$ssldir\"" "$work/query.trace" >"$work/opened.txt"; then
    echo "opened by the query:" >&2
    cat "$work/opened.txt" >&2
    exit 1
  fi
  echo "nothing of OpenSSL's configuration opened (OPENSSLDIR $ssldir, OPENSSL_CONF $config)"
  ;;
late)
  case ${EXPECT_LATE:--1 -4} in
  any) extra= ;;
  *) extra=${EXPECT_LATE:--1 -4} ;;
  esac
  run_host "$work/late.txt" late "$@" || { cat "$work/late.txt" "$work/late.txt.err" >&2; exit 1; }
  grep -q '^late: ' "$work/late.txt" || { echo "the atexit handler did not run" >&2; exit 1; }
  cat "$work/late.txt"
  ;;
cleanup)
  run_host "$work/cleanup.txt" cleanup "$@" || { cat "$work/cleanup.txt" "$work/cleanup.txt.err" >&2; exit 1; }
  cat "$work/cleanup.txt"
  ;;
*)
  echo "no check $check" >&2
  exit 2
  ;;
esac
