// zkhost as a program against the simulator: honest values (fresh, no value, not served), the
// early stop of `until`, JSON lines, exit codes, and the hang-up and Done on every way out,
// SIGTERM included.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/library.h"
#include "support/par_files.h"
#include "support/temp_dir.h"
#include "zkhost/check.h"
#include "zkhost/live.h"
#include "zkhost/script.h"
#include "zksim/zksim.h"

namespace {

std::string Example(const std::string& name) { return std::string(ZK_SOURCE_DIR) + "/examples/demo/" + name; }

struct ProgramRun {
    int status = -1;
    std::string out, err;
};

// Runs zkhost with the arguments; `signalAfter` > 0 sends SIGTERM after that many seconds, and
// `againAfter` > 0 a second one that much later.
ProgramRun Zkhost(const std::vector<std::string>& args, const zktest::TempDir& dir, double signalAfter = 0,
                  double againAfter = 0) {
    std::vector<std::string> all = {std::string(ZK_BINARY_DIR) + "/tools/zkhost", "--library", ZK_LIBRARY_PATH};
    all.insert(all.end(), args.begin(), args.end());
    const std::string out = dir.file("out.txt"), err = dir.file("err.txt");
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr) || chdir(dir.path().c_str()) != 0)
            _exit(99);
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(98);
    }
    if (signalAfter > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(signalAfter));
        kill(pid, SIGTERM);
        if (againAfter > 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(againAfter));
            kill(pid, SIGTERM);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ProgramRun r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = zktest::ReadFile(out);
    r.err = zktest::ReadFile(err);
    return r;
}

class ZkhostRun : public ::testing::Test {
protected:
    void SetUp() override {
        zksim::SimOptions options;
        std::string error;
        ASSERT_TRUE(zksim::ScanParameterFile(Example("demo.par"), options.line, error)) << error;
        options.dialDelayMs = 100;
        options.guardMs = 200;
        options.busyNumbers.push_back("5550000");
        sim = std::make_unique<zksim::Simulator>(options);
        ASSERT_TRUE(sim->Start(error)) << error;
        ASSERT_TRUE(sim->RunScenarioFile(Example("demo.scenario"), error)) << error;
        std::string text = zktest::ReadFile(Example("demo.par"));
        text.replace(text.find("DEVICE /tmp/zkdemo-modem"), 24, "DEVICE " + sim->SlavePath());
        par = dir.file("site.par");
        zktest::WriteFile(par, text);
    }
    zktest::TempDir dir;
    std::unique_ptr<zksim::Simulator> sim;
    std::string par;
};

