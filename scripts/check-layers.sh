#!/usr/bin/env bash
# Checks that the driver's folders depend only downwards:
#   base <- platform <- protocol, line, config, diag, history <- worker <- host
# A folder may include its own headers and those of the folders below it. The worker may
# also include host/records.h, the header that puts the instance's records together.
# Prints every include that breaks the rule and exits non-zero when there is one.
set -euo pipefail
cd "$(dirname "$0")/../src"

middle="base platform protocol line config diag history"
allowed() {  # allowed FOLDER: the folders FOLDER may include from
  case $1 in
    base) echo "base" ;;
    platform) echo "base platform" ;;
    protocol | line | config | diag | history) echo "$middle" ;;
    worker) echo "$middle worker" ;;
    host) echo "$middle worker host" ;;
    *) echo "" ;;
  esac
}

status=0
for dir in */; do
  folder=${dir%/}
  ok=" $(allowed "$folder") "
  while IFS=: read -r file line include; do
    target=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$include")
    case $target in
      */*) ;;
      *) continue ;;  # zkdrv.h and other headers outside the folders
    esac
    top=${target%%/*}
    [[ $ok == *" $top "* ]] && continue
    [[ $folder == worker && $target == host/records.h ]] && continue
    echo "src/$file:$line: $folder/ may not include $target"
    status=1
  done < <(grep -Hn '^[[:space:]]*#[[:space:]]*include "' -r "$folder" || true)
done
if [ $status -eq 0 ]; then echo "include layers: ok"; fi
exit $status
