#!/usr/bin/env bash
# The Debian package as a user gets it: built by cpack from the finished build, unpacked into a
# scratch root, and run from there.
#
#   package_test.sh build   BUILD_DIR SCRATCH   cpack, then dpkg-deb -x into SCRATCH/root
#   package_test.sh lintian BUILD_DIR SCRATCH   no lintian errors (warnings are printed)
#   package_test.sh service BUILD_DIR SCRATCH   systemd-analyze verify of velmor@.service
#   package_test.sh run     BUILD_DIR SCRATCH   the installed programs relay a test source
#
# Every step but "build" only reads SCRATCH/root, so they may run side by side; the running
# programs meet nobody else (own discovery, runtime, configuration folders, no session bus).
set -euo pipefail
step=$1 build=$2 scratch=$3
root=$scratch/root

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

deb() {
    local debs=("$scratch"/cpack/velmor_*.deb)
    [ -f "${debs[0]}" ] || fail "no package in $scratch/cpack (the build step failed?)"
    echo "${debs[0]}"
}

build_step() {
    rm -rf "$scratch"
    mkdir -p "$scratch/cpack"
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/cpack"
    local package
    package=$(deb)
    dpkg-deb --info "$package"
    dpkg-deb -x "$package" "$root"
}

lintian_step() {
    # --fail-on error: warnings are listed but pass; the README (Installing) explains them.
    lintian --fail-on error --info "$(deb)"
}

service_step() {
    local unit=$root/usr/lib/systemd/user/velmor@.service
    [ -f "$unit" ] || fail "velmor@.service is not installed"
    grep -q '^ExecStart=/usr/bin/velmor --headless ' "$unit" || fail "ExecStart: $(grep ExecStart "$unit")"
    # The verifier checks that the program and its manual page exist: point both into the
    # unpacked root. It exits 0 even for unknown keys, so any message fails the check.
    local work
    work=$(mktemp -d "$scratch/service.XXXXXX")
    mkdir -m 700 "$work/run"
    sed "s#/usr/bin/#$root/usr/bin/#" "$unit" > "$work/velmor@.service"
    local out
    out=$(XDG_RUNTIME_DIR=$work/run MANPATH=$root/usr/share/man \
          systemd-analyze --user verify "$work/velmor@.service" 2>&1) || fail "systemd-analyze: $out"
    [ -z "$out" ] || fail "systemd-analyze: $out"
    echo "velmor@.service verified"
}

# Waits up to $2 seconds for process $1 to end; its exit code in $exit_code.
wait_for_exit() {
    local pid=$1 deadline=$((SECONDS + $2))
    while kill -0 "$pid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
    exit_code=0
    wait "$pid" || exit_code=$?
}

expect_log() {
    grep -qF -- "$2" "$1" || { cat "$1" >&2; fail "$(basename "$1") lacks: $2"; }
}

run_step() {
    local bin=$root/usr/bin lib=$root/usr/lib/velmor/libvelmor_ndi_builtin.so
    local work
    work=$(mktemp -d "$scratch/run.XXXXXX")
    mkdir -m 700 "$work/run"
    mkdir -p "$work/home" "$work/cwd"
    local pids=()
    trap 'for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done' EXIT
    export VELMOR_NDI=builtin VELMOR_NDI_DIR=$work/ndi XDG_RUNTIME_DIR=$work/run \
           DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus HOME=$work/home
    unset XDG_CONFIG_HOME DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM VELMOR_NDI_BUILTIN
    cd "$work/cwd"
    local using="NDI: using the built-in transport $lib"

    "$bin/velmor" --help > "$work/help.log" || fail "velmor --help exited $?"
    expect_log "$work/help.log" "--headless"

    # A test source on its own runs its frames and ends.
    timeout 60 "$bin/velmor-testsrc" --name "Package Solo" --size 320x180 --rate 50/1 \
        --frames 30 > "$work/solo.log" 2>&1 || { cat "$work/solo.log"; fail "velmor-testsrc --frames 30"; }
    expect_log "$work/solo.log" "$using"

    # A source, the sink straight from it, then a headless relay between them.
    "$bin/velmor-testsrc" --name "Package Bars" --size 320x180 --rate 25/1 --seconds 120 \
        > "$work/testsrc.log" 2>&1 &
    pids+=($!)
    local src=$!
    timeout 60 "$bin/velmor-sink" --source "Package Bars" --frames 10 --seconds 50 \
        > "$work/direct.log" 2>&1 || { cat "$work/direct.log"; fail "velmor-sink from the source"; }
    expect_log "$work/direct.log" "$using"

    local host
    host=$(uname -n | tr '[:lower:]' '[:upper:]')
    "$bin/velmor" --headless --in-config-home --save-on-exit --show-local \
        --source "$host (Package Bars)" > "$work/relay.log" 2>&1 &
    pids+=($!)
    local relay=$!
    timeout 60 "$bin/velmor-sink" --source "Korvo Velmor 1" --frames 10 --seconds 50 \
        > "$work/relayed.log" 2>&1 || { cat "$work/relayed.log" "$work/relay.log"; fail "velmor-sink from the relay"; }
    expect_log "$work/relay.log" "$using"

    # SIGTERM is the orderly exit: it ends with 0 and saves the settings, as the service relies on.
    kill -TERM "$relay"
    wait_for_exit "$relay" 30 || { cat "$work/relay.log"; fail "velmor did not stop on SIGTERM"; }
    [ "$exit_code" -eq 0 ] || { cat "$work/relay.log"; fail "velmor exited $exit_code on SIGTERM"; }
    kill -TERM "$src"
    wait_for_exit "$src" 30 || fail "velmor-testsrc did not stop on SIGTERM"

    # --in-config-home: the settings land in ~/.config/velmor, not in the folder it started in.
    [ -s "$work/home/.config/velmor/last.vlm" ] || { cat "$work/relay.log"; ls -laR "$work/home"; fail "no ~/.config/velmor/last.vlm"; }
    [ -z "$(ls -A "$work/cwd")" ] || fail "files in the starting folder: $(ls -A "$work/cwd")"
    [ "$(stat -c %a "$work/home/.config/velmor")" = 700 ] || fail "~/.config/velmor is not private"
    echo "installed programs relayed; settings saved in ~/.config/velmor"
    cd / && rm -rf "$work"
}

case $step in
build) build_step ;;
lintian) lintian_step ;;
service) service_step ;;
run) run_step ;;
*) fail "unknown step $step" ;;
esac
