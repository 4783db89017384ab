# Shared by scripts/test, scripts/demo, scripts/reliability-report and bench/run:
# source it from the repository's root ("root" must be set).

# Installs what is missing (scripts/setup), or ends the calling script.
ensure_setup() {
  scripts/setup --check || scripts/setup || { echo "$1: setup failed" >&2; exit 1; }
}

# build_preset CALLER PRESET [TARGET...]: configures and builds, the output going to
# build-PRESET.log; on failure shows its end and returns 1. SUNDRIFT_CONFIGURE adds
# configure options (scripts/test sets -DSUNDRIFT_WERROR=ON).
build_preset() {
  local caller=$1 preset=$2 log="$root/build-$2.log"
  shift 2
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  if ! { cmake --preset "$preset" ${SUNDRIFT_CONFIGURE:-} &&
         cmake --build --preset "$preset" "${targets[@]}"; } >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "$caller: the $preset build failed (full log: build-$preset.log)" >&2
    return 1
  fi
}

# The preset whose programs run under Wine here. The updater is 32-bit, but some
# kernels run 64-bit code only (IA-32 emulation off: executing a 32-bit program
# fails with "Exec format error"), and some package mirrors leave wine32
# uninstallable (scripts/setup); without 32-bit Wine the same sources are built
# as 64-bit code and run under 64-bit Wine.
windows_run_preset() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo windows; else echo windows64; fi
}

# The packer's option for the updater of that preset as its stub: the 64-bit
# test build is no product image, and the packer takes it only when told.
test_stub_option() {
  [ "$1" = windows64 ] && echo --test-amd64-stub
  return 0
}

# Says once, on standard error, when the Windows programs run as 64-bit code.
note_run_preset() {
  [ "$1" = windows ] && return
  echo "note: 32-bit Wine does not start on this machine (the kernel runs no 32-bit code," \
       "or wine32 is not installed); the Windows programs run as the 64-bit build" \
       "(build/windows64) under 64-bit Wine" >&2
}
