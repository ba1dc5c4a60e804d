// A pseudo-terminal pair for tests: the master end for the test, the slave's path for
// the component under test. Both ends are raw.
#pragma once

#include <QPointer>
#include <functional>
#include <string>

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int master() const { return master_; }
  const std::string& slavePath() const { return slave_path_; }
  // Writes all of Data to the master end.
  void Write(const std::string& data);
  // Reads what the master end receives until Count bytes or TimeoutMs passed.
  std::string Read(std::size_t count, int timeoutMs);
  // Closes the master end: the slave side sees a hang-up.
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_keeper_ = -1;  // keeps the slave open so early writes are not lost
  std::string slave_path_;
};

// Runs the Qt event loop until Done returns true or TimeoutMs passed; returns Done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);
// The same, also carrying out the deletions asked for with deleteLater outside an event
// loop (processEvents leaves them alone), until Object is gone; true once it is.
bool WaitUntilDeleted(const QPointer<QObject>& object, int timeoutMs);
// A fresh directory below the build's test area; removed by nothing (the build dir is scratch).
std::string MakeTempDir(const std::string& tag);
