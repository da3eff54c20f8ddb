#!/usr/bin/env bash
# Signs a Windows executable in place (Authenticode, SHA-256) with osslsigncode.
#   KORVANE_SIGN_PKCS12         the certificate and its key (.p12 / .pfx)
#   KORVANE_SIGN_PASSWORD       its password, read by osslsigncode from a pipe
#                               so that it never shows on a command line
#   KORVANE_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamping service
# Usage: sign.sh FILE
set -euo pipefail

(($# == 1)) || { sed -n '2,7p' "$0" >&2; exit 2; }
: "${KORVANE_SIGN_PKCS12:?sign.sh: KORVANE_SIGN_PKCS12 is not set}"
: "${KORVANE_SIGN_PASSWORD?sign.sh: KORVANE_SIGN_PASSWORD is not set}"
file=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signed=$work/signed

options=(-pkcs12 "$KORVANE_SIGN_PKCS12" -readpass - -h sha256 -n Korvane)
[[ -n "${KORVANE_SIGN_TIMESTAMP_URL:-}" ]] && options+=(-ts "$KORVANE_SIGN_TIMESTAMP_URL")
printf '%s' "$KORVANE_SIGN_PASSWORD" |
  osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >/dev/null
chmod --reference="$file" "$signed"
mv -f "$signed" "$file"
