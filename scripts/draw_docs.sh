#!/usr/bin/env bash
# Draws the pictures of the documentation from their sources, to be committed
# beside them:
#  - docs/NAME.png from each docs/NAME.dot (the query's data flow, scan's and
#    changed's), with Graphviz's dot (Debian: apt-get install graphviz);
#  - docs/whole_unit.png, the README's chart, from the table of
#    docs/benchmarks.md (scripts/whole_unit_chart.py), with the matplotlib of
#    bench/requirements.txt in an environment of its own, build/docs/venv.
# docs/walks.png is drawn by the benchmarks themselves (scripts/bench.sh).
source "$(dirname "$0")/lib.sh"

if ! command -v dot >/dev/null; then
  echo "draw_docs: Graphviz's dot is missing; on Debian: apt-get install graphviz" >&2
  exit 1
fi
for source in docs/*.dot; do
  dot -Tpng -Gdpi=96 "$source" -o "${source%.dot}.png"
  echo "picture: ${source%.dot}.png"
done

venv=build/docs/venv
make_venv "$venv"
venv_pip "$venv" install -q -r bench/requirements.txt
"$venv/bin/python" scripts/whole_unit_chart.py
