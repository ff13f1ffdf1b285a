// Starting a command without a shell. The runner writes every command as a
// shell line; when that line is one command made only of words the quoting
// helpers wrote (ShellQuote.h) and names its program by a path, the program
// is started directly, saving the /bin/sh process in front of it, with what
// the shell would have given it: the same arguments, standard output and
// error, environment, signal mask and dispositions, and exit code.
#pragma once

#include <string>
#include <vector>

namespace vxl_fixup {

// The program and arguments of command when it can be started directly:
// optionally enclosed in one pair of parentheses, nothing but words that
// splitShellWords accepts, the first naming the program by a path (it holds
// a "/") and not being a variable assignment. False for anything else: a
// pipeline, a redirection, a bare command name (which may be a shell builtin)
// or any other shell syntax.
bool directStartWords(const std::string& command, std::vector<std::string>& words);

// Runs words[0] with words as its arguments, its standard output on the open
// descriptor out and its standard error on err (both above 2; the caller
// opened them, no name is opened here), in the environment the shell passes
// on, and waits for it. True with status set as system() sets it for the
// shell line: the exit status in bits 8 to 15, a program ended by signal N
// reported as exit code 128+N (as the shell reports it) with signal set to N
// (0 otherwise), -1 when the program could not be waited for. False when the
// program did not run (it is missing, not executable or not a binary): the
// caller then runs the line through the shell, which reports such failures
// with its own exit code and message.
bool startDirectly(const std::vector<std::string>& words, int out, int err, int& status,
                   int& signal);

// Runs "sh -c line" as system() does, with this process's environment and
// standard input, its standard output and error on out and err (above 2),
// and waits for it. True with status as system() returns it (the raw wait
// status; -1 when the shell could not be waited for). False with spawnError
// set (errno style) when no shell could be started, such as for a line beyond
// the system's argument size.
bool startShell(const std::string& line, int out, int err, int& status, int& spawnError);

// The environment the shell hands to the commands it starts, made from this
// process's environment: entries whose name is not a shell variable name are
// left out (the last of repeated names counts); IFS, OPTIND and PPID, when
// present, read " \t\n", "1" and this process's id; PWD is this directory's
// path unless it already names this directory by an absolute path. Empty
// with false when the current directory cannot be named.
bool shellEnvironment(std::vector<std::string>& entries);

}  // namespace vxl_fixup
