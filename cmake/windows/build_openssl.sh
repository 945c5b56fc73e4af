#!/usr/bin/env bash
# Cross-builds a static OpenSSL 3.0 for Windows with mingw-w64, from
# Debian's source package (apt verifies it against the signed index).
#
#   build_openssl.sh CACHE_DIR [TARGET]
#
# TARGET is x86_64-w64-mingw32 (x64, the default) or i686-w64-mingw32 (x86).
# The result goes to CACHE_DIR/openssl-<debian version>-<options hash>/ with
# include/, lib/libssl.a, lib/libcrypto.a, LICENSE.txt and VERSION; the
# prefix is printed on the last line. An existing build with the same
# options is reused without touching the network, so the library is built
# once per build directory.
set -euo pipefail

cache=$(mkdir -p "$1" && cd "$1" && pwd)
target=${2:-x86_64-w64-mingw32}
case "$target" in
  x86_64-w64-mingw32) configure_target=mingw64 ;;
  i686-w64-mingw32) configure_target=mingw ;;
  *) echo "build_openssl.sh: unknown target $target" >&2; exit 2 ;;
esac

# What the DLL needs: TLS 1.2 and 1.3 with ECDHE (X25519, P-256, P-384),
# RSA, ECDSA and RSA-PSS signatures, AES-GCM and ChaCha20-Poly1305, SHA-1
# (the ClientID) and SHA-2. Everything else that can go, goes; no
# configuration file is ever loaded.
options=(
  "$configure_target" no-shared no-tests no-legacy no-engine no-module no-dso
  no-autoload-config no-deprecated no-ui-console
  no-ssl3 no-dtls no-srp no-psk no-comp no-srtp no-sctp no-ct no-cmp no-cms no-ts
  no-aria no-bf no-blake2 no-camellia no-cast no-des no-dh no-dsa no-ec2m no-idea
  no-md4 no-mdc2 no-ocb no-rc2 no-rc4 no-rc5 no-rmd160 no-scrypt no-seed no-siphash
  no-sm2 no-sm3 no-sm4 no-whirlpool
  --libdir=lib "--cross-compile-prefix=$target-"
)
# On x86 mingw-w64 makes time_t 32 bits for msvcrt unless told otherwise,
# and certificate validity would stop at 2038; the DLL is built the same way
# (cmake/windows/mingw-w64-i686.cmake), so OpenSSL's time_t is its time_t.
if [ "$configure_target" = mingw ]; then
  options+=(-D__MINGW_USE_VC2005_COMPAT)
fi
key=$( { printf '%s\n' "${options[@]}"; "$target-gcc-posix" -dumpversion; } | sha256sum | cut -c1-12)

for done_stamp in "$cache"/openssl-*-"$key"/VERSION; do
  if [ -f "$done_stamp" ]; then
    echo "OpenSSL for $target: reusing $(dirname "$done_stamp")" >&2
    dirname "$done_stamp"
    exit 0
  fi
done

# Fetch the sources with a private source list and private apt state, so
# that the machine's own package lists stay as they are.
apt_dir="$cache/apt"
rm -rf "$apt_dir"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/src"
# The source entries come from the machine's own apt configuration: each
# binary index it is set up for (whatever mirror or proxy that names) gives
# the matching deb-src line.
apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
  sort -u | sed 's/^/deb-src /' >"$apt_dir/sources.list"
[ -s "$apt_dir/sources.list" ] || { echo "apt is set up for no Debian archive" >&2; exit 1; }
apt_options=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=/dev/null"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Sandbox::User=root"
  -o "Debug::NoLocking=true"
)
echo "OpenSSL for $target: fetching Debian's sources" >&2
apt-get "${apt_options[@]}" -qq update >&2
fetched=""
for suite in bookworm-security bookworm; do
  rm -f "$apt_dir"/src/*
  if (cd "$apt_dir/src" && apt-get "${apt_options[@]}" -qq --download-only source "openssl/$suite" >&2); then
    fetched=$suite
    break
  fi
done
[ -n "$fetched" ] || { echo "OpenSSL sources could not be fetched" >&2; exit 1; }
dsc=$(ls "$apt_dir"/src/openssl_3.0.*.dsc | sort -V | tail -1)
version=$(sed -n 's/^Version: //p' "$dsc")
case "$version" in 3.0.*) ;; *) echo "unexpected OpenSSL version $version" >&2; exit 1 ;; esac
src="$apt_dir/openssl-$version"
dpkg-source --no-check -x "$dsc" "$src" >&2  # apt has checked every file's hash

# OpenSSL 3.0's x86 CPU detection emits `.hidden OPENSSL_ia32cap_P` for
# every object format, and the COFF assembler of the x86 (mingw) target
# refuses the directive. Emit it for ELF only, as perlasm's own ::hidden
# does; the assembly (AES-NI, SHA, bignum) is kept, nothing else changes.
cpuid="$src/crypto/x86cpuid.pl"
if [ "$configure_target" = mingw ] && grep -q '^push(@out, "\.hidden OPENSSL_ia32cap_P\\n");$' "$cpuid"; then
  sed -i 's/^push(@out, "\.hidden OPENSSL_ia32cap_P\\n");$/push(@out, ".hidden OPENSSL_ia32cap_P\\n") if ($::elf);/' "$cpuid"
  echo "OpenSSL for $target: .hidden in x86cpuid.pl kept to ELF" >&2
fi

prefix="$cache/openssl-$version-$key"
rm -rf "$prefix"
echo "OpenSSL $version for $target: building (a few minutes, once)" >&2
(
  cd "$src"
  CC=gcc-posix CXX=g++-posix ./Configure "${options[@]}" "--prefix=$prefix" "--openssldir=$prefix/ssl" >&2
  make -s -j"$(nproc)" build_libs >&2
  make -s install_dev >&2
)
cp "$src/LICENSE.txt" "$prefix/LICENSE.txt"
printf '%s\n' "${options[@]}" >"$prefix/OPTIONS"
rm -rf "$apt_dir"
echo "$version" >"$prefix/VERSION"
echo "$prefix"
