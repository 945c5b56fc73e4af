#!/usr/bin/env bash
# Cross-builds a static OpenSSL 3.0 for Windows with mingw-w64, from the
# newest OpenSSL 3.0 source that the machine's apt sources offer (the
# security suite first; apt checks every file against the signed index).
#
#   build_openssl.sh CACHE_DIR [TARGET [DEBIAN_VERSION]]
#
# TARGET is x86_64-w64-mingw32 (x64, the default) or i686-w64-mingw32 (x86).
# DEBIAN_VERSION (e.g. 3.0.20-1~deb12u2), empty by default, builds that
# release instead of the newest: the one way to build an older release, and
# the build then says so. Without it the security suite's source index must
# be readable; a transient failure is retried a few times, then the build
# stops and says why.
#
# The result goes to CACHE_DIR/openssl-<debian version>-<options hash>/ with
# include/, lib/libssl.a, lib/libcrypto.a, LICENSE.txt, VERSION (the Debian
# version), RELEASE (the upstream release, e.g. 3.0.22), ORIGIN (what it was
# built from) and OPENSSLDIR. The cache is keyed by the release: a newer
# release offered next time is built then, an existing build of the release
# chosen is reused. The last lines of the output are key=value pairs:
#   prefix=...   newest=<debian version offered, or unknown>   chosen=...
set -euo pipefail

cache=$(mkdir -p "$1" && cd "$1" && pwd)
# One build at a time in a cache (builds in other folders may share it).
exec 9>"$cache/.lock"
flock 9
target=${2:-x86_64-w64-mingw32}
wanted=${3:-}
case "$target" in
  x86_64-w64-mingw32) configure_target=mingw64 ;;
  i686-w64-mingw32) configure_target=mingw ;;
  *) echo "build_openssl.sh: unknown target $target" >&2; exit 2 ;;
esac
say() { echo "OpenSSL for $target: $*" >&2; }

# Where OpenSSL would look for its configuration, engines and modules: the
# system folder, which only administrators can write (a 32-bit process on
# 64-bit Windows sees SysWOW64 there, as protected). The DLL loads none of
# them, but no path of the build machine, which on Windows could name a
# folder any user may create, is compiled in.
system_dir=C:/Windows/System32/OpenSSL
dir_overrides=(
  "OPENSSLDIR=$system_dir"
  "ENGINESDIR=$system_dir/engines-3"
  "MODULESDIR=$system_dir/ossl-modules"
)

# What the DLL needs: TLS 1.2 and 1.3 with ECDHE (X25519, P-256, P-384),
# RSA, ECDSA and RSA-PSS signatures, AES-GCM and ChaCha20-Poly1305, SHA-1
# (the ClientID) and SHA-2. Everything else that can go, goes; no
# configuration file is ever loaded; no source file names in error records
# (no-filenames). The interfaces OpenSSL 3.0 deprecates stay: the DLL reads
# the thread's error state through one of them (ERR_get_state), to put the
# host's error-queue marks back on the entries that carried them. Stack protector as the DLL has it (libssp is linked into
# the DLL statically).
options=(
  "$configure_target" no-shared no-tests no-legacy no-engine no-module no-dso
  no-autoload-config no-ui-console no-filenames
  no-ssl3 no-dtls no-srp no-psk no-comp no-srtp no-sctp no-ct no-cmp no-cms no-ts
  no-aria no-bf no-blake2 no-camellia no-cast no-des no-dh no-dsa no-ec2m no-idea
  no-md4 no-mdc2 no-ocb no-rc2 no-rc4 no-rc5 no-rmd160 no-scrypt no-seed no-siphash
  no-sm2 no-sm3 no-sm4 no-whirlpool
  -fstack-protector-strong
  --libdir=lib "--cross-compile-prefix=$target-"
)
# On x86 mingw-w64 makes time_t 32 bits for msvcrt unless told otherwise,
# and certificate validity would stop at 2038; the DLL is built the same way
# (cmake/windows/mingw-w64-i686.cmake), so OpenSSL's time_t is its time_t.
if [ "$configure_target" = mingw ]; then
  options+=(-D__MINGW_USE_VC2005_COMPAT)
fi
key=$( { printf '%s\n' "${options[@]}" "${dir_overrides[@]}"; "$target-gcc-posix" -dumpversion; } |
  sha256sum | cut -c1-12)

