// The window program started as a user starts it, on the test's X server: one copy at a time,
// the splash gone by itself, the log as the level says, and a clean end on a quit request.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/uiaction.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "app/main_window_layout.h"
#include "tests/gui_support/window_test_support.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace {
namespace fs = std::filesystem;

// The names of the top-level windows the X server shows now.
std::string WindowNames() {
    std::string names;
    FILE* pipe = popen("xwininfo -root -tree 2>/dev/null", "r");
    if (pipe == nullptr) return names;
    std::array<char, 4096> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe) != nullptr) names += buffer.data();
    pclose(pipe);
    return names;
}
bool Shows(const std::string& title) {
    return WindowNames().find("\"" + title + "\"") != std::string::npos;
}

size_t Count(const std::string& names, const std::string& title) {
    size_t count = 0;
    for (size_t at = names.find("\"" + title + "\""); at != std::string::npos;
         at = names.find("\"" + title + "\"", at + 1))
        ++count;
    return count;
}

// Where the X server shows the top-level window of that title; empty when it shows none.
wxRect WindowArea(const std::string& title) {
    wxRect area;
    FILE* pipe = popen(("xwininfo -name '" + title + "' 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return area;
    std::array<char, 512> line{};
    while (fgets(line.data(), line.size(), pipe) != nullptr) {
        int value = 0;
        if (sscanf(line.data(), " Absolute upper-left X: %d", &value) == 1) area.x = value;
        if (sscanf(line.data(), " Absolute upper-left Y: %d", &value) == 1) area.y = value;
        if (sscanf(line.data(), " Width: %d", &value) == 1) area.width = value;
        if (sscanf(line.data(), " Height: %d", &value) == 1) area.height = value;
    }
    pclose(pipe);
    return area;
}

// Runs the command line on the test's files; its exit status.
int RunTessel(const std::vector<std::string>& arguments) {
    std::string command = TESSEL_CLI_PROGRAM;
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SomeBytes(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& byte : bytes) byte = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    return bytes;
}

bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* sub : {"config", "state", "runtime"}) fs::create_directories(Dir(sub));
        fs::permissions(Dir("runtime"), fs::perms::owner_all);
        fs::create_directories(Dir("config") + "/Orvane/OV Tessel USB");
    }
    void TearDown() override {
        for (pid_t pid : started_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    std::string Dir(const std::string& name) const { return folder_.File(name); }
    std::string LogFolder() const { return Dir("state") + "/Orvane/OV Tessel USB/Logfiles"; }
    size_t LogFiles() const {
        if (!fs::exists(LogFolder())) return 0;
        size_t count = 0;
        for (const auto& entry : fs::directory_iterator(LogFolder()))
            count += entry.is_regular_file();
        return count;
    }
    void WriteSettings(const std::string& text) {
        WriteFileBytes(Dir("config") + "/Orvane/OV Tessel USB/settings.ini", text);
    }

    pid_t Start(std::vector<std::string> options = {}) {
        std::vector<std::string> env = {"XDG_CONFIG_HOME=" + Dir("config"),
                                        "XDG_STATE_HOME=" + Dir("state"),
                                        "XDG_RUNTIME_DIR=" + Dir("runtime"), "HOME=" + Dir("")};
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (entry.rfind("XDG_", 0) != 0 && entry.rfind("HOME=", 0) != 0) env.push_back(entry);
        }
        std::vector<char*> envp;
        for (std::string& entry : env) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::string program = TESSEL_GUI_PROGRAM;
        std::vector<char*> argv = {program.data()};
        for (std::string& option : options) argv.push_back(option.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()),
                  0);
        started_.push_back(pid);
        return pid;
    }
    // The exit status, or -1 when the process did not end within the bound.
    int WaitExit(pid_t pid, int timeout_ms) {
        int status = 0;
        const bool ended =
            WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout_ms);
        if (!ended) return -1;
        std::erase(started_, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    TempFolder folder_;
    std::vector<pid_t> started_;
    static constexpr const char* kMain = "TX Tessel USB 1.0.1";
    static constexpr const char* kSplash = "About OV Tessel USB";
};
}  // namespace

