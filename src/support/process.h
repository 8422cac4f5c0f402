// Ending the process, and what must happen when it ends. The workflows end the
// process from deep inside nested event handlers (a cancel while the engine is
// writing); cleanups registered here (the engine's temporary files) run on every
// such way out. Tests replace the ending with an exception they catch.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace qv {

// Exit statuses a script can rely on.
constexpr int kExitDone = 0;
constexpr int kExitCancelled = 1;
constexpr int kExitFailed = 2;

// Runs the registered cleanups (the early ones first, each kind last
// registered first), then ends the process
// with `code`, or calls the handler installed by SetEndProcessHandler.
[[noreturn]] void EndProcess(int code);

// Registers a cleanup; returns an id for RemoveCleanup. Safe from any thread.
int AddCleanup(std::function<void()> cleanup);
// Registers a cleanup that runs before every ordinary one: what stops the
// threads that create and remove the files the ordinary cleanups remove.
int AddEarlyCleanup(std::function<void()> cleanup);
void RemoveCleanup(int id);
// Runs and forgets every registered cleanup.
void RunCleanups();

// Thrown by EndProcess when a test installed ThrowOnEndProcess.
struct ProcessEnded {
  int code;
};
void SetEndProcessHandler(std::function<void(int)> handler);  // must not return
void ThrowOnEndProcess();                                    // test helper

// Says why a run ends before any dialog could (the archive cannot be opened
// or prepared, the archive has no destination of its own), for whoever
// started the program from a console or a script: on POSIX one line on
// standard error, every control character escaped. The Windows programs have
// no console and stay silent. Nothing is written for an empty reason.
void ReportEndReason(std::string_view reason);

// The command line as the programs take it: one unparsed string. On Windows
// the raw text after the program name; elsewhere the arguments joined by
// single blanks.
std::string CommandLineText(int argc, char** argv);

// The text of a whole command line after its program name: the first token
// (quoted or not) and the blanks that follow it are skipped, the rest is kept
// as typed, quotes and all.
std::string TextAfterProgramName(std::string_view commandLine);

}  // namespace qv
