#!/usr/bin/env bash
# Checks the map of the code against the code:
#   1. ARCHITECTURE.md's folder table lists the folders in the order of the
#      top CMakeLists.txt (lowest layer first);
#   2. no file includes from a folder after its own in that order (bench/
#      comes last);
#   3. every target's CMake dependencies, followed through, reach the
#      target that owns each header its files include, and no target
#      depends on one whose sources sit in a folder after its own. A header is owned
#      by the target that compiles the .cpp beside it or, when it has none,
#      by the one library of its folder.
# Prints each fault and exits 1 when there is one. Needs git, awk and what
# scripts/deps.sh --tests installs (it configures a build with the tests
# and benchmarks in a temporary folder).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

order="$(awk '
  /^foreach\(dir / { on = 1; sub(/^foreach\(dir /, "") }
  on { line = $0; sub(/\).*/, "", line); printf "%s ", line; if (/\)/) exit }
' CMakeLists.txt | xargs) bench"
faults=0

# 1. The table of ARCHITECTURE.md's "Folders" section, first column.
table="$(awk -v order="$order" '
  BEGIN { n = split(order, o, " "); for (i = 1; i <= n; i++) known[o[i]] = 1 }
  /^## / { on = ($0 == "## Folders") }
  on && /^\| `/ {
    cell = $2; gsub(/[`\/ ]+$/, "", cell); gsub(/^[` ]+/, "", cell)
    if (cell in known) printf "%s ", cell
  }
' FS='|' ARCHITECTURE.md | xargs)"
if [[ "$table" != "$order" ]]; then
  echo "ARCHITECTURE.md: the folder table runs $table"
  echo "  but CMakeLists.txt runs $order"
  faults=1
fi

# 2. Upward includes.
git ls-files '*.cpp' '*.h' | xargs grep -H '^#include "' | awk -v order="$order" '
  function folder(path,   i, best) {
    best = ""
    for (i = 1; i <= n; i++)
      if (index(path, o[i] "/") == 1 && length(o[i]) > length(best)) best = o[i]
    return best
  }
  BEGIN { n = split(order, o, " "); for (i = 1; i <= n; i++) rank[o[i]] = i }
  {
    file = $0; sub(/:.*/, "", file)
    inc = $0; sub(/^[^"]*"/, "", inc); sub(/".*/, "", inc)
    from = folder(file); to = folder(inc)
    if (to != "" && rank[to] > rank[from]) {
      print file ": includes " inc ", from " to "/, above " from "/"
      bad = 1
    }
  }
  END { exit bad }
' || faults=1

# 3. Includes covered by CMake dependencies.
cmake -S . -B "$work" -DVELNOR_TESTS=ON -DVELNOR_BENCH=ON \
  --graphviz="$work/deps.dot" >/dev/null
root="$(pwd)/"
{
  # "S target file": file compiled by target.
  awk -v root="$root" '
    /"command":/ { t = $0; sub(/.*CMakeFiles\//, "", t); sub(/\.dir\/.*/, "", t) }
    /"file":/ {
      f = $0; sub(/.*"file": "/, "", f); sub(/".*/, "", f)
      if (index(f, root) == 1) print "S", t, substr(f, length(root) + 1)
    }
  ' "$work/compile_commands.json"
  # "E from to": a dependency.
  grep -- '->' "$work/deps.dot" | grep -v legend |
    sed -n 's|.*// \(.*\) -> \(.*\)$|E \1 \2|p'
  # "I file header": a quoted include.
  git ls-files '*.cpp' '*.h' | xargs grep -H '^#include "' |
    sed -n 's|^\([^:]*\):#include "\([^"]*\)".*|I \1 \2|p'
} | awk -v order="$order" '
  function folder(path,   i, best) {
    best = ""
    for (i = 1; i <= n_order; i++)
      if (index(path, ord[i] "/") == 1 && length(ord[i]) > length(best))
        best = ord[i]
    return best
  }
  BEGIN {
    n_order = split(order, ord, " ")
    for (i = 1; i <= n_order; i++) rank[ord[i]] = i
  }
  function dir(path) { sub(/\/[^\/]*$/, "", path); return path }
  function owner(header,   cpp, d) {
    cpp = header; sub(/\.h$/, ".cpp", cpp)
    if (cpp in compiled_by) return compiled_by[cpp]
    d = dir(header)
    return (libs_in[d] == 1) ? lib_of[d] : ""
  }
  function reaches(from, to,   i, k, next_, stack, top, seen) {
    top = 1; stack[1] = from; seen[from] = 1
    while (top > 0) {
      next_ = stack[top--]
      if (next_ == to) return 1
      for (k = 1; k <= ndeps[next_]; k++) {
        i = dep[next_, k]
        if (!(i in seen)) { seen[i] = 1; stack[++top] = i }
      }
    }
    return 0
  }
  $1 == "S" {
    compiled_by[$3] = $2; files[$2] = files[$2] " " $3
    if ($2 ~ /^velnor_/ && !(($2, dir($3)) in counted)) {
      counted[$2, dir($3)] = 1; libs_in[dir($3)]++; lib_of[dir($3)] = $2
    }
  }
  $1 == "E" { dep[$2, ++ndeps[$2]] = $3; efrom[++nedges] = $2; eto[nedges] = $3 }
  $1 == "I" { includes[$2] = includes[$2] " " $3; headers[$2] = 1 }
  END {
    # A dependency points down: its sources sit in a folder at or before
    # the folder of the dependent target (the folder of its first source).
    for (k = 1; k <= nedges; k++) {
      split(files[efrom[k]], own, " "); split(files[eto[k]], theirs, " ")
      if (own[1] == "" || theirs[1] == "") continue
      if (rank[folder(theirs[1])] > rank[folder(own[1])]) {
        print efrom[k] " depends on " eto[k] ", from " folder(theirs[1]) \
              "/, above " folder(own[1]) "/"
        bad = 1
      }
    }
    # A target answers for its sources and the headers it owns.
    for (h in headers) if (h ~ /\.h$/ && (t = owner(h)) != "") files[t] = files[t] " " h
    for (t in files) {
      n = split(files[t], list, " ")
      for (i = 1; i <= n; i++) {
        m = split(includes[list[i]], incs, " ")
        for (j = 1; j <= m; j++) {
          o = owner(incs[j])
          if (o == "" || o == t || reaches(t, o)) continue
          print t ": " list[i] " includes " incs[j] " of " o \
                ", which is not among its dependencies"
          bad = 1
        }
      }
    }
    exit bad
  }
' || faults=1

[[ $faults -eq 0 ]] && echo "layers: every include points down and is declared"
exit "$faults"
