// One of our programs run as a user runs it: to its end, or started and waited for until
// it has opened its line.
#pragma once

#include <QProcess>
#include <QStringList>
#include <string>

struct ProgramRun {
  int code = -1;  // the exit status; -1 when it did not end normally in time
  std::string out, err;
};

// Runs Program with Args to its end, or kills it after TimeoutMs.
ProgramRun RunProgram(const QString& program, const QStringList& args, int timeoutMs = 60000);

// Starts Program with Args in Process and waits until it logs that its line is open, so that
// a peer's first packet does not go into an unopened line; false when it never does.
bool StartWithOpenLine(QProcess& process, const QString& program, const QStringList& args);

// Waits up to TimeoutMs for Process to end; true once it has ended, also when it ended
// before the call (where QProcess::waitForFinished says false).
bool WaitForEnd(QProcess& process, int timeoutMs);
