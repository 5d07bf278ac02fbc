#!/usr/bin/env bash
# Builds one astsieve wheel per Python, repairs it to a manylinux tag with
# auditwheel, and runs the Python suite (tests/python) in a fresh venv per
# cell: one Python beside one libclang source of deps/matrix-sources. Each
# cell first runs the bundled example and a query from the installed wheel.
# Then an sdist is built and installed into a fresh venv, where the example
# runs again.
#
#   scripts/matrix.sh [--python 3.10,3.11,...] [--source libclang-18,debian-19,...] [--no-sdist]
#
# By default every Python of 3.10 to 3.13 found (pyenv, or pythonX.Y on PATH)
# and every source; a cell the machine cannot run is reported as skipped.
# Cells named with --python or --source must run. Missing Debian packages
# of deps/matrix-apt-packages are installed, as root or through sudo. Work and
# logs go to build/matrix; the table is printed and written to
# build/matrix/results.md.
source "$(dirname "$0")/lib.sh"
work=$root/build/matrix

pythons=(3.10 3.11 3.12 3.13)
mapfile -t sources < <(deps_lines deps/matrix-sources | awk '{print $1}')
chosen=false
sdist=true
while [ $# -gt 0 ]; do
  case "$1" in
    --python) IFS=, read -r -a pythons <<<"$2"; chosen=true; shift 2 ;;
    --source) IFS=, read -r -a sources <<<"$2"; chosen=true; shift 2 ;;
    --no-sdist) sdist=false; shift ;;
    -h|--help) print_header; exit 0 ;;
    *) echo "matrix: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done

logs=$work/logs
rm -rf "$logs" "$work/wheelhouse" "$work/venv"
mkdir -p "$logs" "$work/wheelhouse" "$work/venv"
results=()
failed=0

record() { # cell result seconds
  results+=("| $1 | $2 | $3 |")
  case "$2" in passed*|skipped*) ;; *) failed=1 ;; esac
}

unrunnable() { # cell reason: a chosen cell must run, a default one is skipped
  if $chosen; then record "$1" "refused: $2" -; else record "$1" "skipped: $2" -; fi
}

source_field() { # source column
  awk -v name="$1" -v column="$2" '$1 == name {print $column}' deps/matrix-sources
}

find_python() { # X.Y -> path of that interpreter, or nothing
  local found
  found=$(ls -d "${PYENV_ROOT:-$HOME/.pyenv}/versions/$1".*/bin/python"$1" 2>/dev/null | sort -V | tail -n 1)
  [ -n "$found" ] || found=$(command -v "python$1" || true)
  echo "$found"
}

