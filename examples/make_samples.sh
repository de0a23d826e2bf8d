#!/usr/bin/env bash
# Writes the sample firmware files next to this script. The contents come from
# a fixed pseudo-random sequence, so every run writes the same bytes: the
# committed files are this script's output and the tests pin them.
#
#   nym_sample.s             S0, S2 and S3 records, S5, S7 end record (Nym)
#   tl3xx_sample.s           S1 and S2 records with a gap, S9 end record (TL3xx, /a)
#   series27_sample.s        S1 and S2 records, S8 end record (27 series, /9)
#   tk720_sample.bin         3000 bytes, the first 8 left as header room (/m)
#   tk720_digest_sample.bin  3000 bytes, the first 24 left as header room (/s)
set -euo pipefail
cd "$(dirname "$0")"

seed=20240611
# Line ends: the Nym sample has the CR LF of files made on Windows, the others
# plain LF; the loader reads both alike.
eol=$'\r\n'
# Next pseudo-random byte in $byte (a plain linear congruential sequence).
next_byte() {
  seed=$(((seed * 1103515245 + 12345) % 2147483648))
  byte=$(((seed >> 16) & 0xFF))
}

# One S-record line: type digit, address width in bytes, address, data as
# hex text. The checksum is the ones' complement of the sum of the count,
# address and data bytes.
srec() {
  local type=$1 width=$2 address=$3 data=$4
  local count=$((width + ${#data} / 2 + 1))
  local fields
  fields=$(printf '%02X%0*X%s' "$count" $((width * 2)) "$address" "$data")
  local sum=0 i
  for ((i = 0; i < ${#fields}; i += 2)); do
    sum=$((sum + 16#${fields:i:2}))
  done
  printf 'S%s%s%02X%s' "$type" "$fields" $(((~sum) & 0xFF)) "$eol"
}

# $1 random bytes as hex text in $data.
random_hex() {
  data=""
  local i
  for ((i = 0; i < $1; i++)); do
    next_byte
    data+=$(printf '%02X' "$byte")
  done
}

text_hex() {
  local text=$1 i
  data=""
  for ((i = 0; i < ${#text}; i++)); do
    data+=$(printf '%02X' "'${text:i:1}")
  done
}

# $1 bytes: zeros for the first $2, then random bytes, written raw to $3.
binary_image() {
  local length=$1 room=$2 file=$3 i escapes=""
  for ((i = 0; i < length; i++)); do
    if ((i < room)); then
      byte=0
    else
      next_byte
    fi
    escapes+=$(printf '\\x%02x' "$byte")
  done
  printf '%b' "$escapes" >"$file"
}

{
  text_hex "nym_sample"
  srec 0 2 0 "$data"
  for ((k = 0; k < 40; k++)); do
    random_hex 32
    srec 2 3 $((0x010000 + k * 32)) "$data"
  done
  for ((k = 0; k < 40; k++)); do
    random_hex 32
    srec 3 4 $((0x00400000 + k * 32)) "$data"
  done
  srec 5 2 80 ""
  srec 7 4 0x00400000 ""
} >nym_sample.s
eol=$'\n'

{
  text_hex "tl3xx_sample"
  srec 0 2 0 "$data"
  for ((k = 0; k < 64; k++)); do
    random_hex 32
    srec 1 2 $((k * 32)) "$data"
  done
  # 0x0800..0x08FF stays erased: the image keeps the gap as 0xFF.
  for ((k = 0; k < 16; k++)); do
    random_hex 32
    srec 2 3 $((0x000900 + k * 32)) "$data"
  done
  srec 9 2 0 ""
} >tl3xx_sample.s

{
  text_hex "series27_sample"
  srec 0 2 0 "$data"
  for ((k = 0; k < 96; k++)); do
    random_hex 32
    srec 1 2 $((k * 32)) "$data"
  done
  for ((k = 0; k < 16; k++)); do
    random_hex 32
    srec 2 3 $((0x001000 + k * 32)) "$data"
  done
  srec 8 3 0 ""
} >series27_sample.s

binary_image 3000 8 tk720_sample.bin
binary_image 3000 24 tk720_digest_sample.bin
