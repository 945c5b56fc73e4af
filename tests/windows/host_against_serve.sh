#!/bin/sh
# A whole query across the process boundary: dvkc serve runs natively on
# Linux (127.0.0.1, a free port, a throwaway PKI), the Windows host program
# loads DVKCDLL.dll under Wine and queries it; the codes it prints must be
# the sample service's (the sum of the SN's bytes modulo 1000).
#   host_against_serve.sh DVKC WINE_RUN DLL_HOST DLL WORK_DIR
set -eu
dvkc=$1 wine_run=$2 dll_host=$3 dll=$4 work=$5

rm -rf "$work"
mkdir -p "$work"
"$dvkc" serve --listen 127.0.0.1:0 --pki-dir "$work/pki" >"$work/serve.out" 2>"$work/serve.err" &
serve=$!
trap 'kill "$serve" 2>/dev/null || true; wait "$serve" 2>/dev/null || true' EXIT

tries=0
until grep -q '^dvkc serve: codes:' "$work/serve.out"; do
  tries=$((tries + 1))
  if [ "$tries" -gt 600 ] || ! kill -0 "$serve" 2>/dev/null; then
    echo "dvkc serve did not start:" >&2
    cat "$work/serve.out" "$work/serve.err" >&2
    exit 1
  fi
  sleep 0.1
done
port=$(sed -n 's|^dvkc serve: listening on https://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$work/serve.out")
trust=$(sed -n 's|^dvkc serve: trust file for clients: \([^ ]*\).*|\1|p' "$work/serve.out")
[ -n "$port" ] && [ -n "$trust" ] || { cat "$work/serve.out" >&2; exit 1; }
printf 'identity of the Windows host\n' >"$work/identity.bin"

# Wine sees the Linux file system as drive Z:.
"$wine_run" "$dll_host" "Z:$dll" 127.0.0.1 "$port" "Z:$trust" "Z:$work/identity.bin" >"$work/host.out"
tr -d '\r' <"$work/host.out" >"$work/host.txt"
cat "$work/host.txt"

code_of() {
  printf '%s' "$1" | od -An -tu1 | tr -s ' ' '\n' | awk 'NF { sum += $1 } END { print sum % 1000 }'
}
expected=$(printf '%s %s %s\n%s %s %s\n' \
  SN-0001 A123 "$(code_of SN-0001)" DEV42-7781 WIFI-HOME "$(code_of DEV42-7781)")
if [ "$(cat "$work/host.txt")" != "$expected" ]; then
  printf 'expected:\n%s\n' "$expected" >&2
  exit 1
fi
grep -q 'POST' "$work/serve.out" || true
echo "whole query from the Windows host: ok"
