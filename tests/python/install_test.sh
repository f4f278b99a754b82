#!/usr/bin/env bash
# Installs the Python module two ways and decodes the sample with each:
#  1. a wheel built without isolation (no package index) into a fresh
#     virtual environment that sees Debian's NumPy;
#  2. `cmake --install --component python` into a scratch prefix.
# Both must give the samples of the module in the build tree, and carry its
# type stub and py.typed (the wheel also the licence and metadata).
#
#   install_test.sh PYTHON SOURCE_DIR BUILD_DIR WORK_DIR CMAKE SITE_DIR
set -euo pipefail
python=$1 source_dir=$2 build_dir=$3 work=$4 cmake=$5 site_dir=$6
sample=$source_dir/samples/speech-a-10s.63.bit

rm -rf "$work"
mkdir -p "$work"
cd "$work"  # never import mervox from the source tree

digest='import hashlib, mervox, sys
pcm = mervox.decode(sys.argv[1])
assert pcm.size > 0 and pcm.size % 240 == 0
print(mervox.__file__, hashlib.sha256(pcm.tobytes()).hexdigest())'

expected=$(PYTHONPATH=$build_dir/python "$python" -c "$digest" "$sample" | cut -d' ' -f2)

echo "== wheel"
before=$(find "$source_dir/python" | sort)
if ! MERVOX_WHEEL_BUILD_DIR=$work/wheel-build "$python" -m build --wheel --no-isolation --outdir "$work/dist" \
     "$source_dir/python" >"$work/wheel.log" 2>&1; then
  tail -n 40 "$work/wheel.log"
  echo "FAIL: the wheel did not build (log: $work/wheel.log)"
  exit 1
fi
wheel=$(ls "$work"/dist/mervox-*.whl)
echo "built $(basename "$wheel")"
# The type stub, py.typed and the licence go with it; so do the metadata.
"$python" - "$wheel" <<'EOF'
import email, sys, zipfile
wheel = zipfile.ZipFile(sys.argv[1])
names = wheel.namelist()
for want in ("mervox/__init__.py", "mervox/__init__.pyi", "mervox/py.typed"):
    assert want in names, "the wheel lacks " + want
info = next(n.rsplit("/", 1)[0] for n in names if n.endswith(".dist-info/METADATA"))
assert "BSD 2-Clause License" in wheel.read(info + "/LICENSE").decode(), "the wheel lacks the licence"
metadata = email.message_from_bytes(wheel.read(info + "/METADATA"))
assert metadata["License"] == "BSD-2-Clause", metadata["License"]
assert "Typing :: Typed" in metadata.get_all("Classifier"), metadata.get_all("Classifier")
assert metadata["Description-Content-Type"] == "text/markdown" and "import mervox" in metadata.get_payload()
EOF
if [ "$(find "$source_dir/python" | sort)" != "$before" ]; then
  diff <(echo "$before") <(find "$source_dir/python" | sort) || true
  echo "FAIL: the wheel build wrote into the source tree"
  exit 1
fi
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --no-index --no-deps --quiet "$wheel"
read -r file got < <("$work/venv/bin/python" -c "$digest" "$sample")
[[ $file == "$work/venv/"* ]] || { echo "FAIL: imported $file, not the wheel's"; exit 1; }
[ "$got" = "$expected" ] || { echo "FAIL: the wheel decodes differently ($got, expected $expected)"; exit 1; }
echo "wheel in a venv: $file"

echo "== cmake --install --component python"
"$cmake" --install "$build_dir" --component python --prefix "$work/prefix" >/dev/null
read -r file got < <(PYTHONPATH=$work/prefix/$site_dir "$python" -c "$digest" "$sample")
[[ $file == "$work/prefix/$site_dir/mervox/"* ]] || { echo "FAIL: imported $file, not the installed one"; exit 1; }
[ "$got" = "$expected" ] || { echo "FAIL: the installed module decodes differently"; exit 1; }
[ ! -e "$work/prefix/include" ] || { echo "FAIL: the python component installed more than the module"; exit 1; }
for file in __init__.pyi py.typed; do
  [ -f "$work/prefix/$site_dir/mervox/$file" ] || { echo "FAIL: cmake --install left out mervox/$file"; exit 1; }
done
echo "installed: $file"
