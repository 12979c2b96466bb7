#!/usr/bin/env bash
# Fails when a source file includes a header from a folder above its own.
# The folders layer one way; a folder may include its own headers and those
# of every folder below it. headless and desktop are siblings. winbridge is
# a Windows program of its own (built with MinGW): it may use platform's
# plain headers, and nothing includes it.
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"

rank() {
  case "$1" in
    platform) echo 0 ;; config | winbridge) echo 1 ;; net) echo 2 ;; acquire) echo 3 ;;
    server) echo 4 ;; shell) echo 5 ;; headless | desktop) echo 6 ;; app) echo 7 ;;
    *) echo -1 ;;
  esac
}

status=0
while IFS= read -r file; do
  own=${file#"$src"/}
  own=${own%%/*}
  ownRank=$(rank "$own")
  if [ "$ownRank" -lt 0 ]; then
    echo "$file: folder '$own' has no place in the layers" >&2
    status=1
    continue
  fi
  while IFS= read -r included; do
    folder=${included%%/*}
    [ "$folder" = "$included" ] && continue  # a header beside the file
    [ "$folder" = "$own" ] && continue
    theirRank=$(rank "$folder")
    if [ "$folder" = winbridge ] || [ "$theirRank" -lt 0 ] || [ "$theirRank" -ge "$ownRank" ]; then
      echo "$file includes \"$included\": $folder is not below $own" >&2
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

[ "$status" -eq 0 ] && echo "include layers: ok"
exit "$status"
