#pragma once
// jetdb walk FILE [TABLE] [--delay MS]: a pass over a table's rows that a person can watch in the
// status window and stop with "Prekini".

namespace tools {

// Arguments after "walk". Exit status: 0 when the pass reached the end of the table, 4 when the
// user stopped it ("Prekini", Ctrl-C on a terminal, or closing the window), 1 on an engine error,
// 2 on a usage error.
int runWalkCommand(int argc, char** argv);

}  // namespace tools
