# Shared by scripts/test and scripts/demo: Debian packages and CMake builds.
# shellcheck shell=bash

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Everything the build, the tests and the demo need from Debian.
PACKAGES=(
    g++ cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    libavcodec-dev libavutil-dev libavformat-dev libswscale-dev
    qt6-base-dev qt6-qpa-plugins qt6-svg-dev qt6-wayland fonts-dejavu-core fonts-wqy-microhei
    qtkeychain-qt6-dev libsecret-1-0
    xvfb xdotool x11-utils openbox desktop-file-utils appstream dpkg-dev file
    dbus-daemon libglib2.0-bin gnome-keyring weston at-spi2-core
)

# Installs the packages that are missing; does nothing when all are there.
ensure_packages() {
    local missing=()
    local package
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_and_build <dir> [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S "$TOP" -B "$TOP/$dir" -G Ninja "$@" >/dev/null &&
        cmake --build "$TOP/$dir"
}

# Fuzz targets: a clang build with libFuzzer, ASan and UBSan in build-fuzz/.
build_fuzzers() {
    CC=clang CXX=clang++ cmake -S "$TOP" -B "$TOP/build-fuzz" -G Ninja -DTAVIX_FUZZ=ON \
        -DTAVIX_SANITIZE=address,undefined -DTAVIX_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        >/dev/null && cmake --build "$TOP/build-fuzz" --target fuzzers
}

# run_fuzzers <seconds each> [target...]: every target when none is named. Findings are kept
# in build-fuzz/findings/; the seeds in fuzz/corpus/<target>/ start each run.
run_fuzzers() {
    local seconds=$1
    shift
    local targets=("$@")
    if [ ${#targets[@]} -eq 0 ]; then
        mapfile -t targets < <(find "$TOP/build-fuzz/bin" -maxdepth 1 -type f -executable -name '*_fuzz' -printf '%f\n' | sort)
    fi
    local target status=0
    for target in "${targets[@]}"; do
        local corpus="$TOP/build-fuzz/corpus/$target"
        mkdir -p "$corpus" "$TOP/build-fuzz/findings"
        [ -d "$TOP/fuzz/corpus/$target" ] && cp -n "$TOP/fuzz/corpus/$target"/* "$corpus"/ 2>/dev/null
        echo "--- fuzzing $target for ${seconds}s"
        if ! "$TOP/build-fuzz/bin/$target" -max_total_time="$seconds" -print_final_stats=0 \
            -artifact_prefix="$TOP/build-fuzz/findings/$target-" "$corpus" 2>"$TOP/build-fuzz/$target.log"; then
            tail -n 40 "$TOP/build-fuzz/$target.log"
            status=1
        else
            grep -E '^Done|#[0-9]+.*DONE' "$TOP/build-fuzz/$target.log" | tail -n 1
        fi
    done
    return $status
}
