// The simulator's transport, fault switches and application firmware, driven
// from a plain descriptor on the pty slave; and the tarsa-sim program.
#include "sim/simulator.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "gtest/gtest.h"
#include "sim/port_client.h"

extern char** environ;

namespace tarsa::sim {
namespace {

using test::MonoMs;
using test::PortClient;

struct Connected {
    std::unique_ptr<Simulator> sim;
    PortClient port;

    explicit Connected(DeviceConfig config = {}) {
        sim = Simulator::Start("talox", std::move(config));
        if (sim) port.Open(sim->PortPath());
    }
};

TEST(SimulatorApp, AnswersIdentityEmptyLineAndUnknownCommands) {
    Connected c;
    ASSERT_TRUE(c.sim);
    ASSERT_GE(c.port.fd, 0);
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rTalox 2.29\r>");
    EXPECT_EQ(c.port.Ask("\r"), "\r\r>");
    EXPECT_EQ(c.port.Ask("frobnicate\r"), "\rUnsupported\r>");
    EXPECT_EQ(c.port.Ask("get -nothing\r"), "\rERROR\r>");
    // A line feed after the carriage return is not a second command.
    EXPECT_EQ(c.port.Ask("get -ver\r\n"), "\rTalox 2.29\r>");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rTalox 2.29\r>");
    EXPECT_EQ(c.sim->CommandCount(), 6);
    EXPECT_EQ(c.sim->Received(), "get -ver\r\rfrobnicate\rget -nothing\rget -ver\r\nget -ver\r");
}

TEST(SimulatorApp, ConfiguredIdentityAndCommandsSplitAcrossWrites) {
    DeviceConfig config;
    config.identity = "Talox 3.01";
    Connected c(config);
    ASSERT_GE(c.port.fd, 0);
    ASSERT_TRUE(c.port.Send("get "));
    EXPECT_EQ(c.port.ReadFor(100), "");
    EXPECT_EQ(c.port.Ask("-ver\r"), "\rTalox 3.01\r>");
    // Two commands in one write get two answers, in order.
    ASSERT_TRUE(c.port.Send("get -ver\rxyz\r"));
    EXPECT_EQ(c.port.ReadUntil("Unsupported\r>", 2000), "\rTalox 3.01\r>\rUnsupported\r>");
}

TEST(SimulatorApp, OverlongLineIsAnErrorAndTheNextLineWorks) {
    Connected c;
    ASSERT_GE(c.port.fd, 0);
    std::string longLine(1000, 'a');
    EXPECT_EQ(c.port.Ask(longLine + "\r"), "\rERROR\r>");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rTalox 2.29\r>");
}

TEST(SimulatorSwitches, SilentEchoRejectAndBackToNormal) {
    Connected c;
    ASSERT_GE(c.port.fd, 0);
    c.sim->SetSilent(true);
    EXPECT_EQ(c.port.Ask("get -ver\r", 200), "");
    c.sim->SetSilent(false);
    c.sim->SetEcho(true);
    EXPECT_EQ(c.port.Ask("get -ver\r"), "get -ver\r>");
    c.sim->SetEcho(false);
    c.sim->SetReject("Unsupported");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rUnsupported\r>");
    c.sim->SetReject("");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rTalox 2.29\r>");
    EXPECT_EQ(c.sim->CommandCount(), 4);
}

TEST(SimulatorSwitches, AnswerDelayHoldsTheAnswerBack) {
    Connected c;
    ASSERT_GE(c.port.fd, 0);
    c.sim->SetAnswerDelayMs(300);
    long long start = MonoMs();
    ASSERT_TRUE(c.port.Send("get -ver\r"));
    EXPECT_EQ(c.port.ReadFor(150), "");
    EXPECT_EQ(c.port.ReadUntil(">", 2000), "\rTalox 2.29\r>");
    EXPECT_GE(MonoMs() - start, 300);
}

TEST(SimulatorSwitches, GarbleKeepsFramingButNotText) {
    Connected c;
    ASSERT_GE(c.port.fd, 0);
    c.sim->SetGarble(true);
    std::string answer = c.port.Ask("get -ver\r");
    ASSERT_EQ(answer.size(), std::string("\rTalox 2.29\r>").size());
    EXPECT_EQ(answer.front(), '\r');
    EXPECT_EQ(answer.substr(answer.size() - 2), "\r>");
    EXPECT_EQ(answer.find("Talox"), std::string::npos);
}

TEST(SimulatorSwitches, ScriptedRepliesComeFirstThenNormal) {
    Connected c;
    ASSERT_GE(c.port.fd, 0);
    c.sim->ScriptReplies({Reply::Silent(), Reply::BarePrompt(), Reply::Raw("xyz>"), Reply::Reject(),
                          Reply::Echo(), Reply::Normal()});
    EXPECT_EQ(c.port.Ask("get -ver\r", 200), "");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\r\r>");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "xyz>");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rERROR\r>");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "get -ver\r>");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rTalox 2.29\r>");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rTalox 2.29\r>");
}

