// The simulator's public face: starting and stopping it, the stations' values for tests and
// scenarios, scenario files, calls, reports and faults. Each call takes the simulator's lock;
// the work itself is in sim_modem.cpp, sim_line.cpp and sim_receiver.cpp.
#include <algorithm>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "zksim/scenario.h"
#include "zksim/sim_impl.h"
#include "zksim/zksim.h"

namespace zksim {

Simulator::Simulator(SimOptions options) : impl_(std::make_unique<Impl>(std::move(options))) { impl_->self = this; }

Simulator::~Simulator() { Stop(); }

namespace {

// Runs `change` on station `address` under the simulator's lock; false when there is no such
// station or `change` refuses.
template <class ImplT, class F>
bool OnStation(ImplT& impl, uint8_t address, F change) {
    std::lock_guard<std::mutex> guard(impl.lock);
    auto* st = impl.Find(address);
    return st && change(*st);
}

}  // namespace

bool Simulator::SetBinaryIn(uint8_t station, int point, bool on) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        if (point < 1 || point > 96) return false;
        st.binaryIn[static_cast<size_t>(point - 1)] = on;
        return true;
    });
}

bool Simulator::BinaryOut(uint8_t station, int point, bool& on) const {
    return OnStation(*impl_, station, [&](const StationImage& st) {
        if (point < 1 || point > 96) return false;
        on = st.binaryOut[static_cast<size_t>(point - 1)];
        return true;
    });
}

bool Simulator::SetAnalogRaw(uint8_t station, int input, uint16_t raw) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        if (input < 1 || input > 64) return false;
        st.analogRaw[static_cast<size_t>(input - 1)] = raw;
        return true;
    });
}

bool Simulator::SetAnalogValue(uint8_t station, int input, double value) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        if (input < 1 || input > 64) return false;
        st.SetAnalogValue(input, value);
        return true;
    });
}

bool Simulator::AddAnalogRaw(uint8_t station, int input, int delta) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        if (input < 1 || input > 64) return false;
        uint16_t& raw = st.analogRaw[static_cast<size_t>(input - 1)];
        raw = static_cast<uint16_t>((raw & 0x8000) | ((raw + delta) & 0x7FFF));
        return true;
    });
}

bool Simulator::SetCounter(uint8_t station, int counter, uint16_t raw) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        if (counter < 1 || counter > 48) return false;
        st.counters[static_cast<size_t>(counter - 1)] = raw;
        return true;
    });
}

bool Simulator::Counter(uint8_t station, int counter, uint16_t& raw) const {
    return OnStation(*impl_, station, [&](const StationImage& st) {
        if (counter < 1 || counter > 48) return false;
        raw = st.counters[static_cast<size_t>(counter - 1)];
        return true;
    });
}

bool Simulator::SetMemoryIn(uint8_t station, int entry, double value) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        if (entry < 1 || entry > 100) return false;
        st.SetMemoryEntry(st.def.memoryIn[static_cast<size_t>(entry - 1)], value);
        return true;
    });
}

bool Simulator::MemoryOut(uint8_t station, int entry, double& value) const {
    return OnStation(*impl_, station, [&](const StationImage& st) {
        if (entry < 1 || entry > 100) return false;
        value = st.MemoryEntryValue(st.def.memoryOut[static_cast<size_t>(entry - 1)]);
        return true;
    });
}

bool Simulator::SetConstant(uint8_t station, int index, double value) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        if (index < 1 || index > 8) return false;
        st.constants[static_cast<size_t>(index - 1)] = value;
        return true;
    });
}

bool Simulator::Constant(uint8_t station, int index, double& value) const {
    return OnStation(*impl_, station, [&](const StationImage& st) {
        if (index < 1 || index > 8) return false;
        value = st.constants[static_cast<size_t>(index - 1)];
        return true;
    });
}

bool Simulator::SetMemory(uint8_t station, uint16_t address, const Bytes& bytes) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        for (size_t i = 0; i < bytes.size(); ++i) st.memory[(address + i) & 0xFFFF] = Byte(bytes[i]);
        return true;
    });
}

Bytes Simulator::Memory(uint8_t station, uint16_t address, size_t count) const {
    Bytes out;
    OnStation(*impl_, station, [&](const StationImage& st) {
        for (size_t i = 0; i < count; ++i) out += Char(st.memory[(address + i) & 0xFFFF]);
        return true;
    });
    return out;
}

bool Simulator::SetBlockItem(uint8_t station, size_t block, size_t item, double value) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        return st.SetBlockItem(block, item, value);
    });
}

bool Simulator::SetQq(uint8_t station, uint8_t d, uint8_t b, uint8_t a, std::array<uint8_t, 4> value) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        st.qq[StationImage::QqKey(d, b, a)] = value;
        return true;
    });
}

bool Simulator::SetQqLong(uint8_t station, uint8_t d, uint8_t b, uint8_t a, int32_t value) {
    return SetQq(station, d, b, a, EncodeLong(static_cast<uint32_t>(value)));
}

bool Simulator::SetQqReal(uint8_t station, uint8_t d, uint8_t b, uint8_t a, float value) {
    return SetQq(station, d, b, a, EncodeSingle(value));
}

bool Simulator::SetQqText(uint8_t station, uint8_t d, uint8_t b, uint8_t a, const Bytes& text) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        for (int k = 0; k < 8; ++k) {
            std::array<uint8_t, 4> chunk = {' ', ' ', ' ', ' '};
            for (size_t j = 0; j < 4; ++j) {
                const size_t i = static_cast<size_t>(k) * 4 + j;
                if (i < text.size()) chunk[j] = Byte(text[i]);
            }
            st.qq[StationImage::QqKey(d, b, static_cast<uint8_t>(a + k))] = chunk;
        }
        return true;
    });
}

