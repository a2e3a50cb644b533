#!/usr/bin/env bash
# Builds a release and lays out what to upload:
#   tools/release.sh VERSION
# writes release/VERSION/: VelmoraSetup-VERSION.exe (programs, uninstaller
# and installer Authenticode-signed), update.xml (the offer, signed with the
# update key) and SHA256SUMS, and prints the SHA-256 of each file.
#
# From the environment:
#   VELBOX_RELEASE_PUBKEY           the public half of the publisher's update
#                                   signing key (P-256, PEM): built into
#                                   velUpdate.exe
#   VELBOX_RELEASE_KEY              its private half (PEM): read only by the
#                                   signing step after the build, which also
#                                   checks that it matches the public half
#   VELBOX_CODESIGN_CERT            code-signing certificate (PKCS#12)
#   VELBOX_CODESIGN_PASSWORD        its password, if it has one
#   VELBOX_CODESIGN_TIMESTAMP_URL   time-stamp server (recommended: signatures
#                                   then outlive the certificate)
#   VELBOX_CODESIGN_CAFILE          trust anchors the signatures are checked
#                                   against (default: the system's)
#   VELBOX_WEB_HOST, VELBOX_MUSIC_HOST, VELBOX_UPDATE_HOST   the three hosts
#   VELBOX_SITE_HOSTS, VELBOX_SITE_CONTROLS   the music site's further hosts
#                                   and the ActiveX controls its pages may
#                                   run (README, "The hosted page"); the
#                                   build's defaults when unset
#   VELBOX_RELEASE_URL              download folder of the installer
#                                   (default http://$VELBOX_UPDATE_HOST/box/)
#   VELBOX_RELEASE_DELAY            seconds the updater waits before starting
#                                   the installer (default 5)
#   VELBOX_RELEASE_EXPIRES          end of the offer (default 14 days; publish
#                                   again before then)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fail() { echo "release: $*" >&2; exit 1; }
[ $# -eq 1 ] || fail "usage: $0 VERSION (major.minor.revision)"
version=$1
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "VERSION must be major.minor.revision, got '$version'"
for v in VELBOX_RELEASE_PUBKEY VELBOX_RELEASE_KEY VELBOX_CODESIGN_CERT VELBOX_WEB_HOST VELBOX_MUSIC_HOST \
         VELBOX_UPDATE_HOST; do
  [ -n "${!v:-}" ] || fail "$v is not set (see the head of $0)"
done
# The private key's path stays in this script; nothing the build runs
# (CMake, compilers, makensis and the scripts they start) may learn of it.
key=$(realpath "$VELBOX_RELEASE_KEY")
unset VELBOX_RELEASE_KEY
pub=$(realpath "$VELBOX_RELEASE_PUBKEY")
cert=$(realpath "$VELBOX_CODESIGN_CERT")
cafile=${VELBOX_CODESIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt}
[ -f "$key" ] || fail "no update key at $key"
[ -r "$pub" ] || fail "cannot read the public update key $pub"
[ -r "$cert" ] || fail "cannot read the code-signing certificate $cert"
command -v osslsigncode >/dev/null || fail "osslsigncode is missing (tools/install-deps.sh installs it)"
python3 tools/check-release-key.py "$pub" || exit 1

build=$root/build/release-$version
out=$root/release/$version
mkdir -p "$build"
cp "$pub" "$build/update-signing.pub.pem"

# The build's own environment must not name the private key either (say,
# through another variable): checked before anything is built.
if env | grep -qF -e "$key" -e "PRIVATE KEY"; then
  fail "the environment names the private update key; the build must not see it"
fi

# Configured afresh: no setting of an earlier try survives in the cache.
rm -f "$build/CMakeCache.txt"
site=()
for v in VELBOX_SITE_HOSTS VELBOX_SITE_CONTROLS; do
  [ -z "${!v+x}" ] || site+=("-D$v=${!v}")
done
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "${site[@]}" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELBOX_VERSION="$version" \
  -DVELBOX_WEB_HOST="$VELBOX_WEB_HOST" -DVELBOX_MUSIC_HOST="$VELBOX_MUSIC_HOST" \
  -DVELBOX_UPDATE_HOST="$VELBOX_UPDATE_HOST" -DVELBOX_UPDATE_PUBKEY="$build/update-signing.pub.pem" \
  -DVELBOX_CODESIGN_CERT="$cert" -DVELBOX_CODESIGN_TIMESTAMP_URL="${VELBOX_CODESIGN_TIMESTAMP_URL:-}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target installer

installer=$build/VelmoraSetup-$version.exe
for f in "$build/velBox.exe" "$build/velUpdate.exe" "$installer"; do
  osslsigncode verify -CAfile "$cafile" -in "$f" >"$build/verify.log" 2>&1 \
    || { cat "$build/verify.log" >&2; fail "$(basename "$f") does not verify against $cafile"; }
done

rm -rf "$out"
mkdir -p "$out"
cp "$installer" "$out/"

# Signing, in a step of its own after the build: the only place that reads
# the private key. It must be the one whose public half the updaters carry.
sign_offer() {
  local derived
  derived=$(openssl pkey -in "$key" -pubout 2>/dev/null) || fail "$key is not a private key openssl can read"
  [ "$derived" = "$(openssl pkey -pubin -in "$build/update-signing.pub.pem" 2>/dev/null)" ] ||
    fail "the private update key is not the one whose public half was built in"
  local expires=()
  [ -n "${VELBOX_RELEASE_EXPIRES:-}" ] && expires=(--expires "$VELBOX_RELEASE_EXPIRES")
  python3 tools/publish-update.py "$out/VelmoraSetup-$version.exe" \
    --url "${VELBOX_RELEASE_URL:-http://$VELBOX_UPDATE_HOST/box/}" --delay "${VELBOX_RELEASE_DELAY:-5}" \
    --key "$key" "${expires[@]}" -o "$out/update.xml"
}
sign_offer
chmod 644 "$out"/*
(cd "$out" && sha256sum "VelmoraSetup-$version.exe" update.xml >SHA256SUMS && cat SHA256SUMS)
echo "release $version: $out (upload the installer to the download folder, update.xml as /box/update.xml)"
