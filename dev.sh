#!/usr/bin/env bash
# Developer entry point: ./dev.sh demo | test | bench | build | fuzz | screenshots
# Each command installs the Debian packages it needs when they are missing, then builds.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
jobs=$(nproc)

base_packages=(cmake ninja-build g++ ccache pkg-config python3 libgtest-dev libgmock-dev
    libbenchmark-dev libcli11-dev nlohmann-json3-dev libfmt-dev libblkid-dev
    ntfs-3g dosfstools mtools e2fsprogs fdisk util-linux sleuthkit attr
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools libinih-dev fonts-dejavu-core)
skin_packages=(librsvg2-bin)
fuzz_packages=(clang libclang-rt-14-dev)
demo_packages=(imagemagick)
bench_packages=(strace time)

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

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKELTRA_FIXTURE_DIR="$root/build/fixtures" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

run_tests() {
    local dir=$1
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 1500)
}

cmd=${1:-}
case "$cmd" in
build)
    install_missing "${base_packages[@]}"
    configure_and_build build/release
    ;;
test)
    install_missing "${base_packages[@]}"
    configure_and_build build/release
    run_tests build/release
    echo "dev.sh: the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    configure_and_build build/sanitize -DKELTRA_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_tests build/sanitize
    ;;
demo)
    install_missing "${base_packages[@]}" "${demo_packages[@]}"
    configure_and_build build/release
    bash "$root/tests/fixtures/demo.sh" "$root/build/release/keltra" "$root/build/demo"
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
fuzz)
    install_missing "${base_packages[@]}" "${fuzz_packages[@]}"
    CXX=clang++ configure_and_build build/fuzz -DKELTRA_BUILD_FUZZ=ON -DKELTRA_SANITIZE=ON
    bash "$root/fuzz/run.sh" "$root/build/fuzz" "${2:-60}"
    ;;
*)
    echo "usage: ./dev.sh demo | test | bench | build | fuzz [SECONDS] | screenshots [pictures]" >&2
    exit 2
    ;;
esac
