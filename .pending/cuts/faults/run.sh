#!/bin/bash
# run.sh TAG PATCH... : applies each fault alone to the normal build and records failing tests
cd /work/wt/cuts
tag=$1; shift
for p in "$@"; do
  n=$(basename $p .patch)
  git apply $p || { echo "$n: does not apply"; continue; }
  cmake --build build/normal -j2 > /tmp/cuts-f-$n.build 2>&1 || echo "$n: BUILD FAILED"
  ctest --test-dir build/normal -j2 -E InstalledTree > /tmp/cuts-f-$n.ctest 2>&1
  { echo "== $n ($tag)"; sed -n '/The following tests FAILED/,/Errors while/p' /tmp/cuts-f-$n.ctest; } >> /work/wt/cuts-faults/results-$tag.txt
  git apply -R $p
done
