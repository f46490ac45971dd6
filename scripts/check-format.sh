#!/usr/bin/env bash
# Fails when clang-format would change a tracked C++ file, naming each one and
# showing the change. With --fix it rewrites them instead (what `make format`
# runs), so the check and the fix always cover the same files; paths after
# --fix limit it to those (tracked) files, leaving others' work alone.
#
# The layout depends on the clang-format version; the project's is Debian 12's
# (14), which scripts/install-deps.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null 2>&1; then
    echo "clang-format not found; scripts/install-deps.sh installs it" >&2
    exit 2
fi
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "not a git checkout: the files to check are the tracked ones" >&2
    exit 2
fi
version=$(clang-format --version | sed -n 's/.*version \([0-9]*\).*/\1/p')
if [ "$version" != 14 ]; then
    echo "note: clang-format $version here; the project's layout is clang-format 14's" >&2
fi

# Tracked files only: build folders and generated sources never count, and a
# fresh clone checks exactly what was committed.
list_files() { git ls-files -z -- '*.h' '*.cc'; }

if [ "${1:-}" = --fix ]; then
    shift
    if [ $# -gt 0 ]; then
        git ls-files -z -- "$@" | grep -z -E '\.(h|cc)$' | xargs -0 -r clang-format -i
    else
        list_files | xargs -0 clang-format -i
    fi
    exit 0
fi

# One dry run over every file; each line it changes is a warning naming the file.
report=$(list_files | xargs -0 clang-format --dry-run 2>&1) || {
    printf '%s\n' "$report" >&2
    echo "clang-format failed" >&2
    exit 2
}
mapfile -t unformatted < <(printf '%s\n' "$report" |
    sed -n 's/^\(.*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' | sort -u)

if [ ${#unformatted[@]} -eq 0 ]; then
    echo "clang-format: $(list_files | tr -cd '\0' | wc -c) files formatted"
    exit 0
fi

for f in "${unformatted[@]}"; do
    clang-format "$f" | diff -u --label "$f" --label "$f (clang-format)" "$f" - || true
done
echo >&2
echo "clang-format would change ${#unformatted[@]} file(s):" >&2
printf '  %s\n' "${unformatted[@]}" >&2
echo "run 'make format' (or scripts/check-format.sh --fix) and commit the result" >&2
exit 1