# --- Debian packages -------------------------------------------------------
packages=()
for source in "${sources[@]}"; do
  if [ -z "$(source_field "$source" 1)" ]; then
    echo "matrix: unknown source $source (deps/matrix-sources)" >&2
    exit 2
  fi
  mapfile -t -O ${#packages[@]} packages < <(deps_lines deps/matrix-apt-packages | sed -n "s/^$source: *//p")
done
# Without them a cell finds no library file and is skipped, or refused.
apt_install_missing matrix "${packages[@]}" || true

# --- tools -----------------------------------------------------------------
tools=$work/tools
make_venv "$tools"
venv_pip "$tools" install -q -r deps/requirements-packaging.txt
# The suite's own tools, pinned once in deps/requirements-dev.txt, with the
# type stubs its strict check of the package needs.
mapfile -t test_tools < <(grep -E '^(pytest|mypy|types-[A-Za-z0-9_.-]+)==' deps/requirements-dev.txt)

# --- the cells -------------------------------------------------------------
run_cell() { # python-version python wheel source
  local cell="$1 $4" venv=$work/venv/$1-$4 log=$logs/$1-$4.log start requirement file
  local library_path=${LD_LIBRARY_PATH:-}
  start=$SECONDS
  requirement=$(source_field "$4" 2)
  file=$(source_field "$4" 3)
  if [ "$file" != "-" ]; then
    if [ ! -e "$file" ]; then
      unrunnable "$cell" "no $file (deps/matrix-apt-packages)"
      return
    fi
    # By default the bindings load `libclang-N.so` (15, 16) or `libclang.so`
    # (19), found on the library path, as libclang-N-dev would install them.
    mkdir -p "$work/lib/$4"
    ln -sfn "$file" "$work/lib/$4/libclang.so"
    ln -sfn "$file" "$work/lib/$4/libclang-${4#debian-}.so"
    library_path=$work/lib/$4${library_path:+:$library_path}
  fi
  if ! (
    [ -z "$library_path" ] || export LD_LIBRARY_PATH=$library_path
    "$2" -m venv "$venv" &&
      venv_pip "$venv" install -q "$3[parquet,dask]" "$requirement" "${test_tools[@]}" &&
      "$venv/bin/python" scripts/wheel_smoke.py &&
      timeout 900 "$venv/bin/python" -m pytest -q -rs -p no:cacheprovider tests/python
  ) >"$log" 2>&1; then
    record "$cell" "failed: $(tail -n 1 "$log" | sed 's/=//g' | xargs) ($log)" $((SECONDS - start))
  else
    record "$cell" "passed: $(tail -n 1 "$log" | sed 's/ in [0-9.]*s.*//; s/=//g' | xargs)" $((SECONDS - start))
  fi
  grep '^SKIPPED' "$log" | sed "s|^|  $cell: |" >>"$work/skips.txt" || true
}

: >"$work/skips.txt"
first_python=""
for version in "${pythons[@]}"; do
  python=$(find_python "$version")
  if [ -z "$python" ]; then
    for source in "${sources[@]}"; do unrunnable "$version $source" "no Python $version"; done
    continue
  fi
  [ -n "$first_python" ] || first_python=$python
  start=$SECONDS
  raw=$work/raw-$version
  rm -rf "$raw"
  # The CMake build folder is kept per Python, so a rebuild is incremental.
  if ! SKBUILD_BUILD_DIR=$work/cmake-$version "$python" -m pip wheel -q --disable-pip-version-check --no-deps \
    -w "$raw" . >"$logs/wheel-$version.log" 2>&1 ||
    ! PATH=$tools/bin:$PATH auditwheel repair -w "$work/wheelhouse" "$raw"/astsieve-*.whl \
      >>"$logs/wheel-$version.log" 2>&1; then
    record "$version wheel" "failed ($logs/wheel-$version.log)" $((SECONDS - start))
    continue
  fi
  wheel=$(ls "$work"/wheelhouse/astsieve-*-cp"${version/./}"-*manylinux*.whl)
  # The wheel uses the libclang its caller loads: auditwheel must have had
  # no library to copy into it.
  if "$tools/bin/python" -m zipfile -l "$wheel" | grep -q '^astsieve\.libs/'; then
    record "$version wheel" "failed: $(basename "$wheel") bundles libraries" $((SECONDS - start))
    continue
  fi
  record "$version wheel" "passed: $(basename "$wheel")" $((SECONDS - start))
  for source in "${sources[@]}"; do
    echo "matrix: $version $source"
    run_cell "$version" "$python" "$wheel" "$source"
  done
done

# --- the sdist -------------------------------------------------------------
if $sdist && [ -n "$first_python" ]; then
  start=$SECONDS
  venv=$work/venv/sdist
  rm -rf "$work/sdist"
  if {
    "$tools/bin/python" -m build --sdist -o "$work/sdist" . &&
      "$first_python" -m venv "$venv" &&
      venv_pip "$venv" install -q "$work"/sdist/astsieve-*.tar.gz \
        "$(source_field libclang-18 2)" &&
      "$venv/bin/python" scripts/wheel_smoke.py
  } >"$logs/sdist.log" 2>&1; then
    record "sdist" "passed: $(basename "$work"/sdist/astsieve-*.tar.gz) installs beside $(source_field libclang-18 2)" $((SECONDS - start))
  else
    record "sdist" "failed ($logs/sdist.log)" $((SECONDS - start))
  fi
fi

{
  echo "| cell | result | seconds |"
  echo "|---|---|---|"
  printf '%s\n' "${results[@]}"
} | tee "$work/results.md"
if [ -s "$work/skips.txt" ]; then
  echo "tests skipped:"
  cat "$work/skips.txt"
fi
exit $failed