TEST_F(StartupTest, SecondCopyEndsSilentlyAndTheSplashClosesByItself) {
    const pid_t first = Start();
    ASSERT_TRUE(WaitFor([&] { return Shows(kMain); }, 15000)) << WindowNames();
    EXPECT_EQ(LogFiles(), 1u);

    const pid_t second = Start();
    EXPECT_EQ(WaitExit(second, 10000), 0);
    EXPECT_EQ(LogFiles(), 1u);                   // the second copy wrote no log
    EXPECT_EQ(Count(WindowNames(), kMain), 1u);  // and showed no window of its own
    EXPECT_LE(Count(WindowNames(), kSplash), 1u);

    // The splash goes by its own timer; the main window stays.
    EXPECT_TRUE(WaitFor([&] { return !Shows(kSplash); }, 8000));
    EXPECT_TRUE(Shows(kMain));

    // A quit request closes the main window and ends the program.
    kill(first, SIGTERM);
    EXPECT_EQ(WaitExit(first, 10000), 0);
    EXPECT_FALSE(Shows(kMain));

    // The lock went with the process: the next start runs.
    const pid_t third = Start();
    EXPECT_TRUE(WaitFor([&] { return Shows(kMain); }, 15000));
    kill(third, SIGTERM);
    EXPECT_EQ(WaitExit(third, 10000), 0);
}

TEST_F(StartupTest, LogLevelZeroWritesNoLogFile) {
    WriteSettings("[Settings]\nLogLevel=0\n");
    const pid_t pid = Start();
    ASSERT_TRUE(WaitFor([&] { return Shows(kMain); }, 15000));
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid, 10000), 0);
    EXPECT_EQ(LogFiles(), 0u);
}

TEST_F(StartupTest, TheLogStartsWithTheLevel) {
    WriteSettings("[Settings]\nLogLevel=2\n");
    const pid_t pid = Start();
    ASSERT_TRUE(WaitFor([&] { return Shows(kMain); }, 15000));
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid, 10000), 0);
    ASSERT_EQ(LogFiles(), 1u);
    const std::string log = ReadFileBytes(fs::directory_iterator(LogFolder())->path());
    EXPECT_NE(log.find("Log-Level: 2"), std::string::npos) << log;
    EXPECT_NE(log.find("COV_USBDlg::OnInitDialog"), std::string::npos);
}

TEST_F(StartupTest, AQuitSignalDuringATransferStopsItAndTheProgramEnds) {
    // A receiver disk with one recording, reached slowly through the emulated receiver.
    const std::string disk = Dir("receiver.img");
    const std::string recording = SomeBytes(24 << 20);
    WriteFileBytes(Dir("big.TP0"), recording);
    ASSERT_EQ(RunTessel({"mkimage", disk, "--size", "256M"}), 0);
    ASSERT_EQ(RunTessel({"--image", disk, "put", Dir("big.TP0"), "C:\\"}), 0);
    fs::create_directories(Dir("pc"));
    WriteSettings("[List 0]\nLastPath=" + Dir("pc") + "\n");
    const pid_t pid = Start({"--emulate", disk, "--emulate-fault", "latency=15"});
    ASSERT_TRUE(WaitFor([&] { return Shows(kMain) && !Shows(kSplash); }, 15000));

    // The recording is the receiver pane's first row: clicked, then Transfer.
    const wxRect window = WindowArea(kMain);
    ASSERT_GT(window.width, 0);
    wxPoint row, transfer;
    for (const ControlPlace& place : MainWindowLayout(window.width, window.height)) {
        if (place.id == main_window::kRightList)
            row = wxPoint(window.x + place.left + 40, window.y + place.top + 35);
        if (place.id == main_window::kTransfer)
            transfer = wxPoint(window.x + place.left + place.width / 2,
                               window.y + place.top + place.height / 2);
    }
    wxUIActionSimulator simulator;
    for (const wxPoint& at : {row, transfer}) {
        simulator.MouseMove(at);
        window_test::PumpFor(100);
        simulator.MouseClick();
        window_test::PumpFor(300);
    }
    ASSERT_TRUE(WaitFor([&] { return Shows("Progress"); }, 10000)) << WindowNames();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid, 15000), 0);
    EXPECT_FALSE(Shows(kMain));
    // Stopped part-way; the command line resumes the copy it left.
    const std::string partial = ReadFileBytes(Dir("pc") + "/big.TP0");
    ASSERT_GT(partial.size(), 0u);
    ASSERT_LT(partial.size(), recording.size());
    EXPECT_EQ(partial, recording.substr(0, partial.size()));
    EXPECT_EQ(RunTessel({"--image", disk, "--resume", "get", "C:\\big.TP0", Dir("pc")}), 0);
    EXPECT_TRUE(ReadFileBytes(Dir("pc") + "/big.TP0") == recording);
}
