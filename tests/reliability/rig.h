// A driver instance under a name of its own, started on the pseudo-terminal of an in-process
// zksim and reached through the exports only. Unlike zke2e::Session it leaves Init, Done and
// DisposeDriver to the caller one by one (a lifecycle test needs each on its own), and it
// removes the history files its name gives when it ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "e2e/session.h"

namespace zkrel {

using zke2e::Ch;

class Rig {
public:
    // Starts zksim with the stations of `config` and writes the parameter file. `device`
    // replaces zksim's terminal in the parameter file when it is not empty.
    Rig(std::string name, const zke2e::Config& config, zksim::SimOptions options = zke2e::FastModem(),
        std::string device = {});
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    void Make();  // MakeDriver (once)
    bool Init(std::string* error = nullptr);  // MakeDriver when needed, then Init
    void Done();
    void Dispose();  // DisposeDriver, with or without Done before it
    void* driver() const { return driver_; }

    zksim::Simulator& sim() { return *sim_; }
    const zktest::TempDir& dir() const { return dir_; }
    const std::string& parPath() const { return parPath_; }

    bool Flag(std::uint32_t channel);
    double Real(std::uint32_t channel);
    std::int32_t Long(std::uint32_t channel);
    void Request(std::uint32_t channel);
    void WriteFlag(std::uint32_t channel, bool value);
    void WriteReal(std::uint32_t channel, double value);
    void WriteLong(std::uint32_t channel, std::int32_t value);

    std::string Log() const;
    std::string Tail() const;

    // Writes the connect flag of `station` and waits for its connected flag; false on time-out.
    bool Dial(int station, double seconds = 60.0);

private:
    std::string name_;
    zktest::TempDir dir_;
    zke2e::WorkingDirectory cwd_{dir_.path()};
    std::unique_ptr<zksim::Simulator> sim_;
    std::string parPath_, logPath_, tracePath_;
    int stations_ = 0;
    void* driver_ = nullptr;
    bool running_ = false;
};

// What the process holds: heap in use, open descriptors, threads.
struct Resources {
    std::int64_t heap = 0;
    int descriptors = 0;
    int threads = 0;
};
Resources Measure();
std::string Describe(const Resources& r);

}  // namespace zkrel

// Waits for a condition on the running rig; on time-out the test stops with the tails of
// the log and the trace.
#define REL_WAIT(rig, condition)                                                        \
    ASSERT_TRUE(::zke2e::WaitUntil([&]() -> bool { return static_cast<bool>(condition); })) \
        << "never came true: " #condition "\n"                                          \
        << (rig).Tail()
