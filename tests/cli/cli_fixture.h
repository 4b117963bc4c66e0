// The tessel command line as people run it: the built program, on disk images in a temporary
// folder, over the emulated receiver or the image directly.
#pragma once

#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace cli_test {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline std::string RandomBytes(size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

// The megabytes the last progress line ("... 9 MB of 24 MB, ...") reports; -1 before one.
inline int CopiedMegabytes(const std::string& progress) {
    const size_t of = progress.rfind(" MB of ");
    if (of == std::string::npos) return -1;
    size_t start = of;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(progress[start - 1]))) --start;
    return start == of ? -1 : std::atoi(progress.substr(start, of - start).c_str());
}

class CliFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        // The program's settings and log go to the test's own folders.
        setenv("XDG_CONFIG_HOME", folder_.File("config").c_str(), 1);
        setenv("XDG_STATE_HOME", folder_.File("state").c_str(), 1);
        image_ = folder_.File("receiver.img");
        ASSERT_EQ(Run({"mkimage", image_, "--size", "256M", "--cluster", "32K", "--sample"}).status,
                  0);
    }

    Result Run(const std::vector<std::string>& args) {
        std::string command = Quoted(TESSEL_PROGRAM);
        for (const std::string& arg : args) command += " " + Quoted(arg);
        const std::string out = folder_.File("out.txt"), err = folder_.File("err.txt");
        command += " </dev/null >" + Quoted(out) + " 2>" + Quoted(err);
        const int raw = std::system(command.c_str());
        Result result;
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = ReadFileBytes(out);
        result.err = ReadFileBytes(err);
        return result;
    }

    // Starts the program with its output in the files `Finish` reads; -1 when it cannot start.
    pid_t Start(const std::vector<std::string>& args) {
        std::vector<std::string> all = {TESSEL_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string out = folder_.File("out.txt"), err = folder_.File("err.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t pid = 0;
        const bool started =
            posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        return started ? pid : -1;
    }

    // The error output of the program `Start` started, so far.
    std::string ErrorsSoFar() { return ReadFileBytes(folder_.File("err.txt")); }

    // Waits for the program `Start` started and collects its status and output.
    Result Finish(pid_t pid) {
        Result result;
        if (pid < 0) return result;
        int raw = 0;
        waitpid(pid, &raw, 0);
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = ReadFileBytes(folder_.File("out.txt"));
        result.err = ReadFileBytes(folder_.File("err.txt"));
        return result;
    }

    // Starts the program and interrupts it, as Ctrl+C does, once its progress line says
    // `megabytes` MB have been copied (or after 30 s).
    Result RunInterrupted(const std::vector<std::string>& args, int megabytes) {
        const pid_t pid = Start(args);
        if (pid < 0) return Result{};
        for (int i = 0; i < 3000 && CopiedMegabytes(ErrorsSoFar()) < megabytes; ++i) usleep(10000);
        kill(pid, SIGINT);
        return Finish(pid);
    }

    // Over the emulated receiver, with its fault options when given.
    Result Emulated(std::vector<std::string> args, const std::string& faults = "") {
        std::vector<std::string> all = {"--emulate", image_};
        if (!faults.empty()) all.insert(all.end(), {"--emulate-fault", faults});
        all.insert(all.end(), args.begin(), args.end());
        return Run(all);
    }

    // C:\rec.ts holds `data`, read back directly from the image, and the disk is clean.
    void ExpectOnReceiver(const std::string& data) {
        std::filesystem::create_directories(folder_.File("back"));
        ASSERT_EQ(
            Run({"--image", image_, "--yes-all", "get", "C:\\rec.ts", folder_.File("back")}).status,
            0);
        EXPECT_TRUE(ReadFileBytes(folder_.File("back/rec.ts")) == data);
        ExpectClean();
    }

    void ExpectClean() {
        const Result check = Run({"--image", image_, "check"});
        EXPECT_EQ(check.status, 0) << check.out << check.err;
    }

    TempFolder folder_;
    std::string image_;
};

}  // namespace cli_test