bool Simulator::SetQqInvalid(uint8_t station, uint8_t d, uint8_t b, uint8_t a) {
    return SetQq(station, d, b, a, kQqInvalid);
}

bool Simulator::Qq(uint8_t station, uint8_t d, uint8_t b, uint8_t a, std::array<uint8_t, 4>& value) const {
    return OnStation(*impl_, station, [&](const StationImage& st) {
        const auto it = st.qq.find(StationImage::QqKey(d, b, a));
        value = it == st.qq.end() ? kQqInvalid : it->second;
        return it != st.qq.end();
    });
}

bool Simulator::SetSampleRow(uint8_t station, int table, int row, const std::array<int, 6>& dateTime, uint8_t state,
                             const std::array<double, 8>& values) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        return st.SetSampleRow(table, row, dateTime, state, values);
    });
}

bool Simulator::SetHistoryRecord(uint8_t station, uint32_t record, uint16_t word, uint32_t seconds, float value) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        return st.SetHistoryRecord(record, word, seconds, value);
    });
}

bool Simulator::AppendHistory(uint8_t station, uint16_t word, uint32_t seconds, float value, uint32_t count,
                              uint32_t step) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        for (uint32_t k = 0; k < count; ++k)
            st.AppendHistory(word, seconds + k * step, value + static_cast<float>(k));
        return true;
    });
}

bool Simulator::SetHistoryTop(uint8_t station, uint32_t top) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        st.SetHistoryTop(top);
        return true;
    });
}

bool Simulator::HistoryTop(uint8_t station, uint32_t& top) const {
    return OnStation(*impl_, station, [&](const StationImage& st) {
        top = st.HistoryTop();
        return true;
    });
}

bool Simulator::SetHistoryUserPos(uint8_t station, int user, uint32_t pos) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        return st.SetHistoryUserPos(user, pos);
    });
}

bool Simulator::HistoryUserPos(uint8_t station, int user, uint32_t& pos) const {
    return OnStation(*impl_, station, [&](const StationImage& st) { return st.HistoryUserPos(user, pos); });
}

bool Simulator::SetHistoryReader(uint8_t station, HistoryReader reader) {
    return OnStation(*impl_, station, [&](StationImage& st) {
        st.historyReader = std::move(reader);
        return true;
    });
}

void Simulator::AddNumber(const std::string& number, bool busy) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    // The number's last word counts: it leaves the other list.
    const std::string digits = DialDigits(number);
    auto& other = busy ? impl_->options.extraNumbers : impl_->options.busyNumbers;
    other.erase(std::remove(other.begin(), other.end(), digits), other.end());
    (busy ? impl_->options.busyNumbers : impl_->options.extraNumbers).push_back(digits);
}

void Simulator::At(double seconds, double repeatSeconds, std::function<void(Simulator&)> command) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    Impl* m = impl_.get();
    struct Repeat {
        static void Arm(Impl* m, Clock::time_point due, double period, std::function<void(Simulator&)> cmd) {
            m->AfterUnlocked(due, [m, due, period, cmd] {
                cmd(*m->self);
                if (period > 0) {
                    std::lock_guard<std::mutex> guard(m->lock);
                    Arm(m, due + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(period)),
                        period, cmd);
                }
            });
        }
    };
    Repeat::Arm(m, due, repeatSeconds, std::move(command));
}

bool Simulator::RunScenario(const std::string& text, std::string& error) {
    std::vector<ScenarioLine> lines;
    std::set<uint8_t> stations;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        for (const StationImage& st : impl_->stations) stations.insert(st.def.address);
    }
    if (!ParseScenario(text, lines, error, &stations)) return false;
    for (ScenarioLine& line : lines) {
        if (line.at == 0 && line.every == 0) line.command(*this);
        else At(line.at, line.every, line.command);
    }
    return true;
}

bool Simulator::RunCommand(const std::string& line, std::string& error) {
    if (RunScenario(line, error)) return true;
    if (error.rfind("line 1: ", 0) == 0) error.erase(0, 8);
    return false;
}

bool Simulator::RunScenarioFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open the scenario file " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (!RunScenario(text.str(), error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

void Simulator::Ring(int count) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->RingLocked(count, 0, false, {});
}

bool Simulator::Call(uint8_t station, int rings, Report report) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (!impl_->Find(station)) return false;
    impl_->RingLocked(rings, station, true, report);
    return true;
}

bool Simulator::SendReport(uint8_t station, Report report) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->SendReportLocked(station, report);
}

void Simulator::DropCarrier() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (!impl_->Connected()) return;
    impl_->EndCall("carrier lost");
    impl_->Reply("NO CARRIER");
}

void Simulator::InjectFault(const Fault& fault) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->faults.push_back(fault);
}

void Simulator::ClearFaults() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->faults.clear();
}

void Simulator::SendRaw(const Bytes& bytes) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->Send(bytes);
}

SimStatus Simulator::Status() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    SimStatus s = impl_->status;
    s.mode = impl_->mode;
    s.connected = impl_->Connected();
    s.answeredCall = impl_->answeredCall;
    s.number = impl_->number;
    s.ringing = impl_->ringing;
    return s;
}

std::vector<Bytes> Simulator::Requests() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->requests;
}

}  // namespace zksim
