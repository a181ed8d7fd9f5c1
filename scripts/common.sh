# Shared by run.sh and test.sh: installs missing Debian packages and builds.

# Packages of the given groups in scripts/packages.txt (build, run, test).
packages_of() {
    local group
    for group in "$@"; do
        sed -n "s/^${group}: *//p" "$NARRABEL_ROOT/scripts/packages.txt"
    done
}

ensure_packages() {
    local missing=() p
    for p in $(packages_of "$@"); do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing missing packages: ${missing[*]}"
    # Package lists may be absent on a fresh machine: refresh them first.
    if ! "${sudo[@]}" apt-get install -y -s "${missing[@]}" >/dev/null 2>&1; then
        "${sudo[@]}" apt-get update -q
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
}

jobs_count() { nproc 2>/dev/null || echo 2; }

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    # A compiler cache, where the machine has one, makes a build of a fresh
    # clone cost little more than one of a checkout.
    local launcher=()
    if command -v ccache >/dev/null 2>&1; then
        launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        # Paths under the checkout count as relative, so clones share the cache.
        export CCACHE_BASEDIR="$NARRABEL_ROOT" CCACHE_NOHASHDIR=1
    fi
    cmake -S "$NARRABEL_ROOT" -B "$NARRABEL_ROOT/$dir" "${launcher[@]}" "$@" >/dev/null
    cmake --build "$NARRABEL_ROOT/$dir" -j"$(jobs_count)"
}
