# Sourced by sanitize.sh and tsan.sh: configures and builds one sanitizer
# build for the interpreter that runs the tests ($PYTHON, default python3) with
# the compiler whose sanitizer runtimes the run uses ($CXX, default g++).
#   sanitizer_build BUILD_DIR TARGET [CMAKE_ARGS...]
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${PYTHON:-python3}"
cxx="${CXX:-g++}"
# cmake and ninja may come from pip: put its script directory first.
PATH="$("$python" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"

sanitizer_build() {
    local build="$1" target="$2"
    shift 2
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" \
      -DPython_EXECUTABLE="$(command -v "$python")" -DCMAKE_CXX_COMPILER="$(command -v "$cxx")" >/dev/null
    cmake --build "$build" --target "$target" -j "$(nproc)"
}
