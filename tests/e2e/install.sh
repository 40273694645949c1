#!/usr/bin/env bash
# Checks what an installed Kelvara brings: installs the build into a temporary DESTDIR, validates
# the desktop entry and the AppStream metainfo, renders both manual pages, asks both programs for
# their version, tries the bash completion, then builds the Debian package, lists it and runs
# lintian on it. Prints each problem; exits 1 if there was one.
#
#   install.sh BUILD_DIR VERSION
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: install.sh BUILD_DIR VERSION" >&2
  exit 2
fi
build="$(realpath -- "$1")"
version="$2"
id=org.kelvara.Kelvara

tmp="$(mktemp -d "${TMPDIR:-/tmp}/kelvara-install.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
problems=0
problem() {
  echo "install: $*" >&2
  problems=$((problems + 1))
}
# Runs a check; its output is shown only when it fails.
check() {
  local name="$1"
  shift
  if ! "$@" >"$tmp/out" 2>&1; then
    problem "$name failed:"
    cat "$tmp/out" >&2
  fi
}

root="$tmp/root"
export LC_ALL=C.UTF-8
if ! DESTDIR="$root" cmake --install "$build" --prefix /usr >"$tmp/out" 2>&1; then
  cat "$tmp/out" >&2
  echo "install: cmake --install failed" >&2
  exit 1
fi
usr="$root/usr"
for f in bin/kelvara bin/kelvara-cli share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
  share/icons/hicolor/scalable/apps/$id.svg share/man/man1/kelvara.1.gz share/man/man1/kelvara-cli.1.gz \
  share/bash-completion/completions/kelvara-cli share/doc/kelvara/copyright; do
  [ -f "$usr/$f" ] || problem "not installed: $f"
done
for size in 16 22 24 32 48 64 128 256; do
  png="$usr/share/icons/hicolor/${size}x$size/apps/$id.png"
  file -b "$png" | grep -q "PNG image data, $size x $size," || problem "no $size px icon: $png"
done

check desktop-file-validate desktop-file-validate "$usr/share/applications/$id.desktop"
check "appstreamcli validate" appstreamcli validate --no-net --no-color "$usr/share/metainfo/$id.metainfo.xml"
for page in kelvara kelvara-cli; do
  # man exits 0 on warnings; any line on standard error is one.
  if ! MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1.gz" 2>"$tmp/warnings" >/dev/null ||
    [ -s "$tmp/warnings" ]; then
    problem "man page $page:"
    cat "$tmp/warnings" >&2
  fi
done
for program in kelvara kelvara-cli; do
  said="$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/$program" --version 2>&1)"
  [ "$said" = "$program $version" ] || problem "$program --version said: $said"
done

# The completion offers the commands first, then directories only.
if [ -f /usr/share/bash-completion/bash_completion ]; then
  mkdir -p "$tmp/cwd/adir" && touch "$tmp/cwd/afile"
  said="$(cd "$tmp/cwd" && bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      COMPREPLY=(); _kelvara_cli kelvara-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
      echo "${COMPREPLY[*]}"; }
    complete_words kelvara-cli ""
    complete_words kelvara-cli search -i a
    complete_words kelvara-cli replace --li' _ "$usr/share/bash-completion/completions/kelvara-cli" 2>&1)"
  expected="$(printf 'search replace --help --version\nadir\n--line\n')"
  [ "$said" = "$expected" ] || problem "bash completion offered:"$'\n'"$said"$'\n'"instead of:"$'\n'"$expected"
fi

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package" >"$tmp/out" 2>&1; then
  cat "$tmp/out" >&2
  echo "install: cpack failed" >&2
  exit 1
fi
deb="$tmp/package/kelvara_${version}_$(dpkg --print-architecture).deb"
if [ ! -f "$deb" ]; then
  problem "no package $(basename "$deb"); cpack made: $(ls "$tmp/package")"
else
  dpkg-deb -c "$deb" | awk '{print $6}' | sort >"$tmp/contents"
  for f in ./usr/bin/kelvara ./usr/bin/kelvara-cli ./usr/share/applications/$id.desktop \
    ./usr/share/metainfo/$id.metainfo.xml ./usr/share/doc/kelvara/copyright ./usr/share/man/man1/kelvara.1.gz; do
    grep -qx -- "$f" "$tmp/contents" || problem "not in the package: $f"
  done
  depends="$(dpkg-deb -f "$deb" Depends)"
  for dependency in libqt6widgets6 qt6-translations-l10n; do
    [[ ", $depends," == *", $dependency "* || ", $depends," == *", $dependency,"* ]] ||
      problem "the package does not depend on $dependency: $depends"
  done
  [ "$(dpkg-deb -f "$deb" Section)" = utils ] || problem "the package's section is not utils"
  check lintian lintian --fail-on error "$deb"
fi

if [ "$problems" -ne 0 ]; then
  echo "install: $problems problem(s)" >&2
  exit 1
fi
echo "install: the install tree and $(basename "$deb") are sound"
