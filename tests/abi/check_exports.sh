#!/usr/bin/env bash
# Compares the functions the shared library exports with the functions the
# public header declares: nothing internal may leak, nothing may be missing.
set -euo pipefail
lib=$1
header=$2
declared=$(grep -v "^#" "$header" | tr "\n" " " | grep -oE 'RYCERT_API[^;(]*\(' |
           sed -E 's/.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\($/\1/' | sort -u)
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TWV]$/ {print $3}' |
           grep -vE '^(_init|_fini)$' | sort -u)
missing=$(comm -23 <(echo "$declared") <(echo "$exported"))
extra=$(comm -13 <(echo "$declared") <(echo "$exported"))
status=0
if [ -n "$missing" ]; then echo "declared but not exported:"; echo "$missing"; status=1; fi
if [ -n "$extra" ]; then echo "exported but not declared:"; echo "$extra"; status=1; fi
echo "$(echo "$declared" | wc -l) functions declared, $(echo "$exported" | wc -l) exported"
exit $status
