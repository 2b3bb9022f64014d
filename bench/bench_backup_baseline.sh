#!/usr/bin/env bash
# Builds bench_backup's source of this tree against another checkout's engine (its headers and its built
# libraries), so `bench_backup --baseline OUT` prints both engines' figures side by side in one run.
# usage: bench/bench_backup_baseline.sh OTHER_SOURCE_TREE OTHER_BUILD_DIR OUT_BINARY
# Run from this tree's root after building bench_backup here (its commands are taken from this build).
set -euo pipefail
other_src=$(realpath "$1")
other_build=$(realpath "$2")
out=$3
here=$(pwd)
build=${KTR_BUILD_DIR:-build}
compile=$(cd "$build" && ninja -t commands bench/bench_backup | grep -- '-c .*bench_backup\.cpp$' | tail -1)
link=$(cd "$build" && ninja -t commands bench/bench_backup | tail -1)
obj=$(mktemp -d)
# The other tree's headers come first; the moc part of the bench is empty and not needed.
compile=${compile//-I$here\/src/-I$other_src\/src}
compile=$(sed -E "s# -o [^ ]+ # -o $obj/bench.o #" <<<"$compile")
(cd "$build" && eval "$compile")
link=${link#: && }
link=${link% && :}
link=$(sed -E "s#bench/CMakeFiles/bench_backup.dir/bench_backup_autogen/mocs_compilation.cpp.o##; s#bench/CMakeFiles/bench_backup.dir/bench_backup.cpp.o#$obj/bench.o#; s# -o bench/bench_backup # -o $(realpath -m "$out") #" <<<"$link")
link=$(sed -E "s#(^| )(src/[^ ]+)#\1$other_build/\2#g" <<<"$link")
(cd "$build" && eval "$link")
rm -rf "$obj"
echo "built $(realpath "$out")"
