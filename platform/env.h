// The machine as the updater meets it, behind one interface that tests
// replace: whether each file operation that changes the disk goes ahead or
// fails (open, write, flush, rename, make a folder, delete), the process
// table, the fixed drives, the answers a terminal prompt reads, and the
// time limits a test shortens. The
// free functions of file.h, process.h, system.h and message_box.h go
// through the current environment, so code above the platform never knows.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/process.h"
#include "platform/system.h"

namespace platform {

class CEnv {
 public:
  virtual ~CEnv() = default;

  // Asked before every file operation that changes the disk, with the path
  // it concerns (for writes and flushes the path the file was opened as).
  virtual Fault FileFault(FileOp op, const std::string& path) = 0;
  // Told which path each file was opened as, so a fault can be aimed at
  // the writes to one file; asked back by handle.
  virtual void NoteOpened(intptr_t h, const std::string& path) = 0;
  virtual std::string OpenedPath(intptr_t h) = 0;

  // The process table: see SnapshotProcesses.
  virtual std::vector<ProcessEntry> Processes() = 0;
  // The drives to install on: see ListFixedDrives.
  virtual std::vector<DriveInfo> FixedDrives() = 0;
  // One line of answer for a terminal prompt; false at the end of input.
  virtual bool ReadAnswerLine(std::string* pLine) = 0;
  // A time limit of the code above (in milliseconds), named by that code:
  // the machine keeps dwDefault, a test may shorten it.
  virtual uint32_t TimeLimit(const std::string& name, uint32_t dwDefault) = 0;
};

// The real machine: no faults, /proc, the mounted file systems, standard
// input.
CEnv& MachineEnv();
// The environment in use; any thread.
CEnv& CurrentEnv();
// Installs an environment (nullptr: the machine's) and returns the one it
// replaces. Tests only, while no other thread does file operations.
CEnv* SetEnvForTesting(CEnv* pEnv);

// Hands every call to another environment: a test overrides only what it
// changes.
class CEnvWrapper : public CEnv {
 public:
  explicit CEnvWrapper(CEnv& target) : target_(target) {}
  Fault FileFault(FileOp op, const std::string& path) override { return target_.FileFault(op, path); }
  void NoteOpened(intptr_t h, const std::string& path) override { target_.NoteOpened(h, path); }
  std::string OpenedPath(intptr_t h) override { return target_.OpenedPath(h); }
  std::vector<ProcessEntry> Processes() override { return target_.Processes(); }
  std::vector<DriveInfo> FixedDrives() override { return target_.FixedDrives(); }
  bool ReadAnswerLine(std::string* pLine) override { return target_.ReadAnswerLine(pLine); }
  uint32_t TimeLimit(const std::string& name, uint32_t dwDefault) override {
    return target_.TimeLimit(name, dwDefault);
  }

 protected:
  CEnv& Target() { return target_; }

 private:
  CEnv& target_;
};

}  // namespace platform
