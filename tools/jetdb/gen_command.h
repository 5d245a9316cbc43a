// `jetdb gen FILE --rows N [--seed S] [--bloat PERCENT]`: parses the arguments, generates the database and prints
// what it holds.
#pragma once

namespace jet::create {

// args: everything after "gen". Returns the exit status (2 on a usage error); engine errors are thrown.
int runGenCommand(int argc, char** argv);

}  // namespace jet::create
