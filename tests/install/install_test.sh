#!/usr/bin/env bash
# `cmake --install` into a scratch prefix: the programs, the worker where they look for it, and
# the desktop files that make a file manager open .brk files with the window.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
# Outside the build tree: a program there would be allowed the build's own worker.
scratch=$(mktemp -d /tmp/vuv-install.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/usr
export XDG_CACHE_HOME=$scratch/cache  # the searches below keep their index there
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
for file in bin/vuvuveva bin/vuvuveva-cli libexec/vuvuveva/vuvuveva-smb-worker share/mime/packages/vuvuveva.xml \
            share/applications/vuvuveva.desktop share/icons/hicolor/scalable/apps/vuvuveva.svg \
            lib/systemd/user/vuvuveva-index.service lib/systemd/user/vuvuveva-index.timer; do
  [ -f "$prefix/$file" ] || fail "$file was not installed"
  case $file in bin/* | libexec/*) [ -x "$prefix/$file" ] || fail "$file is not executable" ;; esac
done
[ ! -e "$prefix/bin/vuvuveva-smb-worker" ] || fail "the worker is in the PATH"

# The desktop entry opens a file, and claims the type the MIME package gives *.brk.
desktop=$prefix/share/applications/vuvuveva.desktop
grep -qx 'Exec=vuvuveva %f' "$desktop" || fail "the desktop entry does not pass the file"
grep -qx 'MimeType=application/x-vuvuveva-tree;' "$desktop" || fail "the desktop entry claims no tree file type"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop"; fi
mime=$prefix/share/mime/packages/vuvuveva.xml
xmllint --noout "$mime"
update-mime-database "$prefix/share/mime" >/dev/null 2>&1
grep -q '^application/x-vuvuveva-tree:\*\.brk$' "$prefix/share/mime/globs" || fail "*.brk is not the tree file type"

# The index's service runs the installed CLI; systemd reads both units (as system units: a
# user manager needs a session).
grep -q "^ExecStart=$prefix/bin/vuvuveva-cli index " "$prefix/lib/systemd/user/vuvuveva-index.service" \
  || fail "the index service does not run the installed CLI"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify "$prefix"/lib/systemd/user/vuvuveva-index.* >/dev/null 2>&1 \
    || fail "systemd does not accept the index units"
fi

# The installed CLI starts the installed worker. A stand-in worker records its path and exits at
# once, so no network is touched: the search of a loopback share only reports a failure.
marker=$scratch/started-worker
cat >"$prefix/libexec/vuvuveva/vuvuveva-smb-worker" <<SCRIPT
#!/bin/sh
echo "\$0" >"$marker"
SCRIPT
search() ( cd "$scratch" && timeout 30 "$prefix/bin/vuvuveva-cli" search --location '\\127.0.0.1\none' \
  --pattern '*' --jobs 1 --timeout 1 --source netbios 2>&1 )
search >/dev/null || true
[ -f "$marker" ] || fail "the installed CLI did not start the installed worker"
[ "$(cat "$marker")" = "$prefix/libexec/vuvuveva/vuvuveva-smb-worker" ] || fail "started $(cat "$marker")"

# Near miss: without an installed worker the installed CLI must not fall back to the build's,
# nor to a program of the worker's name in the folder it runs in.
rm "$prefix/libexec/vuvuveva/vuvuveva-smb-worker"
printf '#!/bin/sh\necho planted >"%s"\n' "$marker" >"$scratch/vuvuveva-smb-worker"
chmod +x "$scratch/vuvuveva-smb-worker"
rm -f "$marker"
out=$(search) || true
case $out in
  *"worker program $prefix/bin/vuvuveva-smb-worker: not found"*) ;;
  *) fail "the installed CLI found a worker that was not installed: $out" ;;
esac
[ ! -f "$marker" ] || fail "the installed CLI started a worker from the folder it ran in"
echo "installed and found: $prefix"
