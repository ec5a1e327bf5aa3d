#include "zksim/scenario.h"

#include <cstdlib>
#include <set>
#include <sstream>

#include "zksim/zksim.h"

namespace zksim {
namespace {

bool Int(const std::string& s, long& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtol(s.c_str(), &end, 0);
    return *end == '\0';
}

bool Real(const std::string& s, double& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return *end == '\0';
}

struct Words {
    const std::vector<std::string>& w;
    size_t i = 0;
    std::string error;
    const std::set<uint8_t>* stations = nullptr;  // the simulated stations, when known

    // A station address of the simulation.
    bool Station(long& out) {
        if (!Long(out, 0, 255)) return false;
        if (stations && !stations->count(static_cast<uint8_t>(out)))
            return Fail("there is no station " + std::to_string(out) + " in the simulation" + Known());
        return true;
    }
    std::string Known() const {
        std::string list;
        for (const uint8_t s : *stations) list += (list.empty() ? " (stations: " : ", ") + std::to_string(s);
        return list.empty() ? " (no stations)" : list + ")";
    }

    bool More() const { return i < w.size(); }
    std::string Peek() const { return More() ? w[i] : std::string(); }
    bool Word(std::string& out) {
        if (!More()) return Fail("a word is missing");
        out = w[i++];
        return true;
    }
    bool Long(long& out, long lo, long hi) {
        if (!More()) return Fail("a number is missing");
        if (!Int(w[i], out) || out < lo || out > hi)
            return Fail("\"" + w[i] + "\" is not a number from " + std::to_string(lo) + " to " + std::to_string(hi));
        ++i;
        return true;
    }
    bool Double(double& out) {
        if (!More()) return Fail("a value is missing");
        if (!Real(w[i], out)) return Fail("\"" + w[i] + "\" is not a number");
        ++i;
        return true;
    }
    bool Hex(Bytes& out) {
        if (!More()) return Fail("hex bytes are missing");
        if (!ParseHex(w[i], out)) return Fail("\"" + w[i] + "\" is not hex bytes");
        ++i;
        return true;
    }
    bool Fail(const std::string& text) {
        if (error.empty()) error = text;
        return false;
    }
};

bool ReportOf(Words& in, Report& report) {
    std::string kind;
    if (!in.Word(kind)) return false;
    long code = 0;
    if (kind == "h") report.kind = ReportKind::Active;
    else if (kind == "x") report.kind = ReportKind::ControlError;
    else if (kind == "e") {
        report.kind = ReportKind::Error;
        if (!in.Long(code, 0, 255)) return false;
    } else if (kind == "q") {
        report.kind = ReportKind::CallCode;
        if (!in.Long(code, 0, 0xFFFFFFFFL)) return false;
    } else {
        return in.Fail("report kind must be h, x, e CODE or q CODE");
    }
    report.code = static_cast<uint32_t>(code);
    return true;
}

bool CompileSet(Words& in, bool add, SimCommand& out) {
    long station = 0;
    std::string what;
    if (!in.Station(station) || !in.Word(what)) return false;
    const auto s = static_cast<uint8_t>(station);
    long n = 0;
    double v = 0;
    if (add) {
        if (what != "counter" && what != "ai-raw") return in.Fail("add works on counter and ai-raw");
        if (!in.Long(n, 1, what == "counter" ? 48 : 64) || !in.Double(v)) return false;
        const int index = static_cast<int>(n);
        const long delta = static_cast<long>(v);
        if (what == "counter")
            out = [s, index, delta](Simulator& sim) {
                uint16_t raw = 0;
                if (sim.Counter(s, index, raw)) sim.SetCounter(s, index, static_cast<uint16_t>(raw + delta));
            };
        else
            out = [s, index, delta](Simulator& sim) { sim.AddAnalogRaw(s, index, static_cast<int>(delta)); };
        return true;
    }
    if (what == "bi" || what == "ai-raw" || what == "ai" || what == "counter" || what == "mi" || what == "const") {
        const long limit = what == "bi" ? 96 : what == "counter" ? 48 : what == "mi" ? 100 : what == "const" ? 8 : 64;
        if (!in.Long(n, 1, limit) || !in.Double(v)) return false;
        const int i = static_cast<int>(n);
        if (what == "bi") out = [s, i, v](Simulator& sim) { sim.SetBinaryIn(s, i, v != 0); };
        else if (what == "ai-raw") out = [s, i, v](Simulator& sim) { sim.SetAnalogRaw(s, i, static_cast<uint16_t>(v)); };
        else if (what == "ai") out = [s, i, v](Simulator& sim) { sim.SetAnalogValue(s, i, v); };
        else if (what == "counter") out = [s, i, v](Simulator& sim) { sim.SetCounter(s, i, static_cast<uint16_t>(v)); };
        else if (what == "mi") out = [s, i, v](Simulator& sim) { sim.SetMemoryIn(s, i, v); };
        else out = [s, i, v](Simulator& sim) { sim.SetConstant(s, i, v); };
        return true;
    }
    if (what == "mem") {
        Bytes bytes, more;
        if (!in.Long(n, 0, 0xFFFF)) return false;
        while (in.More()) {
            if (!in.Hex(more)) return false;
            bytes += more;
        }
        const auto address = static_cast<uint16_t>(n);
        out = [s, address, bytes](Simulator& sim) { sim.SetMemory(s, address, bytes); };
        return true;
    }
    if (what == "block") {
        long item = 0;
        if (!in.Long(n, 1, 1000) || !in.Long(item, 1, 255) || !in.Double(v)) return false;
        out = [s, n, item, v](Simulator& sim) {
            sim.SetBlockItem(s, static_cast<size_t>(n), static_cast<size_t>(item), v);
        };
        return true;
    }
    if (what == "qq") {
        long d = 0, b = 0, a = 0;
        std::string type;
        if (!in.Long(d, 0, 255) || !in.Long(b, 0, 255) || !in.Long(a, 0, 255) || !in.Word(type)) return false;
        const auto D = static_cast<uint8_t>(d), B = static_cast<uint8_t>(b), A = static_cast<uint8_t>(a);
        if (type == "invalid") {
            out = [s, D, B, A](Simulator& sim) { sim.SetQqInvalid(s, D, B, A); };
        } else if (type == "int") {
            long value = 0;
            if (!in.Long(value, INT32_MIN, 0xFFFFFFFFL)) return false;
            out = [s, D, B, A, value](Simulator& sim) { sim.SetQqLong(s, D, B, A, static_cast<int32_t>(value)); };
        } else if (type == "real") {
            if (!in.Double(v)) return false;
            out = [s, D, B, A, v](Simulator& sim) { sim.SetQqReal(s, D, B, A, static_cast<float>(v)); };
        } else if (type == "text") {
            std::string text;
            if (!in.Word(text)) return false;
            out = [s, D, B, A, text](Simulator& sim) { sim.SetQqText(s, D, B, A, text); };
        } else if (type == "hex") {
            Bytes bytes;
            if (!in.Hex(bytes)) return false;
            if (bytes.size() != 4) return in.Fail("a QQ value has 4 bytes");
            const std::array<uint8_t, 4> value = {Byte(bytes[0]), Byte(bytes[1]), Byte(bytes[2]), Byte(bytes[3])};
            out = [s, D, B, A, value](Simulator& sim) { sim.SetQq(s, D, B, A, value); };
        } else {
            return in.Fail("a QQ value is int, real, text, hex or invalid");
        }
        return true;
    }
    if (what == "sample") {
        long table = 0, row = 0, state = 0;
        std::array<int, 6> dt{};
        std::array<double, 8> values{};
        if (!in.Long(table, 1, 3) || !in.Long(row, 1, 528)) return false;
        for (int& x : dt) {
            long t = 0;
            if (!in.Long(t, 0, 9999)) return false;
            x = static_cast<int>(t);
        }
        if (!in.Long(state, 0, 255)) return false;
        for (double& x : values)
            if (!in.Double(x)) return false;
        out = [s, table, row, dt, state, values](Simulator& sim) {
            sim.SetSampleRow(s, static_cast<int>(table), static_cast<int>(row), dt, static_cast<uint8_t>(state), values);
        };
        return true;
    }
    if (what == "history") {
        long record = 0, word = 0, seconds = 0;
        if (!in.Long(record, 0, 49999) || !in.Long(word, 0, 0xFFFF) || !in.Long(seconds, 0, 0xFFFFFFFFL) ||
            !in.Double(v))
            return false;
        out = [s, record, word, seconds, v](Simulator& sim) {
            sim.SetHistoryRecord(s, static_cast<uint32_t>(record), static_cast<uint16_t>(word),
                                 static_cast<uint32_t>(seconds), static_cast<float>(v));
        };
        return true;
    }
    return in.Fail("unknown station value \"" + what + "\"");
}

// history S append COUNT SECONDS STEP VALUE [WORD] | top N | user U N
bool CompileHistory(Words& in, SimCommand& out) {
    long station = 0;
    std::string what;
    if (!in.Station(station) || !in.Word(what)) return false;
    const auto s = static_cast<uint8_t>(station);
    if (what == "append") {
        long count = 0, seconds = 0, step = 0, word = 0;
        double value = 0;
        if (!in.Long(count, 1, 1000000) || !in.Long(seconds, 0, 0xFFFFFFFFL) || !in.Long(step, 0, 0xFFFFFFFFL) ||
            !in.Double(value))
            return false;
        if (in.More() && !in.Long(word, 0, 0xFFFF)) return false;
        out = [s, count, seconds, step, value, word](Simulator& sim) {
            sim.AppendHistory(s, static_cast<uint16_t>(word), static_cast<uint32_t>(seconds), static_cast<float>(value),
                              static_cast<uint32_t>(count), static_cast<uint32_t>(step));
        };
        return true;
    }
    long n = 0;
    if (what == "top") {
        if (!in.Long(n, 0, 0xFFFFFFFFL)) return false;
        out = [s, n](Simulator& sim) { sim.SetHistoryTop(s, static_cast<uint32_t>(n)); };
        return true;
    }
    if (what == "user") {
        long user = 0;
        if (!in.Long(user, 1, kHistoryUsers) || !in.Long(n, 0, 0xFFFFFFFFL)) return false;
        out = [s, user, n](Simulator& sim) { sim.SetHistoryUserPos(s, static_cast<int>(user), static_cast<uint32_t>(n)); };
        return true;
    }
    return in.Fail("history takes append, top or user");
}

bool CompileFault(Words& in, SimCommand& out) {
    Fault f;
    bool any = false;
    while (in.More()) {
        std::string word;
        in.Word(word);
        long n = 0;
        if (word == "station") {
            if (!in.Station(n)) return false;
            f.station = static_cast<uint8_t>(n);
        } else if (word == "count") {
            if (!in.Long(n, 1, 1000000)) return false;
            f.count = static_cast<int>(n);
        } else if (word == "always") {
            f.count = -1;
        } else if (word == "silence") {
            f.silence = any = true;
        } else if (word == "badcheck") {
            f.badCheck = any = true;
        } else if (word == "nocarrier") {
            f.dropCarrier = any = true;
        } else if (word == "garbage") {
            if (!in.Hex(f.garbageBefore)) return false;
            any = true;
        } else if (word == "after") {
            if (!in.Hex(f.garbageAfter)) return false;
            any = true;
        } else if (word == "address") {
            if (!in.Long(n, 0, 255)) return false;
            f.wrongAddress = static_cast<int>(n);
            any = true;
        } else if (word == "delay") {
            if (!in.Long(n, 0, 3600000)) return false;
            f.delayMs = static_cast<int>(n);
            any = true;
        } else if (word == "truncate") {
            if (!in.Long(n, 0, 1000)) return false;
            f.truncate = static_cast<int>(n);
            any = true;
        } else if (word == "flip" || word == "drop" || word == "double") {
            if (!in.Long(n, 0, 8 * 1000)) return false;
            (word == "flip" ? f.flipBit : word == "drop" ? f.dropByte : f.doubleByte) = static_cast<int>(n);
            any = true;
        } else {
            return in.Fail("unknown fault \"" + word + "\"");
        }
    }
    if (!any) return in.Fail("the fault names no fault");
    out = [f](Simulator& sim) { sim.InjectFault(f); };
    return true;
}

bool Compile(Words& in, SimCommand& out) {
    std::string verb;
    if (!in.Word(verb)) return false;
    if (verb == "set" || verb == "add") {
        if (!CompileSet(in, verb == "add", out)) return false;
    } else if (verb == "history") {
        if (!CompileHistory(in, out)) return false;
    } else if (verb == "number") {
        std::string number, how = "connect";
        if (!in.Word(number)) return false;
        if (in.More()) in.Word(how);
        if (how != "connect" && how != "busy") return in.Fail("a number connects or is busy");
        const bool busy = how == "busy";
        out = [number, busy](Simulator& sim) { sim.AddNumber(number, busy); };
    } else if (verb == "ring") {
        long count = 1;
        if (in.More() && !in.Long(count, 1, 1000)) return false;
        out = [count](Simulator& sim) { sim.Ring(static_cast<int>(count)); };
    } else if (verb == "call") {
        long station = 0, rings = 1;
        Report report;
        if (!in.Station(station)) return false;
        if (in.More() && !in.Long(rings, 1, 1000)) return false;
        if (in.More() && !ReportOf(in, report)) return false;
        out = [station, rings, report](Simulator& sim) {
            sim.Call(static_cast<uint8_t>(station), static_cast<int>(rings), report);
        };
    } else if (verb == "report") {
        long station = 0;
        Report report;
        if (!in.Station(station) || !ReportOf(in, report)) return false;
        out = [station, report](Simulator& sim) { sim.SendReport(static_cast<uint8_t>(station), report); };
    } else if (verb == "nocarrier") {
        out = [](Simulator& sim) { sim.DropCarrier(); };
    } else if (verb == "fault") {
        if (!CompileFault(in, out)) return false;
    } else if (verb == "clear-faults") {
        out = [](Simulator& sim) { sim.ClearFaults(); };
    } else if (verb == "send") {
        Bytes bytes, more;
        while (in.More()) {
            if (!in.Hex(more)) return false;
            bytes += more;
        }
        out = [bytes](Simulator& sim) { sim.SendRaw(bytes); };
    } else {
        return in.Fail("unknown command \"" + verb + "\"");
    }
    if (in.More()) return in.Fail("unexpected \"" + in.Peek() + "\"");
    return true;
}

}  // namespace

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') quoted = false;
            else if (c == '\\' && i + 3 < line.size() && line[i + 1] == 'x') {
                Bytes b;
                if (ParseHex(line.substr(i + 2, 2), b) && b.size() == 1) {
                    word += b;
                    i += 3;
                } else {
                    word += c;
                }
            } else {
                word += c;
            }
            continue;
        }
        if (c == '#') break;
        if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

bool ParseScenario(const std::string& text, std::vector<ScenarioLine>& lines, std::string& error,
                   const std::set<uint8_t>* stations) {
    std::istringstream input(text);
    std::string line;
    int number = 0;
    while (std::getline(input, line)) {
        ++number;
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty()) continue;
        Words in{words, 0, {}, stations};
        ScenarioLine out;
        out.text = line;
        if (words[0] == "at" || words[0] == "every") {
            in.i = 1;
            double seconds = 0;
            if (!in.Double(seconds) || seconds < 0 || (words[0] == "every" && seconds <= 0)) {
                error = "line " + std::to_string(number) + ": " + (in.error.empty() ? "bad time" : in.error);
                return false;
            }
            (words[0] == "at" ? out.at : out.every) = seconds;
            if (words[0] == "every") out.at = seconds;
        }
        if (!Compile(in, out.command)) {
            error = "line " + std::to_string(number) + ": " + in.error;
            return false;
        }
        lines.push_back(std::move(out));
    }
    return true;
}

}  // namespace zksim
