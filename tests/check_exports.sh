#!/usr/bin/env bash
# Every plug-in must export exactly mexFunction and mexVersion.
set -u
status=0
[ $# -gt 0 ] || { echo "no plug-ins given"; exit 1; }
for f in "$@"; do
  syms=$(nm -D --defined-only "$f" | awk '$2 ~ /^[TDBRVWiu]$/ {print $3}' | sed 's/@.*//' | sort -u | tr '\n' ' ')
  if [ "$syms" != "mexFunction mexVersion " ]; then
    echo "FAIL $(basename "$f") exports: $syms"
    status=1
  fi
done
[ $status -eq 0 ] && echo "all $# plug-ins export exactly mexFunction and mexVersion"
exit $status
