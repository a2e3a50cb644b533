#!/usr/bin/env bash
# Signs a Windows program in place with Authenticode (SHA-256), using
# Debian's osslsigncode:
#   codesign.sh CERT.p12 FILE [TIMESTAMP_URL]
# The certificate's password, if it has one, comes from the environment
# (VELBOX_CODESIGN_PASSWORD), never from the command line, where other
# users could read it.
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 CERT.p12 FILE [TIMESTAMP_URL]" >&2
  exit 2
fi
cert=$1 file=$2 ts=${3:-}
command -v osslsigncode >/dev/null || { echo "codesign: osslsigncode is missing (Debian package osslsigncode)" >&2; exit 1; }
[ -r "$cert" ] || { echo "codesign: cannot read the certificate $cert" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"; rm -f "${tmp:-}"' EXIT
args=(sign -pkcs12 "$cert" -h sha256 -in "$file" -out "$work/signed")
if [ -n "${VELBOX_CODESIGN_PASSWORD:-}" ]; then
  (umask 077; printf '%s' "$VELBOX_CODESIGN_PASSWORD" >"$work/pass")
  args+=(-readpass "$work/pass")
fi
[ -n "$ts" ] && args+=(-ts "$ts")
# A file signed before (an incremental build) gets a fresh signature, not a
# second one beside the old.
if osslsigncode extract-signature -in "$file" -out "$work/old" >/dev/null 2>&1; then
  osslsigncode remove-signature -in "$file" -out "$work/unsigned" >/dev/null
  args[6]=$work/unsigned
fi
osslsigncode "${args[@]}" >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
# Replaced in one step: a failed signing leaves the file as it was.
tmp="$file.signing.$$"
cp "$work/signed" "$tmp" && mv -f "$tmp" "$file"