TEST(SimulatorLine, WrongHostSpeedGivesNoiseUnlessTheCheckIsOff) {
    Connected c;
    ASSERT_GE(c.port.fd, 0);
    ASSERT_TRUE(c.port.SetBaud(B19200));
    // The device hears noise without a line end: no command at all.
    EXPECT_EQ(c.port.Ask("get -ver\r", 300), "");
    EXPECT_EQ(c.sim->CommandCount(), 0);
    // The noise is still in the device's line buffer: the next line is garbage.
    c.sim->SetBaudCheck(false);
    EXPECT_EQ(c.port.Ask("\r"), "\rUnsupported\r>");
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rTalox 2.29\r>");
    // An answer sent at the wrong speed reaches the host as noise.
    // An answer that goes out after the host changed its speed is noise.
    c.sim->SetBaudCheck(true);
    c.sim->SetAnswerDelayMs(100);
    ASSERT_TRUE(c.port.SetBaud(B9600));
    ASSERT_TRUE(c.port.Send("get -ver\r"));
    ::usleep(50'000);  // the device has heard the command at 9600
    ASSERT_TRUE(c.port.SetBaud(B19200));
    std::string noise = c.port.ReadFor(400);
    EXPECT_EQ(noise.size(), 13u);
    EXPECT_EQ(noise.find('>'), std::string::npos);
    ASSERT_TRUE(c.port.SetBaud(B9600));
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rTalox 2.29\r>");
}

TEST(SimulatorLine, WireTimeFollowsTheHostSpeed) {
    DeviceConfig config;
    config.checkBaud = false;
    config.wireTime = true;
    Connected c(config);
    ASSERT_GE(c.port.fd, 0);
    ASSERT_TRUE(c.port.SetBaud(B1200));
    // 9 bytes out and 13 back at 1200 baud take at least 22 * 8.3 ms.
    long long start = MonoMs();
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rTalox 2.29\r>");
    EXPECT_GE(MonoMs() - start, 180);
}

TEST(SimulatorLine, HostMayCloseAndReopenThePort) {
    Connected c;
    ASSERT_GE(c.port.fd, 0);
    c.port.Close();
    PortClient again;
    ASSERT_TRUE(again.Open(c.sim->PortPath()));
    EXPECT_EQ(again.Ask("get -ver\r"), "\rTalox 2.29\r>");
}

TEST(SimulatorLine, VanishLooksLikeAPulledCable) {
    Connected c;
    ASSERT_GE(c.port.fd, 0);
    EXPECT_EQ(c.port.Ask("get -ver\r"), "\rTalox 2.29\r>");
    c.sim->Vanish();
    c.port.Send("get -ver\r");
    EXPECT_EQ(c.port.ReadUntil(">", 1000), "");
    EXPECT_TRUE(c.port.eof);
    PortClient again;
    EXPECT_FALSE(again.Open(c.sim->PortPath()));
}

TEST(SimulatorStart, UnknownDeviceFailsAndNamesAreListed) {
    EXPECT_EQ(Simulator::Start("no-such-device"), nullptr);
    auto names = DeviceNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "talox"), names.end());
}

