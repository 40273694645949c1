#!/usr/bin/env bash
# threads.sh KELVARA_CLI: with --threads 4 kelvara-cli gives, byte for byte, the rows, messages and copies
# of --threads 1, over a few thousand files of every kind the engine tells apart (hits or none,
# Windows-1250, a long line, a link into uj, a copy that cannot be put at its name).
set -euo pipefail
cli="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
src="$work/src"
mkdir -p "$src"
for k in $(seq -w 1 3000); do
  case $((10#$k % 7)) in
    0) printf 'alma %s\r\nkorte\r\nalma alma\r' "$k" >"$src/f$k" ;;
    1) printf '\xe1rv\xedzt\xfbr\xf5 alma %s\r\n' "$k" >"$src/f$k" ;; # Windows-1250
    2) printf 'nothing here %s\n' "$k" >"$src/f$k" ;;
    *) printf 'x %s\r\nalma\r\n' "$k" >"$src/f$k" ;;
  esac
done
head -c 3000000 /dev/zero | tr '\0' 'a' >"$src/f0100"
rm "$src/f0006" && ln -s uj/f0005 "$src/f0006"

# Each case: the command and its options, a "|", then the texts after DIR.
for case in "search|alma" "search -i|ALMA" "replace|alma RET" "replace --line alma|alma ALMA"; do
  read -r -a options <<<"${case%%|*}"
  read -r -a texts <<<"${case#*|}"
  for threads in 1 4; do
    rm -rf "$src/uj" && mkdir -p "$src/uj/f0012" && printf 'alma in uj\r\n' >"$src/uj/f0005"
    "$cli" "${options[@]}" --threads "$threads" "$src" "${texts[@]}" >"$work/out$threads" \
      2>"$work/err$threads" || echo "status $?" >>"$work/out$threads"
    (cd "$src/uj" && find . -type f -exec md5sum {} + | sort) >"$work/uj$threads"
  done
  for kind in err out uj; do # stderr first: it tells why a run broke down
    diff "$work/${kind}1" "$work/${kind}4" | head -20 >&2 ||
      { echo "threads.sh: $case: $kind differs between --threads 1 and 4" >&2 && exit 1; }
  done
  echo "ok: $case ($(wc -l <"$work/out1") lines)"
done
