#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop, a software centre and man
# will find there: every file in place, every name pointing at something installed, and the
# desktop entries and metainfo accepted by their validators.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR APP_ID_PREFIX
set -uo pipefail
build=$1 source=$2 idPrefix=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >/dev/null || {
  echo "FAIL: cmake --install" >&2
  exit 1
}
bin=$prefix/bin
share=$prefix/share

for program in vrellok loop vrellok-launcher; do
  [ -x "$bin/$program" ] || fail "bin/$program is not installed"
done
for file in vrellok/dtmf36.bin vrellok/dtmf44.bin doc/vrellok/copyright doc/vrellok/changelog.gz; do
  [ -s "$share/$file" ] || fail "share/$file is missing or empty"
done

# The installed vrellok, run in a folder without banks, reads the installed ones and writes
# the same TC.wav as a run beside the banks; with neither, it still names the missing bank.
empty=$prefix/empty
beside=$prefix/beside
mkdir -p "$empty" "$beside"
cp "$share"/vrellok/dtmf*.bin "$beside"/
for type in F S; do
  (cd "$empty" && "$bin/vrellok" --type $type --length 100000 >/dev/null) ||
    fail "the installed vrellok --type $type does not find the installed banks"
  (cd "$beside" && "$bin/vrellok" --type $type --length 100000 >/dev/null)
  cmp -s "$empty/TC.wav" "$beside/TC.wav" ||
    fail "TC.wav from the installed banks (--type $type) differs from one made beside the banks"
done
rm "$empty/TC.wav"
mv "$share/vrellok/dtmf44.bin" "$prefix/dtmf44.bin"
missing=$(cd "$empty" && "$bin/vrellok" --length 100000 2>&1)
# The dialog's text, then where the bank was looked for: the folder, then the installed banks.
[ "$missing" = "ERROR-> DTMF44.bin not found: looked for ./dtmf44.bin and $share/vrellok/dtmf44.bin" ] ||
  fail "with no bank anywhere vrellok says: $missing"
[ -e "$empty/TC.wav" ] && fail "with no bank anywhere vrellok still wrote TC.wav"
mv "$prefix/dtmf44.bin" "$share/vrellok/dtmf44.bin"
rm -r "$empty" "$beside"

# The build's bin/ holds what is shipped (and the TC.wav a run there writes), no test programs.
for file in "$build"/bin/*; do
  name=$(basename "$file")
  [ -x "$bin/$name" ] || [ -f "$share/vrellok/$name" ] || [ "$name" = TC.wav ] ||
    fail "build/bin/$name is neither an installed program nor a tone bank"
done

# One manual page per program, none for a program that is not there, each compressed and
# rendering without a warning.
for program in "$bin"/*; do
  name=$(basename "$program")
  [ -s "$share/man/man1/$name.1.gz" ] || fail "no manual page for $name"
done
for page in "$share"/man/man1/*; do
  name=$(basename "$page" .1.gz)
  [ "$page" = "$share/man/man1/$name.1.gz" ] || fail "$(basename "$page") is not a compressed page"
  [ -x "$bin/$name" ] || fail "manual page $name.1 for a program that is not installed"
  text=$(gzip -dc "$page") || fail "$name.1.gz does not decompress"
  grep -q '@[A-Z_]*@' <<<"$text" && fail "$name.1 holds an unreplaced @VARIABLE@"
  warnings=$(groff -t -man -ww -z <<<"$text" 2>&1)
  [ -z "$warnings" ] || fail "$name.1 does not render cleanly: $warnings"
done

icons=$share/icons/hicolor/scalable/apps
cmp -s "$icons/vrellok.svg" "$icons/loop.svg" && fail "vrellok and loop share one icon"

for program in vrellok loop; do
  id=$idPrefix.$program
  desktop=$share/applications/$id.desktop
  metainfo=$share/metainfo/$id.metainfo.xml
  if [ ! -f "$desktop" ]; then
    fail "no desktop entry $id.desktop"
    continue
  fi
  desktop-file-validate "$desktop" || fail "$id.desktop is not valid"
  exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$bin/$exec" ] || fail "$id.desktop starts $exec, which is not installed"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  grep -q '<svg' "$icons/$icon.svg" 2>/dev/null || fail "$id.desktop shows icon $icon, not installed"

  if [ ! -f "$metainfo" ]; then
    fail "no metainfo $id.metainfo.xml"
    continue
  fi
  appstreamcli validate --no-net "$metainfo" >/dev/null || {
    appstreamcli validate --no-net "$metainfo" >&2
    fail "$id.metainfo.xml is not valid"
  }
  grep -q "<id>$id</id>" "$metainfo" || fail "$id.metainfo.xml does not carry the id $id"
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "$id.metainfo.xml does not launch $id.desktop"
  # The screenshots are the README's: the file each address ends in must be in docs/.
  for image in $(sed -n 's|.*<image>.*/\([^/]*\)</image>.*|\1|p' "$metainfo"); do
    [ -f "$source/docs/$image" ] || fail "$id.metainfo.xml shows $image, which docs/ does not hold"
  done
done

# The tree as a software centre reads it: metainfo, the desktop entries it launches, their icons.
appstreamcli validate-tree --no-net "$prefix" >/dev/null || {
  appstreamcli validate-tree --no-net "$prefix" >&2
  fail "the installed tree does not satisfy appstreamcli validate-tree"
}

# "Open with loop" needs a file argument and the wave types.
loopDesktop=$share/applications/$idPrefix.loop.desktop
grep -qs '^Exec=loop %f$' "$loopDesktop" || fail "loop's desktop entry does not take a file"
for type in audio/x-wav audio/wav audio/vnd.wave; do
  grep -qs "^MimeType=.*$type;" "$loopDesktop" || fail "loop's desktop entry does not open $type"
done

# The Debian package, as a user gets it, checked by lintian: no error and no warning. Built
# from the same build into a folder of its own, so the build folder keeps no package behind.
if command -v lintian >/dev/null; then
  packages=$prefix/packages
  if cpack -G DEB -B "$packages" --config "$build/CPackConfig.cmake" >"$prefix/cpack.log" 2>&1; then
    deb=$(find "$packages" -maxdepth 1 -name '*.deb')
    # Root is how CI runs; lintian's note about it is not about the package.
    complaints=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges')
    grep -q '^[EW]:' <<<"$complaints" && fail "lintian: $complaints"
  else
    cat "$prefix/cpack.log" >&2
    fail "cpack could not build the package"
  fi
else
  echo "lintian is not installed: the package is not checked (bash scripts/deps.sh installs it)"
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed and valid: $(find "$prefix" -type f | wc -l) files"
