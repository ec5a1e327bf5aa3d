// The demo of the distribution works end to end: examples/demo/ (parameter file, zksim scenario,
// zkhost script) run against the simulator through the library loaded by file name, as
// scripts/demo.sh runs them, with the device and the log redirected into a fresh directory.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "support/library.h"
#include "support/temp_dir.h"
#include "zkhost/script.h"
#include "zksim/zksim.h"

namespace {

std::string Example(const std::string& name) { return std::string(ZK_SOURCE_DIR) + "/examples/demo/" + name; }

// The demo's parameter file with another device and log file.
std::string Redirected(std::string text, const std::string& device, const std::string& log) {
    auto swap = [&text](const std::string& from, const std::string& to) {
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
    };
    swap("DEVICE /tmp/zkdemo-modem", "DEVICE " + device);
    swap("LOG_FILE \" zkdemo.log\"", "LOG_FILE \" " + log + "\"");
    return text;
}

TEST(Demo, TheScriptRunsAgainstTheSimulatorAndReachesTheStation) {
    zktest::TempDir dir;
    zksim::SimOptions options;
    std::string error;
    ASSERT_TRUE(zksim::ScanParameterFile(Example("demo.par"), options.line, error)) << error;
    options.dialDelayMs = 100;
    options.tracePath = dir.file("trace.txt");
    zksim::Simulator sim(options);
    ASSERT_TRUE(sim.Start(error)) << error;
    ASSERT_TRUE(sim.RunScenarioFile(Example("demo.scenario"), error)) << error;

    const std::string par = dir.file("demo.par");
    zktest::WriteFile(par, Redirected(zktest::ReadFile(Example("demo.par")), sim.SlavePath(), dir.file("demo.log")));

    std::vector<zkhost::Command> script;
    std::ifstream in(Example("demo.zkh"));
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        zkhost::Command command;
        ASSERT_TRUE(zkhost::ParseCommand(line, command, error)) << "line " << number << ": " << error;
        if (command.Op != zkhost::OpKind::None) script.push_back(command);
    }
    ASSERT_FALSE(script.empty());

    zktool::DriverApi& api = zktest::Library();
    void* driver = api.MakeDriver();
    char text[256] = {'d', 'e', 'm', 'o'};
    ASSERT_TRUE(api.Init(driver, static_cast<int32_t>(par.size()), par.c_str(), 0, text, 0, 0, 0, 0)) << text;
    zkhost::Runner runner(api, driver);
    std::size_t done = 0;
    for (; done < script.size(); ++done)
        if (!runner.Run(script[done])) break;
    api.Done(driver);
    api.DisposeDriver(driver);
    EXPECT_EQ(done, script.size()) << "the script stopped at its command " << done + 1;

    // What the script wrote arrived in the station, and the modem was hung up.
    bool on = false;
    EXPECT_TRUE(sim.BinaryOut(5, 1, on));
    EXPECT_TRUE(on);
    std::array<uint8_t, 4> qq{};
    ASSERT_TRUE(sim.Qq(5, 0, 30, 0, qq));
    float real = 0;
    std::memcpy(&real, qq.data(), 4);
    EXPECT_EQ(real, 17.25f);
    EXPECT_FALSE(sim.Status().connected);
    EXPECT_NE(zktest::ReadFile(dir.file("demo.log")).find("communication !!!!"), std::string::npos);
}

}  // namespace
