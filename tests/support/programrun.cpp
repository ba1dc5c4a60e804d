#include "support/programrun.h"

ProgramRun RunProgram(const QString& program, const QStringList& args, int timeoutMs) {
  QProcess p;
  p.start(program, args);
  ProgramRun r;
  if (!p.waitForStarted(5000)) return r;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished(2000);
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

bool StartWithOpenLine(QProcess& process, const QString& program, const QStringList& args) {
  process.setReadChannel(QProcess::StandardError);
  process.start(program, args);
  if (!process.waitForStarted(5000)) return false;
  QByteArray err;
  while (!err.contains("is opened succesfully")) {
    if (!process.waitForReadyRead(30000)) return false;
    err += process.readAllStandardError();
  }
  return true;
}

bool WaitForEnd(QProcess& process, int timeoutMs) {
  return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}
