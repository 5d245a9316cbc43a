#!/usr/bin/env bash
# The main job: builds the utility and compacts a database with it.
#
# For now this only builds `jetcompact`. The database engine and the generator of sample
# databases are not in the project yet, so there is nothing to compact honestly: a run on a
# real database would back it up and then report "Napaka 429 pri stiskanju baze!" (the engine
# cannot be created), leaving the database as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target jetcompact -j2
echo
echo "Built $build/startup/jetcompact."
echo "Usage: jetcompact DATABASE   (relative to the folder of the executable)"
echo
echo "Not done yet: the database engine is not built in, so compacting ends with the report"
echo "'Napaka 429 pri stiskanju baze!' and exit status 3; the sample-database generator that"
echo "this script will run it on comes with the engine."
