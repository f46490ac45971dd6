#!/usr/bin/env bash
# Builds the Debian packages of a build folder with CPack and checks them:
# each package's files and declared dependencies; then, as root (or with
# sudo), installs them with apt-get, builds each consumer project against the
# installed packages alone, runs /usr/bin/qn, and removes the packages again.
#
#   scripts/check-packages.sh [BUILD_DIR [PROJECT...]]
#
# BUILD_DIR (default build) is a configured build folder; it is brought up to
# date first. It should be configured with -DCMAKE_INSTALL_PREFIX=/usr, so
# that the library lands in Debian's multiarch folder (scripts/test.sh does).
#
# Each PROJECT is a CMake project that does find_package(QNStandardClasses),
# built against the installed packages and then run, given as
#   DIR[:EXECUTABLE [ARGS...]]
# with EXECUTABLE relative to the project's build folder (run from the
# repository's root); without one the project is only built. With no
# PROJECT, tests/consumer:app.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
consumer_projects=("${@:2}")
[ ${#consumer_projects[@]} -gt 0 ] || consumer_projects=(tests/consumer:app)

runtime_pkg=libqnstd0
dev_pkg=libqnstd-dev
tools_pkg=qnstd-tools

passed=0
pass() {
    passed=$((passed + 1))
    echo "ok: $*"
}
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

if [ ! -f "$build_dir/CPackConfig.cmake" ]; then
    fail "$build_dir/CPackConfig.cmake not found: configure and build $build_dir first"
fi
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=usr/lib/$multiarch

# Up to date first (nothing to do right after a build): cpack installs what is
# there, and a reconfigured prefix changes the tool's install run path.
cmake --build "$build_dir" -j "$(nproc)"
# Fresh packages only: an older version left in the folder would be checked too.
rm -f "$build_dir"/packages/*.deb
(cd "$build_dir" && cpack -G DEB)

declare -A deb
for f in "$build_dir"/packages/*.deb; do
    deb[$(dpkg-deb -f "$f" Package)]=$(realpath "$f")
done
for p in "$runtime_pkg" "$dev_pkg" "$tools_pkg"; do
    [ -n "${deb[$p]:-}" ] || fail "cpack made no package $p (made: ${!deb[*]})"
done
version=$(dpkg-deb -f "${deb[$runtime_pkg]}" Version)

# The package's regular files and links, one per line, without the leading "./".
files_of() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||'; }
# Fails naming the first file of the package that matches none of the patterns.
only_files() {
    local pkg=$1 f pattern ok
    shift
    while read -r f; do
        ok=
        for pattern in "$@"; do
            # shellcheck disable=SC2053 # the patterns are globs on purpose
            if [[ $f == $pattern ]]; then ok=1; fi
        done
        [ -n "$ok" ] || fail "$pkg holds $f, which belongs in none of its folders"
    done < <(files_of "${deb[$pkg]}")
}
has_file() {
    files_of "${deb[$1]}" | grep -qx -- "$2" || fail "$1 lacks $2"
}
depends_on() {
    local depends
    depends=$(dpkg-deb -f "${deb[$1]}" Depends)
    # Each entry of the comma-separated list, whole.
    printf '%s\n' "$depends" | tr ',' '\n' | sed 's/^ *//; s/ *$//' | grep -qxF -- "$2" ||
        fail "$1 does not depend on '$2' (Depends: $depends)"
}

echo "-- package contents"
so_version=$(files_of "${deb[$runtime_pkg]}" | sed -n "s|^$libdir/libqnstd\.so\.\([0-9.]*\)$|\1|p" |
    sort | tail -n 1)
[ -n "$so_version" ] || fail "$runtime_pkg holds no $libdir/libqnstd.so.<version>" \
    "(configured with -DCMAKE_INSTALL_PREFIX=/usr?)"
so_major=${so_version%%.*}
[ "$runtime_pkg" = "libqnstd$so_major" ] || fail "the SONAME's major $so_major is not $runtime_pkg's"
has_file "$runtime_pkg" "$libdir/libqnstd.so.$so_major"
only_files "$runtime_pkg" "$libdir/libqnstd.so.*" "usr/share/*"
pass "$runtime_pkg: the library $so_version and its SONAME link"

has_file "$dev_pkg" "$libdir/libqnstd.so"
has_file "$dev_pkg" usr/include/qn/export.h
has_file "$dev_pkg" usr/include/qn/value.h
for f in QNStandardClassesConfig.cmake QNStandardClassesConfigVersion.cmake \
    QNStandardClassesTargets.cmake; do
    has_file "$dev_pkg" "$libdir/cmake/QNStandardClasses/$f"
done
only_files "$dev_pkg" "usr/include/qn/*" "$libdir/libqnstd.so" \
    "$libdir/cmake/QNStandardClasses/*.cmake" "usr/share/*"
pass "$dev_pkg: headers, the libqnstd.so link and the CMake package"

has_file "$tools_pkg" usr/bin/qn
only_files "$tools_pkg" usr/bin/qn "usr/share/*"
pass "$tools_pkg: usr/bin/qn"

echo "-- declared dependencies"
depends_on "$dev_pkg" "$runtime_pkg (= $version)"
depends_on "$tools_pkg" "$runtime_pkg (= $version)"
pass "$dev_pkg and $tools_pkg depend on $runtime_pkg (= $version)"
# dpkg-shlibdeps ran: each binary's Depends names the C++ runtime with the
# version it needs, and the library's also a library it links privately (ICU).
shlib_depends() {
    local pkg=$1 lib depends
    shift
    depends=$(dpkg-deb -f "${deb[$pkg]}" Depends)
    for lib in "$@"; do
        printf '%s\n' "$depends" | grep -Eq "(^|, )$lib \(>= " ||
            fail "$pkg: no versioned dependency on $lib (Depends: $depends)"
    done
}
shlib_depends "$runtime_pkg" libc6 'libstdc\+\+6' 'libicu[0-9]+'
shlib_depends "$tools_pkg" libc6 'libstdc\+\+6'
pass "$runtime_pkg and $tools_pkg: library dependencies from dpkg-shlibdeps"

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        sudo_cmd=(sudo)
    else
        echo "-- not root and no sudo: the packages are not installed"
        echo "packages: $passed passed, 0 failed"
        exit 0
    fi
fi

# Whatever happens below, the machine is left without the packages.
remove_packages() {
    echo "-- removing $runtime_pkg $dev_pkg $tools_pkg"
    # Purged: the library's package keeps its ldconfig script otherwise.
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get purge -y -qq \
        "$runtime_pkg" "$dev_pkg" "$tools_pkg" >/dev/null
}
trap remove_packages EXIT

echo "-- installing the packages with apt-get"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --reinstall \
    "${deb[$runtime_pkg]}" "${deb[$dev_pkg]}" "${deb[$tools_pkg]}"
for p in "$runtime_pkg" "$dev_pkg" "$tools_pkg"; do
    [ "$(dpkg-query -W -f='${Status} ${Version}' "$p")" = "install ok installed $version" ] ||
        fail "$p $version is not installed"
done
pass "apt-get installed the three packages"

# Fails unless the binary loads libqnstd from the installed package.
loads_installed_library() {
    local loaded
    loaded=$(ldd "$1" | sed -n 's/^[[:space:]]*libqnstd\.so[^ ]* => \([^ ]*\).*/\1/p')
    # Compared as files: with the merged /usr the loader names /lib/... too.
    if [ -z "$loaded" ] ||
        [ "$(realpath "$loaded")" != "$(realpath "/$libdir/libqnstd.so.$so_major")" ]; then
        fail "$1 loads libqnstd from '${loaded:-nowhere}', not /$libdir"
    fi
}

echo "-- building against the installed packages"
work=$(realpath "$build_dir")/package-consumers
rm -rf "$work"
for entry in "${consumer_projects[@]}"; do
    dir=${entry%%:*}
    exe=${entry#*:}
    [ "$exe" != "$entry" ] || exe=
    out=$work/$(printf '%s' "$dir" | tr '/' '_')
    # Only the installed package may be found: no prefix path from the caller.
    env -u CMAKE_PREFIX_PATH -u QNStandardClasses_DIR \
        cmake -S "$dir" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    found=$(sed -n 's/^QNStandardClasses_DIR:PATH=//p' "$out/CMakeCache.txt")
    [ "$found" = "/$libdir/cmake/QNStandardClasses" ] ||
        fail "$dir found QNStandardClasses in '$found', not /$libdir/cmake/QNStandardClasses"
    cmake --build "$out"
    if [ -n "$exe" ]; then
        read -r -a command <<<"$exe"
        loads_installed_library "$out/${command[0]}"
        "$out/${command[0]}" "${command[@]:1}"
    fi
    pass "$dir built against the installed packages${exe:+, ${exe%% *} ran}"
done

echo "-- the sample application against the installed reference server"
app_build=$work/travelagency
env -u CMAKE_PREFIX_PATH -u QNStandardClasses_DIR \
    cmake -S examples/travelagency -B "$app_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$app_build"
loads_installed_library "$app_build/travelagency"
run_dir=$(mktemp -d)
# The server's first line names its address; reading it waits until it
# listens.
exec {server_out}< <(exec /usr/bin/qn sync-server "$run_dir/server")
server_pid=$!
read -r listening <&"$server_out" || fail "qn sync-server printed nothing"
url=$(sed -n 's/^Listening on \([^,]*\),.*/\1/p' <<<"$listening")
[ -n "$url" ] || fail "qn sync-server said '$listening'"
"$app_build/travelagency" --bundle examples/bundle --data "$run_dir/data" --server "$url" \
    --photo examples/travelagency/photo.png 2>/dev/null || fail "the sample application failed"
kill "$server_pid"
wait "$server_pid" 2>/dev/null || true
events=$(find "$run_dir/server/events" -name '*.json' | wc -l)
photos=$(find "$run_dir/server/events" -name '*.png' | wc -l)
rm -rf "$run_dir"
[ "$events" = 1 ] && [ "$photos" = 1 ] ||
    fail "the server stored $events event(s) and $photos photo(s), not 1 and 1"
pass "examples/travelagency built against the packages, synchronized with /usr/bin/qn sync-server"

echo "-- /usr/bin/qn"
loads_installed_library /usr/bin/qn
sum=$(/usr/bin/qn decimal 0.1+0.2)
[ "$sum" = 0.3 ] || fail "qn decimal 0.1+0.2 printed '$sum'"
help=$(/usr/bin/qn --help)
grep -q '^  qn decimal ' <<<"$help" || fail "qn --help lists no decimal command"
pass "/usr/bin/qn runs on the installed library"

echo "packages: $passed passed, 0 failed"