TEST_F(ZkhostRun, ValuesAreFreshMissingOrNotServedAndTheLineIsHungUpAtTheEnd) {
    const ProgramRun r = Zkhost({"--json", "-e", "until modem.ready 1 20", "-e", "dial 1", "-e",
                          "until st1.connected 1 30 stop st1.unreachable", "-e", "read st1.qq.1", "-e",
                          "read st1.ai.1", "-e", "read 65000 u8", par},
                         dir);
    EXPECT_EQ(r.status, 1) << r.out << r.err;  // the read of 65000 has no value
    EXPECT_NE(r.out.find(R"("name":"st1.qq.1","type":"f64","state":"fresh","value":4321)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(R"("name":"st1.ai.1","type":"f64","state":"image")"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(R"({"op":"read","channel":65000,"type":"u8","state":"no value"})"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("hanging up"), std::string::npos) << r.err;
    EXPECT_FALSE(sim->Status().connected) << "zkhost left the call up";
}

TEST_F(ZkhostRun, NotServedAndIgnoredWritesFailTheScript) {
    ProgramRun r = Zkhost({"-e", "get st1.bi.1 f64", par}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("st1.bi.1 (1) = not served as f64 (serves bool)"), std::string::npos) << r.out;
    r = Zkhost({"-e", "write st1.bi.1 1", par}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("not served: the channel cannot be written"), std::string::npos) << r.out;
}

TEST_F(ZkhostRun, UntilComparesNumbersAndStopsEarly) {
    // "true" is 1; a station that cannot be reached stops the wait long before its end.
    std::string text = zktest::ReadFile(par);
    text.replace(text.find("PHONE 5551234"), 13, "PHONE 5550000");
    zktest::WriteFile(par, text);
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun r = Zkhost({"-e", "until modem.ready = true 20", "-e", "dial 1", "-e",
                          "until st1.connected 1 120 stop st1.unreachable", par},
                         dir);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("stopped early, st1.unreachable (465) = 1"), std::string::npos) << r.err;
    EXPECT_LT(took, 60.0);
}

TEST_F(ZkhostRun, SigtermHangsUpAndStopsTheDriver) {
    const ProgramRun r = Zkhost({"-e", "until modem.ready 1 20", "-e", "dial 1", "-e", "until st1.connected 1 30", "-e",
                          "wait 120", par},
                         dir, 8.0);
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.out << r.err;
    EXPECT_NE(r.err.find("hanging up"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("stopped by signal 15"), std::string::npos) << r.err;
    EXPECT_FALSE(sim->Status().connected);
}

TEST_F(ZkhostRun, ASecondSignalDuringTheHangUpIsSaidAsSuch) {
    const ProgramRun r = Zkhost({"-e", "until modem.ready 1 20", "-e", "dial 1", "-e", "until st1.connected 1 30", "-e",
                                 "wait 120", par},
                                dir, 8.0, 0.3);
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.out << r.err;
    EXPECT_NE(r.err.find("hanging up"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("after hanging up"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("a second signal cut the hang-up short"), std::string::npos) << r.err;
}

TEST_F(ZkhostRun, AScriptHungUpByItselfIsNotHungUpAgain) {
    // A station's flag channels (new_bi, errors, ...) may read 1; only its connected and
    // connecting channels say whether its line is up.
    const ProgramRun r = Zkhost({"-e", "until modem.ready 1 20", "-e", "dial 1", "-e",
                                 "until st1.connected 1 30 stop st1.unreachable", "-e", "read st1.qq.1", "-e",
                                 "write st1.new_bi 1", "-e", "until st1.new_bi 1 20", "-e", "hangup 1", "-e", "until st1.connected 0 30", par},
                                dir);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("hanging up"), std::string::npos) << r.err;
    EXPECT_FALSE(sim->Status().connected);
}

TEST_F(ZkhostRun, AFailingCommandNamesItsScriptLine) {
    zktest::WriteFile(dir.file("site.zkh"), "# two lines\nget 65000 u8\n");
    ProgramRun r = Zkhost({"--script", dir.file("site.zkh"), par}, dir);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find(dir.file("site.zkh") + ":2: get 65000: no value; the script stops here"), std::string::npos)
        << r.err;
    r = Zkhost({"-e", "get st1.bi.1 f64", par}, dir);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("-e 'get st1.bi.1 f64': get st1.bi.1 (1): not served"), std::string::npos) << r.err;
    r = Zkhost({"-e", "write st1.bi.1 1", par}, dir);
    EXPECT_NE(r.err.find("-e 'write st1.bi.1 1': st1.bi.1 (1) := 1: not served"), std::string::npos) << r.err;
}

// The live view's watch asks for a QQ item only while its station is on line, and a watch
// can be removed.
TEST_F(ZkhostRun, AWatchAsksForAQqItemOnlyWhileItsStationIsOnLine) {
    zktool::DriverApi& api = zktest::Library();
    void* driver = api.MakeDriver();
    char text[256] = {'w', 'a', 't', 'c', 'h'};
    ASSERT_TRUE(api.Init(driver, static_cast<int32_t>(par.size()), par.c_str(), 0, text, 0, 0, 0, 0)) << text;
    const zkhost::CheckResult checked = zkhost::CheckParameterFile(par);
    zkhost::Runner runner(api, driver, checked.Channels);
    zkhost::LiveModel model;
    ASSERT_TRUE(zkhost::LiveCommand(runner, model, "watch st1.qq.1"));
    ASSERT_EQ(model.Watch.size(), 1u);
    for (int i = 0; i < 5; ++i) zkhost::RefreshLive(runner, model, i);
    EXPECT_EQ(runner.Get({490, 10, ""}).Text, "0") << "a read was queued for a station that is not on line";
    ASSERT_TRUE(zkhost::LiveCommand(runner, model, "unwatch st1.qq.1"));
    EXPECT_TRUE(model.Watch.empty());
    ASSERT_TRUE(zkhost::LiveCommand(runner, model, "unwatch st1.qq.1"));
    EXPECT_NE(model.Output.back().find("not watched"), std::string::npos) << model.Output.back();
    api.Done(driver);
    api.DisposeDriver(driver);
}

TEST(ZkhostArguments, HelpVersionAndUsageErrors) {
    zktest::TempDir dir;
    ProgramRun r = Zkhost({"--help"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Exit status"), std::string::npos);
    EXPECT_TRUE(r.err.empty());
    r = Zkhost({"--version"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("zkhost ", 0), 0u);
    r = Zkhost({"--bogus", "x.par"}, dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown option '--bogus'"), std::string::npos);
    // A name the parameter file does not define is refused before the driver starts.
    r = Zkhost({"-e", "read st9.bi.1", std::string(ZK_SOURCE_DIR) + "/examples/minimal.par"}, dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("-e 'read st9.bi.1': the parameter file defines no channel named 'st9.bi.1'"),
              std::string::npos)
        << r.err;
    // Init fails: no such device.
    zktest::WriteFile(dir.file("nodevice.par"), zktest::MakeParFile());
    r = Zkhost({dir.file("nodevice.par")}, dir);
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("Init failed"), std::string::npos);
}

}  // namespace
