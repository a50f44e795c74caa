#!/usr/bin/env bash
# Fails, naming the package, when the build, the tests or the application use a file that a fresh minimal
# Debian would lack after scripts/install-deps.sh: every CMake package configuration file a fresh configure
# loads, every pkg-config file it reads, every program the tests run and every shared object the running
# application maps must come from a package that install-deps.sh names, from
# the base system, or from their hard dependencies (Depends/Pre-Depends, first alternative, never Recommends:
# that is what apt installs with recommends off).
#   check_dependencies.sh SOURCE_DIR APP MOVIE [PACKAGE]
# With PACKAGE, the check is repeated as if install-deps.sh did not name it, and must then fail naming it:
# proof that the check sees what it is meant to see.
set -euo pipefail
source_dir=$1 app=$2 movie=$3 drop=${4:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Programs the tests and their scripts run, beyond the base system's.
programs=(cmake ctest cpack ninja c++ pkg-config ffmpeg ffprobe xvfb-run Xvfb xauth desktop-file-validate
  dpkg-deb dpkg-shlibdeps file)

# 1. What is used. A configure from scratch lists every file its find calls settled on; of those, package
# configuration files are needed, whereas a library a find module picks up may be optional (GLU, say).
cmake -S "$source_dir" -B "$scratch/build" -G Ninja -DTRIMORA_TESTS=ON --debug-find >"$scratch/find.log" 2>&1 ||
  { cat "$scratch/find.log" >&2; echo "FAIL: configure failed" >&2; exit 1; }
awk '/(item|file) was found at/ {getline; getline; sub(/^ +/, ""); print}' "$scratch/find.log" |
  { grep -E '(Config|-config)\.cmake$' || true; } >"$scratch/used"
# pkg-config modules and everything they require, private requirements included (pkg-config reads those too).
modules=$(sed -n 's/^__pkg_config_arguments_[A-Z_]*:INTERNAL=//p' "$scratch/build/CMakeCache.txt" | tr ';' '\n' |
  grep -vxE 'REQUIRED|QUIET|IMPORTED_TARGET|GLOBAL|NO_CMAKE_PATH|NO_CMAKE_ENVIRONMENT_PATH' | sed 's/[<>=].*//')
seen=" "
while [ -n "$modules" ]; do
  next=""
  for m in $modules; do
    case "$seen" in *" $m "*) continue ;; esac
    seen+="$m "
    pkg-config --path "$m" >>"$scratch/used"
    next+=" $(pkg-config --print-requires --print-requires-private "$m" | awk '{print $1}')"
  done
  modules=$next
done
for p in "${programs[@]}"; do
  command -v "$p" >>"$scratch/used" || { echo "FAIL: program $p is not installed" >&2; exit 1; }
done
# The application at work, a movie shown: the GL driver, the platform plugin and the decoders get loaded.
QT_QPA_PLATFORM=xcb "$app" "$movie" >"$scratch/app.log" 2>&1 &
pid=$!
sleep 6
kill -0 "$pid" 2>/dev/null || { cat "$scratch/app.log" >&2; echo "FAIL: the application did not stay up" >&2; exit 1; }
awk '$6 ~ "^/usr/.*\\.so" {print $6}' "/proc/$pid/maps" | sort -u >>"$scratch/used"
kill "$pid"; wait "$pid" 2>/dev/null || true

# 2. Who owns it. dpkg knows a file by the path its package shipped, so try the merged-/usr spelling too.
sort -u "$scratch/used" | grep -v -e "^$scratch" -e "^$source_dir" | while read -r path; do
  [ -e "$path" ] || continue
  real=$(readlink -f "$path")
  for candidate in "$path" "$real"; do
    printf '%s\t%s\n' "$path" "$candidate"
    case "$candidate" in /usr/lib/* | /usr/bin/* | /usr/sbin/*) printf '%s\t%s\n' "$path" "${candidate#/usr}" ;; esac
  done
done | sort -u >"$scratch/candidates"
{ cut -f2 "$scratch/candidates" | xargs -r dpkg-query -S 2>/dev/null || true; } | { grep -v '^diversion by' || true; } |
  awk -F': ' '{n = split($1, owners, ", "); for (i = 1; i <= n; i++) {sub(/:.*/, "", owners[i]); print $2 "\t" owners[i]}}' |
  sort -u >"$scratch/owners"
