// The console program: list the boxes, update one, several or all of them at once, or tell the
// record of the updates.
#pragma once

// Exit statuses, worst first; an interruption is 128 + the signal's number.
constexpr int EXIT_SOME_FAILED = 1;
constexpr int EXIT_BOX_HELD = 4;
constexpr int EXIT_ALL_SKIPPED = 5;
constexpr int EXIT_NO_BOX = 3;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_ALL_UPDATED = 0;

// `demo`: the program with simulated boxes, which keeps a record of its own, never the real one.
int RunConsoleProgram(int argc, const char* const* argv, const char* programName, bool demo);
