#!/bin/sh
# Makes a SoftHSM2 configuration with two fresh tokens in $1 for the token
# tests (they find it through SOFTHSM2_CONF). The tokens are never logged
# into; the PINs only satisfy softhsm2-util.
set -eu
dir=$1
rm -rf "$dir"
mkdir -p "$dir/tokens"
cat >"$dir/softhsm2.conf" <<CONF
directories.tokendir = $dir/tokens
objectstore.backend = file
log.level = ERROR
slots.removable = false
CONF
export SOFTHSM2_CONF="$dir/softhsm2.conf"
for label in rytest-first rytest-second; do
  softhsm2-util --init-token --free --label "$label" --so-pin 12345678 --pin 1234 >/dev/null
done
softhsm2-util --show-slots | grep -c "Label: *rytest" | grep -qx 2