# A pinned release already built needs no network.
if [ -n "$wanted" ] && [ -f "$cache/openssl-$wanted-$key/VERSION" ]; then
  say "reusing $cache/openssl-$wanted-$key (DEBIAN_VERSION $wanted given)"
  printf 'prefix=%s\nnewest=unknown\nchosen=%s\n' "$cache/openssl-$wanted-$key" "$wanted"
  exit 0
fi

# The source index, with a private source list and private apt state, so
# that the machine's own package lists stay as they are.
apt_dir=$(mktemp -d "$cache/apt.XXXXXX")
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/src"
trap 'rm -rf "$apt_dir"' EXIT
# The source entries come from the machine's own apt configuration: each
# binary index it is set up for (whatever mirror or proxy that names) gives
# the matching deb-src line.
# shellcheck disable=SC2016 # apt's own $(...) placeholders
apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
  sort -u | sed 's/^/deb-src /' >"$apt_dir/sources.list"
[ -s "$apt_dir/sources.list" ] || { say "apt is set up for no Debian archive"; exit 1; }
apt_options=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=/dev/null"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Sandbox::User=root"
  -o "Debug::NoLocking=true"
)
# Package mirrors are sometimes caught mid-sync ("Mirror sync in progress?",
# "404 Not Found"): such a failure is retried after a pause, a few times
# (DVKC_APT_RETRY_PAUSES: the pauses in seconds, "5 15 30" by default).
read -r -a pauses <<<"${DVKC_APT_RETRY_PAUSES:-5 15 30}"

# OpenSSL 3.0 source versions offered, "<version> <suite>" a line, newest first.
offered() {
  apt-cache "${apt_options[@]}" madison openssl |
    awk -F'|' '$3 ~ /Sources/ { v = $2; gsub(/ /, "", v); n = split($3, s, " "); print v, s[n - 1] }' |
    grep '^3\.0\.' | sort -rV
}
security_listed() {
  grep -q -- '-security ' "$apt_dir/sources.list" &&
    offered | awk '{ print $2 }' | grep -q -- '-security/'
}
say "reading the source index"
attempt=0
while :; do
  update_log=$(apt-get "${apt_options[@]}" -q update 2>&1) && update_ok=1 || update_ok=0
  if [ "$update_ok" = 1 ] && security_listed; then
    break
  fi
  if [ "$attempt" -ge ${#pauses[@]} ]; then
    break
  fi
  say "the security suite's source index could not be read; trying again in ${pauses[$attempt]} s"
  printf '%s\n' "$update_log" | grep -E '^(E|W):' >&2 || true
  sleep "${pauses[$attempt]}"
  attempt=$((attempt + 1))
done
newest=$(offered | head -1 | cut -d' ' -f1)
if [ -z "$wanted" ]; then
  if ! security_listed; then
    printf '%s\n' "$update_log" | grep -E '^(E|W):' >&2 || true
    say "STOP: the security suite's source index of OpenSSL could not be read after" \
      "$((attempt + 1)) tries, so the newest OpenSSL 3.0 release is not known." \
      "Try again later, or build an older release knowingly with DVKC_OPENSSL_VERSION" \
      "(offered now: $(offered | cut -d' ' -f1 | tr '\n' ' '))"
    exit 1
  fi
  wanted=$newest
fi
[ -n "$newest" ] || newest=unknown
case "$wanted" in 3.0.*) ;; *) say "$wanted is no OpenSSL 3.0 version"; exit 1 ;; esac
release=${wanted%%-*}
prefix="$cache/openssl-$wanted-$key"
printf '%s\n' "$(offered)" | sed 's/^/  offered: /' >&2
if [ -f "$prefix/VERSION" ]; then
  say "reusing $prefix"
  printf 'prefix=%s\nnewest=%s\nchosen=%s\n' "$prefix" "$newest" "$wanted"
  exit 0
fi

