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
. "$(dirname "$0")/../support/start_serve.sh"
start_serve "$dvkc" "$work"
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
