#!/usr/bin/env bash
# Developer entry point: ./dev.sh demo | test | bench | build | fuzz | torture | screenshots
# | package | package-check
# Each command installs the Debian packages it needs when they are missing, then builds.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
jobs=$(nproc)

base_packages=(cmake ninja-build g++ ccache pkg-config python3 libgtest-dev libgmock-dev testdisk
    libbenchmark-dev libcli11-dev nlohmann-json3-dev libfmt-dev libblkid-dev zlib1g-dev
    ntfs-3g dosfstools mtools e2fsprogs fdisk util-linux sleuthkit attr exfatprogs exfat-fuse
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools libinih-dev fonts-dejavu-core
    nbdkit libnbd-bin fuse3 gddrescue strace libexiv2-dev libheif-dev qt6-image-formats-plugins
    imagemagick)
skin_packages=(librsvg2-bin)
fuzz_packages=(clang libclang-rt-14-dev)
demo_packages=(imagemagick)
bench_packages=(strace time nbdkit libnbd-bin fuse3 gddrescue testdisk)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "dev.sh: installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# configure BUILD_DIR [cmake options...]
configure() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELTRA_WERROR=ON \
        -DKELTRA_FIXTURE_DIR="$root/build/fixtures" "$@" >/dev/null
}

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
    configure "$@"
    cmake --build "$1" -j "$jobs"
}

# stage NAME COMMAND...: runs one stage and prints how long it took.
stage() {
    local name=$1
    shift
    local start=$SECONDS
    echo "dev.sh: == $name"
    "$@"
    echo "dev.sh: == $name took $((SECONDS - start)) s"
}

run_tests() {
    local dir=$1
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 1500)
}

# The sanitizers stop at the first fault and report leaks.
run_sanitized_tests() {
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests "$1"
}

cmd=${1:-}
case "$cmd" in
build)
    install_missing "${base_packages[@]}"
    configure_and_build build/release
    ;;
test)
    total_start=$SECONDS
    stage "packages" install_missing "${base_packages[@]}" "${fuzz_packages[@]}"
    stage "build (g++, RelWithDebInfo)" configure_and_build build/release
    stage "tests" run_tests build/release
    # The command line as a user or a distribution builds it: Release, clang++, no -Werror
    # added by us, from a clean folder.
    rm -rf build/user-release
    stage "build (clang++, Release, from clean)" env CXX=clang++ cmake -S "$root" \
        -B build/user-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELTRA_BUILD_GUI=OFF >/dev/null
    stage "build (clang++, Release, from clean)" cmake --build build/user-release -j "$jobs" \
        --target keltra
    build/user-release/keltra --version
    echo "dev.sh: the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    # The engines, the store, the command line and their threads under the sanitizers; the
    # desktop program's windows add little there and take long to build.
    stage "build (ASan + UBSan)" configure_and_build build/sanitize -DKELTRA_SANITIZE=ON \
        -DKELTRA_BUILD_GUI=OFF
    stage "tests (ASan + UBSan)" run_sanitized_tests build/sanitize
    echo "dev.sh: test took $((SECONDS - total_start)) s in all"
    ;;
demo)
    # Only what the demo runs: the command line, not the tests or the desktop program.
    install_missing "${base_packages[@]}" "${demo_packages[@]}"
    configure build/demo-build -DKELTRA_BUILD_GUI=OFF
    cmake --build build/demo-build -j "$jobs" --target keltra
    bash "$root/tests/fixtures/demo.sh" "$root/build/demo-build/keltra" "$root/build/demo"
    ;;
package)
    # A Debian package of the Release build, its Depends computed by dpkg-shlibdeps.
    install_missing "${base_packages[@]}" dpkg-dev file
    # As a distribution builds it: Release, and our warnings do not stop it (GCC 12 at -O3 warns
    # falsely about inlined string code).
    configure build/package -DCMAKE_BUILD_TYPE=Release -DKELTRA_WERROR=OFF \
        -DCMAKE_INSTALL_PREFIX=/usr
    cmake --build build/package -j "$jobs" --target keltra keltra-photo-recovery keltra_manpage
    (cd build/package && cpack -G DEB >/dev/null)
    ls build/package/keltra_*.deb
    ;;
package-check)
    # Installs the package into a clean Debian 12 root and runs it there.
    install_missing "${base_packages[@]}" dpkg-dev file debootstrap xvfb xauth
    bash "$root/tests/package_check.sh" "$root"
    ;;
bench)
    install_missing "${base_packages[@]}" "${bench_packages[@]}"
    configure_and_build build/bench -DCMAKE_BUILD_TYPE=Release -DKELTRA_BUILD_BENCH=ON
    bash "$root/bench/run.sh" "$root/build/bench" "$root/build/fixtures"
    ;;
screenshots)
    # The main window's pages in every language and each kind of message box, drawn with Qt's
    # offscreen platform into build/screenshots/ (and at double scale into build/screenshots/2x/).
    # Pass "pictures" to render the skin's drawings again first.
    install_missing "${base_packages[@]}"
    if [ "${2:-}" = pictures ]; then
        install_missing "${skin_packages[@]}"
        bash "$root/skin/render_pictures.sh"
    fi
    configure_and_build build/release
    QT_QPA_PLATFORM=offscreen "$root/build/release/keltra-screenshots" "$root/build/screenshots"
    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 \
        "$root/build/release/keltra-screenshots" "$root/build/screenshots/2x"
    ;;
torture)
    # The long run of the damaged-image test: N damaged copies of each small fixture image
    # (fewer of the larger ones), each scanned quick and deep with a time limit.
    install_missing "${base_packages[@]}"
    configure build/release
    cmake --build build/release -j "$jobs" --target keltra_unit_tests
    (cd build/release && ctest -R fixtures_build --output-on-failure >/dev/null)
    KELTRA_TORTURE_COPIES=${2:-2000} KELTRA_TORTURE_SEED=${3:-$RANDOM$RANDOM} \
        build/release/tests/keltra_unit_tests --gtest_filter='Torture.*'
    ;;
fuzz)
    install_missing "${base_packages[@]}" "${fuzz_packages[@]}"
    CXX=clang++ configure_and_build build/fuzz -DKELTRA_BUILD_FUZZ=ON -DKELTRA_SANITIZE=ON \
        -DKELTRA_BUILD_GUI=OFF
    shift
    bash "$root/fuzz/run.sh" "$root/build/fuzz" "${1:-60}" "${@:2}"
    ;;
*)
    echo "usage: ./dev.sh demo | test | bench | build | fuzz [SECONDS [TARGET...]]" \
        "| torture [COPIES [SEED]] | screenshots [pictures]" \
        "| package | package-check" >&2
    exit 2
    ;;
esac
