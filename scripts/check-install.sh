#!/usr/bin/env bash
# Checks an installed Tavrilox:
#   check-install.sh ROOT PREFIX DESKTOP   files under ROOT/PREFIX (ROOT "" for the
#                                          real root); DESKTOP 1 when the desktop
#                                          front end was built
#   check-install.sh --build BUILD DESKTOP installs BUILD into a scratch prefix
#                                          with `cmake --install` and checks that
# The binary must run, the desktop entries must pass desktop-file-validate and
# the user unit systemd-analyze verify (each where the tool is there).
set -euo pipefail

if [ "${1:-}" = "--build" ]; then
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  cmake --install "$2" --prefix "$scratch/prefix" >/dev/null
  bash "$0" "" "$scratch/prefix" "$3"
  exit 0
fi

root=$1
prefix=$2
desktop=$3
base="$root$prefix"
if [ "$prefix" = /usr ]; then sysconf="$root/etc"; else sysconf="$base/etc"; fi
failed=0

fail() {
  echo "install layout: $*" >&2
  failed=1
}
need() {
  [ -f "$1" ] || fail "missing $1"
}

need "$base/bin/tavrilox"
version=$("$base/bin/tavrilox" --version 2>&1) || fail "tavrilox --version failed: $version"
case "$version" in "Tavrilox "[0-9]*) ;; *) fail "tavrilox --version printed: $version" ;; esac

man="$base/share/man/man1/tavrilox.1"
need "$man"
if [ -f "$man" ]; then
  grep -q '^\.TH TAVRILOX 1' "$man" || fail "$man has no .TH line"
  grep -q 'check\\-config' "$man" || fail "$man does not describe --check-config"
fi

unit="$base/lib/systemd/user/tavrilox.service"
need "$unit"
if [ -f "$unit" ]; then
  grep -qx "ExecStart=$prefix/bin/tavrilox --headless" "$unit" || fail "$unit does not run $prefix/bin/tavrilox --headless"
  if command -v systemd-analyze >/dev/null; then
    # Verified as the installed system will see it: the executable it names
    # is looked up under ROOT.
    # and its man page under ROOT.
    check=$(mktemp -d)
    mkdir -m 700 "$check/runtime"
    sed "s#=$prefix/bin/#=$base/bin/#" "$unit" >"$check/tavrilox.service"
    if ! out=$(XDG_RUNTIME_DIR="$check/runtime" MANPATH="$base/share/man" \
      systemd-analyze verify --user "$check/tavrilox.service" 2>&1); then
      if grep -qiE 'failed to (initialize|connect|create|setup)|no such file or directory.*(runtime|bus)|XDG_RUNTIME_DIR' <<<"$out"; then
        echo "install layout: systemd-analyze cannot run here, unit not verified: $(head -n 1 <<<"$out")"
      else
        fail "systemd-analyze verify: $out"
      fi
    elif [ -n "$out" ]; then
      fail "systemd-analyze verify: $out"
    fi
    rm -rf "$check"
  else
    echo "install layout: no systemd-analyze, unit not verified"
  fi
fi

if [ "$desktop" = 1 ]; then
  entry="$base/share/applications/tavrilox.desktop"
  autostart="$sysconf/xdg/autostart/tavrilox.desktop"
  need "$entry"
  need "$autostart"
  [ -f "$entry" ] && { grep -qx "Exec=$prefix/bin/tavrilox" "$entry" || fail "$entry does not start $prefix/bin/tavrilox"; }
  [ -f "$autostart" ] && { grep -qx 'Hidden=true' "$autostart" || fail "$autostart is not off (Hidden=true)"; }
  for size in 16 32 48 64 128; do
    icon="$base/share/icons/hicolor/${size}x${size}/apps/tavrilox.png"
    need "$icon"
    [ -f "$icon" ] && { [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$icon is no PNG"; }
  done
  if command -v desktop-file-validate >/dev/null; then
    for file in "$entry" "$autostart"; do
      [ -f "$file" ] || continue
      out=$(desktop-file-validate "$file" 2>&1) || fail "desktop-file-validate $file: $out"
      [ -z "$out" ] || echo "$out"
    done
  else
    echo "install layout: no desktop-file-validate, entries not validated"
  fi
fi

[ "$failed" -eq 0 ] && echo "install layout: ok ($base)"
exit "$failed"