# The sources of that version. Debian's source package (its .dsc and
# patches) is unpacked when it can be fetched. A mirror caught mid-sync may
# serve the upstream tarball but not the Debian files beside it: the
# tarball, its hash checked against the signed index, is then built as it
# is, and ORIGIN says so.
src_files_ok() { [ -f "$apt_dir/src/openssl_$release.orig.tar.gz" ]; }
attempt=0
while :; do
  rm -f "$apt_dir"/src/*
  if (cd "$apt_dir/src" && apt-get "${apt_options[@]}" -qq --download-only source "openssl=$wanted" >&2); then
    break
  fi
  if [ "$attempt" -ge ${#pauses[@]} ]; then
    break
  fi
  say "fetching the sources of $wanted failed; trying again in ${pauses[$attempt]} s"
  sleep "${pauses[$attempt]}"
  attempt=$((attempt + 1))
done
src="$apt_dir/openssl-$release"
dsc="$apt_dir/src/openssl_${wanted#*:}.dsc"
if [ -f "$dsc" ]; then
  dpkg-source --no-check -x "$dsc" "$src" >&2  # apt has checked every file's hash
  origin="Debian's source package openssl $wanted"
elif src_files_ok; then
  tarball="$apt_dir/src/openssl_$release.orig.tar.gz"
  expected=$(apt-cache "${apt_options[@]}" showsrc openssl |
    awk -v v="$wanted" -v f="openssl_$release.orig.tar.gz" '
      /^$/ { mine = 0 } /^Version: / { mine = ($2 == v) }
      /^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 }
      mine && on && $3 == f { print $1; exit }')
  actual=$(sha256sum "$tarball" | cut -d' ' -f1)
  if [ -z "$expected" ] || [ "$expected" != "$actual" ]; then
    say "the tarball of $wanted does not match the index (${expected:-no hash} != $actual)"
    exit 1
  fi
  say "WARNING: Debian's files of openssl $wanted cannot be fetched (mirror mid-sync?);" \
    "building upstream OpenSSL $release from its tarball, SHA-256 checked against the signed index"
  mkdir -p "$src"
  tar -xzf "$tarball" -C "$src" --strip-components=1
  origin="the upstream tarball openssl_$release.orig.tar.gz of Debian's openssl $wanted (Debian's patches could not be fetched)"
else
  say "STOP: the sources of openssl $wanted could not be fetched"
  exit 1
fi

# OpenSSL 3.0's x86 CPU detection emits `.hidden OPENSSL_ia32cap_P` for
# every object format, and the COFF assembler of the x86 (mingw) target
# refuses the directive. Emit it for ELF only, as perlasm's own ::hidden
# does; the assembly (AES-NI, SHA, bignum) is kept, nothing else changes.
cpuid="$src/crypto/x86cpuid.pl"
if [ "$configure_target" = mingw ] && grep -q '^push(@out, "\.hidden OPENSSL_ia32cap_P\\n");$' "$cpuid"; then
  sed -i 's/^push(@out, "\.hidden OPENSSL_ia32cap_P\\n");$/push(@out, ".hidden OPENSSL_ia32cap_P\\n") if ($::elf);/' "$cpuid"
  say ".hidden in x86cpuid.pl kept to ELF"
fi

# Reproducible: the build date OpenSSL records is the release's own (its
# changelog or NEWS file). Source paths need no mapping: OpenSSL compiles in
# its source tree with relative paths, without debug information.
if [ -f "$src/debian/changelog" ]; then
  SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$src/debian/changelog" -STimestamp)
else
  SOURCE_DATE_EPOCH=$(date -d "$(sed -n 's/^ *### Changes between .* \[\(.*\)\]$/\1/p' "$src/NEWS.md" | head -1)" +%s 2>/dev/null ||
    stat -c %Y "$src/NEWS.md")
fi
export SOURCE_DATE_EPOCH

rm -rf "$prefix"
say "building OpenSSL $release ($wanted) (a few minutes, once per release)"
(
  cd "$src"
  CC=gcc-posix CXX=g++-posix ./Configure "${options[@]}" \
    "--prefix=$prefix" "--openssldir=$system_dir" >&2
  make -s -j"$(nproc)" "${dir_overrides[@]}" build_libs >&2
  make -s "${dir_overrides[@]}" install_dev >&2
)
cp "$src/LICENSE.txt" "$prefix/LICENSE.txt"
printf '%s\n' "${options[@]}" "${dir_overrides[@]}" >"$prefix/OPTIONS"
echo "$system_dir" >"$prefix/OPENSSLDIR"
echo "$release" >"$prefix/RELEASE"
echo "$origin" >"$prefix/ORIGIN"
echo "$wanted" >"$prefix/VERSION"
# Once the newest release is built, older ones built with the same options
# are not needed any more.
if [ "$wanted" = "$newest" ]; then
  for old in "$cache"/openssl-*-"$key"; do
    [ "$old" = "$prefix" ] || rm -rf "$old"
  done
fi
printf 'prefix=%s\nnewest=%s\nchosen=%s\n' "$prefix" "$newest" "$wanted"