# used path -> owning packages (any spelling that dpkg knows).
awk -F'\t' 'NR == FNR {owner[$1] = owner[$1] " " $2; next} {print $1 "\t" owner[$2]}' \
  "$scratch/owners" "$scratch/candidates" |
  awk -F'\t' '{all[$1] = all[$1] $2} END {for (p in all) print p "\t" all[p]}' | sort >"$scratch/used-owners"

# 3. What a fresh machine has: the closure of install-deps.sh's list, the base system and apt.
dpkg-query -W -f='${Package}\t${Essential}\t${Priority}\t${Provides}\t${Pre-Depends}, ${Depends}\n' >"$scratch/status"
"$source_dir/scripts/install-deps.sh" --test --list >"$scratch/listed"
check() { # check EXCLUDED: prints one MISSING line per used file outside the closure; returns 1 if any
  awk -F'\t' -v excluded="$1" '
    FILENAME == ARGV[1] {
      pkg = $1; installed[pkg] = 1; deps[pkg] = $5
      if ($2 == "yes" || $3 == "required" || pkg == "apt") roots[pkg] = 1
      n = split($4, provided, /, */)
      for (i = 1; i <= n; i++) { v = provided[i]; sub(/ .*/, "", v); if (v != "") providers[v] = providers[v] " " pkg }
      next
    }
    FILENAME == ARGV[2] { if ($1 != excluded) roots[$1] = 1; next }
    FILENAME == ARGV[3] { used[$1] = $2; next }
    function add(p) { if (p in have) return; have[p] = 1; queue[++tail] = p }
    function want(name,   n, list, i) {
      sub(/:(any|native|amd64)$/, "", name)
      if (name in installed) { add(name); return }
      n = split(providers[name], list, " ")     # a virtual package: whichever provider is here
      for (i = 1; i <= n; i++) add(list[i])
    }
    END {
      for (p in roots) if (p in installed) add(p)
      for (head = 1; head <= tail; head++) {
        n = split(deps[queue[head]], groups, /, */)
        for (i = 1; i <= n; i++) {
          first = groups[i]; sub(/ *\|.*/, "", first); sub(/ *\(.*/, "", first); gsub(/ /, "", first)
          if (first != "") want(first)
        }
      }
      bad = 0
      for (path in used) {
        m = split(used[path], owners, " "); ok = 0
        for (i = 1; i <= m; i++) if (owners[i] in have) ok = 1
        if (ok) continue
        bad = 1
        if (m == 0) printf "MISSING: %s belongs to no Debian package\n", path
        else printf "MISSING: %s, used as %s, is not installed by scripts/install-deps.sh\n", owners[1], path
      }
      exit bad
    }' "$scratch/status" "$scratch/listed" "$scratch/used-owners"
}

if ! check ""; then
  echo "FAIL: add the packages above to scripts/install-deps.sh" >&2
  exit 1
fi
echo "$(wc -l <"$scratch/used-owners") files used, all installed by scripts/install-deps.sh or the base system"
if [ -n "$drop" ]; then
  if out=$(check "$drop"); then
    echo "FAIL: the check still passes without $drop" >&2; exit 1
  fi
  grep -q "MISSING: $drop," <<<"$out" || { echo "$out" >&2; echo "FAIL: $drop not named" >&2; exit 1; }
  echo "without $drop the check fails, naming it:"
  grep "MISSING: $drop," <<<"$out" | head -n 3
fi
