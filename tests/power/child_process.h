// A program started for a test and ended with it: its output on a pipe, a bounded end.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class ChildProcess {
  public:
    // Starts `argv` with `extra_env` ("NAME=value") added to this process's environment;
    // its standard output is readable through ReadLine, its standard error goes to ours.
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env);
    // Ends it: SIGTERM, then SIGKILL after two seconds.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    // True while it has not exited (reaps it once it has).
    bool Running();
    // One line of its output without the newline; empty when none came within `timeout_ms`.
    std::string ReadLine(int timeout_ms);

  private:
    pid_t pid_ = -1;
    int output_ = -1;
};