// Runs tarsa-sim with the given arguments; its stdout is readable from `out`.
pid_t Spawn(std::vector<std::string> args, FILE*& out) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    args.insert(args.begin(), TARSA_SIM_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, TARSA_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out = ::fdopen(fds[0], "r");
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string ReadLine(FILE* f) {
    char line[256];
    if (!std::fgets(line, sizeof line, f)) return {};
    return line;
}

TEST(SimulatorProgram, PrintsPortFirstAndAnswersUntilTerminated) {
    FILE* out = nullptr;
    pid_t pid = Spawn({"--device", "talox", "--version", "3.01", "--delay-ms", "10"}, out);
    ASSERT_GT(pid, 0);
    ASSERT_NE(out, nullptr);
    std::string first = ReadLine(out);
    ASSERT_EQ(first.rfind("PORT /dev/", 0), 0u) << first;
    std::string path = first.substr(5, first.size() - 6);
    PortClient port;
    ASSERT_TRUE(port.Open(path));
    EXPECT_EQ(port.Ask("get -ver\r"), "\rTalox 3.01\r>");
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    std::fclose(out);
}

TEST(SimulatorProgram, CanStartTheDeviceInItsLoader) {
    FILE* out = nullptr;
    pid_t pid = Spawn({"--device", "talox", "--in-loader"}, out);
    ASSERT_GT(pid, 0);
    std::string first = ReadLine(out);
    ASSERT_EQ(first.rfind("PORT /dev/", 0), 0u) << first;
    PortClient port;
    ASSERT_TRUE(port.Open(first.substr(5, first.size() - 6)));
    ASSERT_TRUE(port.Send("\r"));
    EXPECT_EQ(port.ReadUntil("$", 2000), "$");
    ::kill(pid, SIGINT);
    EXPECT_EQ(WaitExit(pid), 0);
    std::fclose(out);
}

TEST(SimulatorProgram, ListsDevicesAndRefusesBadUsage) {
    FILE* out = nullptr;
    pid_t pid = Spawn({"--list-devices"}, out);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ReadLine(out), "talox\n");
    EXPECT_EQ(WaitExit(pid), 0);
    std::fclose(out);
    for (std::vector<std::string> bad : {std::vector<std::string>{},
                                         {"--device", "nosuch"},
                                         {"--device", "talox", "--delay-ms", "x"},
                                         {"--device", "talox", "--loader-baud", "12"},
                                         {"--device"},
                                         {"--bogus"}}) {
        pid = Spawn(bad, out);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(WaitExit(pid), 2);
        std::fclose(out);
    }
}

TEST(SimulatorProgram, LoggerSettingsHardwareAndRadioStationsFromOptions) {
    FILE* out = nullptr;
    pid_t pid = Spawn({"--device", "talox", "--set", "site=Lake 4", "--cellular"}, out);
    ASSERT_GT(pid, 0);
    std::string first = ReadLine(out);
    ASSERT_EQ(first.rfind("PORT /dev/", 0), 0u) << first;
    PortClient port;
    ASSERT_TRUE(port.Open(first.substr(5, first.size() - 6)));
    EXPECT_EQ(port.Ask("get -site\r"), "\rLake 4\r>");
    EXPECT_EQ(port.Ask("get -apn\r"), "\rinternet\r>");
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    std::fclose(out);

    pid = Spawn({"--device", "zl4", "--station", "talox:STN7"}, out);
    ASSERT_GT(pid, 0);
    first = ReadLine(out);
    ASSERT_EQ(first.rfind("PORT /dev/", 0), 0u) << first;
    PortClient radio;
    ASSERT_TRUE(radio.Open(first.substr(5, first.size() - 6)));
    ASSERT_TRUE(radio.Send(std::string(20, '\r')));
    ASSERT_TRUE(radio.Send("query\r"));
    EXPECT_EQ(radio.ReadUntil("\r", 1000), "STN7\r");
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    std::fclose(out);

    // A value the device refuses, and options without their parts.
    for (auto [args, status] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{"--device", "talox", "--set", "tz=99"}, 1},
             {{"--device", "zl4", "--station", "toaster:X"}, 1},
             {{"--device", "talox", "--set", "site"}, 2},
             {{"--device", "zl4", "--station", "talox:"}, 2}}) {
        pid = Spawn(args, out);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(WaitExit(pid), status) << args.back();
        std::fclose(out);
    }
}

TEST(SimulatorProgram, InstrumentSettingsAndLoginTypingFromOptions) {
    FILE* out = nullptr;
    pid_t pid = Spawn({"--device", "h8", "--login-typing-ms", "0", "--set", "sn=H8-1"}, out);
    ASSERT_GT(pid, 0);
    std::string first = ReadLine(out);
    ASSERT_EQ(first.rfind("PORT /dev/", 0), 0u) << first;
    PortClient port;
    ASSERT_TRUE(port.Open(first.substr(5, first.size() - 6)));
    // Without the typing check the login line may come in one burst.
    EXPECT_EQ(port.Ask("login *5738\r"), "\rOK\r>");
    EXPECT_EQ(port.Ask("get -sn\r"), "\rH8-1\r>");
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    std::fclose(out);

    for (auto [args, status] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{"--device", "h8", "--set", "site=Lake"}, 1},
             {{"--device", "h8", "--login-typing-ms", "x"}, 2}}) {
        pid = Spawn(args, out);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(WaitExit(pid), status) << args.back();
        std::fclose(out);
    }
}

}  // namespace
}  // namespace tarsa::sim
