#!/usr/bin/env bash
# install.sh BUILD_DIR VERSION [BUILD_TYPE [COMPILER_ID]]: the install tree and the Debian package
# (contents, fields, lintian). Prints each problem; exits 1 on any.
set -uo pipefail
build="$(realpath -- "$1")"
version="$2"
source="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")"
id=org.kelvara.Kelvara
tmp="$(mktemp -d "${TMPDIR:-/tmp}/kelvara-install.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM # the programs run without a display
problems=0
problem() {
  echo "install: $*" >&2
  problems=$((problems + 1))
}
# Runs a check, showing its output if it fails or, with $stderr_fails set, prints on standard error.
check() {
  "$@" >"$tmp/out" 2>"$tmp/err" && ! [[ -n ${stderr_fails:-} && -s $tmp/err ]] && return 0
  problem "$* failed:"
  cat "$tmp/out" "$tmp/err" >&2
  return 1
}

usr="$tmp/root/usr"
DESTDIR="$tmp/root" check cmake --install "$build" --prefix /usr || exit 1
shipped=(bin/kelvara bin/kelvara-cli share/applications/$id.desktop share/metainfo/$id.metainfo.xml
  share/icons/hicolor/scalable/apps/$id.svg share/man/man1/kelvara.1.gz share/man/man1/kelvara-cli.1.gz
  share/bash-completion/completions/kelvara share/bash-completion/completions/kelvara-cli
  share/doc/kelvara/copyright)
for size in 16 22 24 32 48 64 128 256; do
  png="$usr/share/icons/hicolor/${size}x$size/apps/$id.png"
  file -b "$png" | grep -q "PNG image data, $size x $size," || problem "no $size px icon: $png"
done
check desktop-file-validate "$usr/share/applications/$id.desktop"
# File managers offer Kelvara for folders and hand it the one chosen.
for line in 'Exec=kelvara %f' 'MimeType=inode/directory;'; do
  grep -qxF -- "$line" "$usr/share/applications/$id.desktop" || problem "the desktop entry lacks: $line"
done
check appstreamcli validate --no-net --no-color "$usr/share/metainfo/$id.metainfo.xml"
for program in kelvara kelvara-cli; do
  MANWIDTH=80 stderr_fails=1 check man --warnings -l "$usr/share/man/man1/$program.1.gz"
  said="$("$usr/bin/$program" --version 2>&1)"
  [ "$said" = "$program $version" ] || problem "$program --version said: $said"
  "$usr/bin/$program" --help >/dev/null 2>&1 || problem "$program --help fails without a display"
  cmp -s "$usr/share/bash-completion/completions/$program" "$source/packaging/kelvara.bash-completion" ||
    problem "the installed completion of $program is not packaging/kelvara.bash-completion"
  # No library search path of their own: an empty one would load Qt from the current directory.
  for binary in "$usr/bin/$program" "$build/bin/$program"; do
    ! readelf -d "$binary" | grep -qE 'RPATH|RUNPATH' || problem "$binary has a library search path"
  done
done

# Without a display the window program says so in one line and ends with status 2, with or without
# a directory; Qt's own abort would end it with a signal and a page of English.
for dir in '' "$tmp"; do
  "$usr/bin/kelvara" ${dir:+"$dir"} >"$tmp/out" 2>"$tmp/err"
  status=$?
  [[ $status -eq 2 && ! -s $tmp/out && $(wc -l <"$tmp/err") -eq 1 ]] &&
    grep -q '^kelvara: nincs elérhető kijelző' "$tmp/err" ||
    problem "kelvara $dir without a display: status $status, said: $(cat "$tmp/out" "$tmp/err")"
done

# Qt takes its own options (-platform and the like) before the rest is read.
QT_QPA_PLATFORM=offscreen "$usr/bin/kelvara" -platform offscreen --zzz 2>"$tmp/err"
[[ $? -eq 2 ]] && grep -q '^kelvara: ismeretlen paraméter: --zzz$' "$tmp/err" ||
  problem "kelvara -platform offscreen --zzz said: $(head -n 1 "$tmp/err")"

check cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package" || exit 1
deb="$tmp/package/kelvara_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || problem "no package $(basename "$deb"); cpack made: $(ls "$tmp/package")"
contents="$(dpkg-deb -c "$deb" | awk '{print $6}')"
for f in "${shipped[@]}"; do
  [ -f "$usr/$f" ] || problem "not installed: $f"
  grep -qx -- "./usr/$f" <<<"$contents" || problem "not in the package: $f"
done
depends=", $(dpkg-deb -f "$deb" Depends),"
for dependency in libqt6widgets6 qt6-translations-l10n; do
  [[ $depends == *", $dependency "* || $depends == *", $dependency,"* ]] ||
    problem "the package does not depend on $dependency: $depends"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = qt6-wayland ] || problem "the package does not recommend qt6-wayland"
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || problem "the package's section is not utils"
# No error, and no program left unhardened. Fortified calls need an optimised build (a Debug build is
# never packaged); with clang only memcpy is checked, which lintian does not count.
unfortified='^$'
[[ ${3:-} == Debug || ${4:-} == Clang ]] && unfortified=': hardening-no-fortify-functions'
if check lintian --fail-on error --display-info --pedantic "$deb"; then
  ! grep -h ': hardening-' "$tmp/out" "$tmp/err" | grep -v -e "$unfortified" >&2 ||
    problem "lintian: a program is not hardened"
fi

[ "$problems" -eq 0 ] || { echo "install: $problems problem(s)" >&2 && exit 1; }
echo "install: the install tree and $(basename "$deb") are sound"
