#include "worker/scheduler.h"

#include <string>

#include "base/format.h"
#include "base/texts.h"
#include "diag/log.h"
#include "host/records.h"
#include "line/line.h"
#include "protocol/encodings.h"
#include "worker/pass.h"
#include "worker/steps.h"

namespace zk {

namespace {

// The record of station index n (1..100), defined or not; nullptr outside that range.
StationRecord* StationAt(DriverContext& ctx, int n) {
    if (n < 1 || n > kMaxStations) return nullptr;
    return ctx.Stations[static_cast<std::size_t>(n)].get();
}

bool Sleeps(DriverContext& ctx, int n) {
    const StationRecord* s = StationAt(ctx, n);
    return s && s->SleepLeft > 0.0;
}

std::string_view NameOf(DriverContext& ctx, int n) {
    const StationRecord* s = StationAt(ctx, n);
    return s ? s->Name.view() : std::string_view();
}

void CountRequest(DriverContext& ctx, int n) {
    if (StationRecord* s = StationAt(ctx, n)) ++s->RequestCount;
}

// Rotates sleeping stations' requests behind the others. Returns the first node when its
// station is awake; nullptr when the queue is empty or every station in it sleeps (the
// remembered first node came round again).
RequestNode* FirstAwake(DriverContext& ctx, RequestQueue& queue) {
    RequestNode* const first = queue.Head;
    if (!first) return nullptr;
    while (queue.Head && Sleeps(ctx, queue.Head->Station)) {
        RotateQueue(queue);
        if (!queue.Head || queue.Head == first) return nullptr;
    }
    return queue.Head;
}

// "name - label" within `limit` characters, then the rest.
Str255 NameLine(DriverContext& ctx, int station, std::string_view label, std::size_t limit, std::string_view rest) {
    Str255 head(NameOf(ctx, station));
    head += label;
    Str255 line(Cut(head.view(), limit));
    line += rest;
    return line;
}

// Positions on the ring from any position back to itself: block 0 once, blocks 1..4 and the
// memory-input entries of every station.
std::size_t RingLength(DriverContext& ctx) {
    std::size_t length = 1;
    const int stations = ctx.StationCount > 0 ? ctx.StationCount : 1;
    for (int n = 1; n <= stations; ++n) {
        const StationRecord* s = StationAt(ctx, n);
        const std::size_t entries = s && !s->WholeBlockRead && s->NumMemoryIn > 1 ? s->NumMemoryIn : 1;
        length += 4 + entries;
    }
    return length;
}

bool SamePosition(const DriverContext& ctx, std::uint16_t station, std::uint16_t block, std::uint16_t item) {
    return ctx.Scheduler.RingStation == station && ctx.Scheduler.RingBlock == block && ctx.Scheduler.RingItem == item;
}

// A queued request the encoder refuses (an entry outside 1..100, a kind the station has no
// points for, a station not defined, a frame over 255 bytes) would stay first for ever and
// hold up every request behind it: it is dropped, shown and counted as an error of its station.
void DropRefusedRequest(DriverRecord& rec, RequestQueue& queue, RequestNode* node) {
    DriverContext& ctx = *rec.Context;
    const int station = node->Station;
    const std::int32_t kind = node->Kind;
    Str255 line;
    StationRecord* s = DefinedStation(ctx, station);
    if (s) line.assign(s->Name.view());
    else line.assign(std::string(text::kStationNumber) + std::to_string(station));
    line += text::kRequestRefused;
    line += std::to_string(kind);
    line += ")";
    ShowEvent(rec, line);
    WriteLog(ctx.Log, "prstynek", Fmt("request refused by the encoder, dropped: station %d kind %d", station,
                                  static_cast<int>(kind)));
    if (s) ++s->ErrorReportCount;
    RemoveRequest(queue, node);
}

// Choose: the next request, encode it and send it.
void Choose(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    Str255 message;

    if (!ctx.Scheduler.HoldPolling.load()) {
        ctx.Scheduler.WriteChosen = false;
        ctx.Scheduler.ReadChosen = false;

        // The host's writes first.
        if (RequestNode* node = FirstAwake(ctx, ctx.WriteQueue)) {
            if (node->Kind == ReqChannelWrite)
                ShowEvent(rec, NameLine(ctx, node->Station, text::kQqWrite, 93,
                                        BytesToHex(node->Data.view()) + ")"));
            message = EncodeRequest(ctx, *node);
            if (message.empty()) {
                DropRefusedRequest(rec, ctx.WriteQueue, node);
            } else {
                CountRequest(ctx, node->Station);
                ctx.Scheduler.WriteChosen = true;
                WriteLog(ctx.Log, "prstynek", "station NOT sleep -> lets go / priority");
            }
        }

        // Then the host's reads, compacted.
        if (!ctx.Scheduler.WriteChosen && ctx.ReadQueue.Head) {
            const std::size_t before = CountRequests(ctx.ReadQueue);
            if (before > 1) {
                CompactReadQueue(ctx);
                const std::size_t after = CountRequests(ctx.ReadQueue);
                if (after < before && after > 0) {
                    std::string line(text::kQueueCompacted);
                    line += FormatReal(1, 0, static_cast<double>(before));
                    line += "->";
                    line += FormatReal(1, 0, static_cast<double>(after));
                    line += " )";
                    ShowEvent(rec, line);
                }
            }
            if (RequestNode* node = FirstAwake(ctx, ctx.ReadQueue)) {
                if (node->Kind == ReqChannelRead)
                    ShowEvent(rec, NameLine(ctx, node->Station, text::kQqRead, 93,
                                            FormatReal(1, 0, static_cast<double>(node->Data.size() / 3)) + "x)"));
                message = EncodeRequest(ctx, *node);
                if (message.empty()) {
                    DropRefusedRequest(rec, ctx.ReadQueue, node);
                } else {
                    CountRequest(ctx, node->Station);
                    ctx.Scheduler.ReadChosen = true;
                    WriteLog(ctx.Log, "prstynek", "station NOT sleep -> lets go");
                }
            }
        }

        // Then the ring, past the sleeping stations.
        if (!ctx.Scheduler.WriteChosen && !ctx.Scheduler.ReadChosen && ctx.Global.PrstynekRun) {
            WriteLog(ctx.Log, "prstynek", "NOT trans-queue -> lets read data");
            const std::uint16_t station = ctx.Scheduler.RingStation, block = ctx.Scheduler.RingBlock, item = ctx.Scheduler.RingItem;
            const std::size_t limit = RingLength(ctx);
            bool fullCircle = false;
            for (std::size_t steps = 0; Sleeps(ctx, ctx.Scheduler.RingStation);) {
                AdvanceRing(ctx);
                if (SamePosition(ctx, station, block, item) || ++steps > limit) {
                    fullCircle = true;
                    break;
                }
            }
            if (fullCircle) {
                if (ctx.Scheduler.FullSleepLeft.load() == 0.0) ctx.Scheduler.FullSleepLeft = ctx.Global.SLEEP_TIME;
                WriteLog(ctx.Log, "prstynek", "all stations sleep -> do nothing");
            } else {
                RequestNode ring;
                ring.Station = static_cast<std::uint8_t>(ctx.Scheduler.RingStation);
                ring.Kind = RingKind(ctx.Scheduler.RingBlock);
                ring.Word = ctx.Scheduler.RingItem;
                message = EncodeRequest(ctx, ring);
                CountRequest(ctx, ctx.Scheduler.RingStation);
            }
        }
    }

    if (!message.empty()) {
        WriteLog(ctx.Log, "prstynek", "transmit now");
        ctx.Scheduler.TxMessage = message;
        ctx.Framing.LastTxMessage = message;
        SendText(ctx.Line, ctx.Scheduler.TxState, message.view(), TxState::Sending);
        ctx.SentCount = ctx.SentCount.load() + 1.0;
        HexDumpLog(ctx.Log, "Transmit Message", message.view());
        ctx.Scheduler.Outstanding = true;
        ctx.SinceTransmit = 0.0;
        const RequestNode* node = ctx.Scheduler.WriteChosen && ctx.WriteQueue.Head  ? ctx.WriteQueue.Head
                                  : ctx.Scheduler.ReadChosen && ctx.ReadQueue.Head ? ctx.ReadQueue.Head
                                                                          : nullptr;
        if (node) {
            ctx.Scheduler.OutStation = node->Station;
            ctx.Scheduler.OutKind = static_cast<std::uint8_t>(node->Kind & 0xFF);
            if (StationRecord* s = StationAt(ctx, node->Station)) s->AwaitingAnswer = true;
        } else if (!ctx.Scheduler.WriteChosen && !ctx.Scheduler.ReadChosen) {
            ctx.Scheduler.OutStation = static_cast<std::uint8_t>(ctx.Scheduler.RingStation);
            ctx.Scheduler.OutKind = static_cast<std::uint8_t>(ctx.Scheduler.RingBlock);
        } else {
            ctx.Scheduler.OutStation = 0;
            ctx.Scheduler.OutKind = 0;
        }
    } else {
        ctx.Scheduler.TxState = TxState::Receiving;
        ctx.Scheduler.Outstanding = false;
    }

    if (!ctx.Scheduler.WriteChosen && !ctx.Scheduler.ReadChosen) AdvanceRing(ctx);
}

// Sending: wait until the request has left the port.
void Sending(DriverContext& ctx) {
    if (TransmitDone(ctx.Line, ctx.Scheduler.TxState.load())) {
        if (ctx.Global.BEEP.load()) ctx.Scheduler.BeepRequested = 1000;
        ctx.Scheduler.TxState = TxState::Receiving;
        WriteLog(ctx.Log, "TRANSMIT", "END");
        ctx.Framing.PrefixWindow.clear();
        ctx.Framing.RxFrame.clear();
        // The port's read needs no cancelling here: the worker reads only what the pump took.
    }
    // A request that has not left the port within its answer time is settled as an answer
    // that did not come.
    if (ctx.SinceTransmit.load() > ctx.Global.ANSWER_TIME) {
        ctx.Scheduler.TxState = TxState::TimedOut;
        if (ctx.Scheduler.Outstanding) {
            ctx.ErrorTotal = ctx.ErrorTotal.load() + 1.0;
            SettleRequest(ctx, Outcome::TimedOut);
        }
    }
}

// Receiving: feed the receive framing; an answer or the answer time settles the request.
void Receiving(DriverContext& ctx) {
    // A report of another station asked for its acknowledgement while this request waited: the
    // pause and the acknowledgement go first, and then the request waits on for its own answer,
    // within its answer time. It is not sent again: the station may have taken it.
    if (ctx.Scheduler.AckPending && ctx.Scheduler.Outstanding) {
        ctx.Scheduler.TxState = TxState::Pause;
        ctx.Timers.Silence = 0.0;
        return;
    }
    bool foreign = false;
    const bool stored = ReceiveFrame(ctx, &foreign);
    if (stored && foreign) {
        // Not the answer: the request goes on waiting for its own, within its answer time.
    } else if (stored) {
        if (ctx.Global.BEEP.load()) ctx.Scheduler.BeepRequested = 2000;
        const bool sent = ctx.Scheduler.Outstanding;
        ctx.SinceAnswer = 0.0;
        ctx.Scheduler.Outstanding = false;
        ctx.Scheduler.TxState = TxState::Pause;
        ctx.Timers.Silence = 0.0;
        // A frame that arrives while nothing was sent (the hold after an answered call)
        // answers no queued request.
        if (sent) SettleRequest(ctx, Outcome::Answered);
    } else if (ctx.SinceTransmit.load() > ctx.Global.ANSWER_TIME && ctx.Scheduler.Outstanding) {
        ctx.Scheduler.TxState = TxState::TimedOut;
        ctx.ErrorTotal = ctx.ErrorTotal.load() + 1.0;
        SettleRequest(ctx, Outcome::TimedOut);
    } else if (!ctx.Scheduler.Outstanding) {
        ctx.Scheduler.TxState = TxState::Choose;
    }
}

// After the pause and its acknowledgement: back to the request still waiting for its answer,
// or on to the next choice.
TxState AfterPause(const DriverContext& ctx) {
    return ctx.Scheduler.Outstanding ? TxState::Receiving : TxState::Choose;
}

// Pause: the pause after an answer, then a pending acknowledgement.
void Pause(DriverContext& ctx) {
    if (ctx.Timers.Silence > ctx.Global.SILENCE_WAIT) {
        if (ctx.Scheduler.AckPending) {
            SendText(ctx.Line, ctx.Scheduler.TxState, ctx.Scheduler.AckText.view(), TxState::AckSent);
            ctx.Scheduler.AckPending = false;
            ctx.Scheduler.AckText.clear();
        } else {
            ctx.Scheduler.TxState = AfterPause(ctx);
        }
    }
}

}  // namespace

std::int32_t RingKind(std::uint16_t block) {
    static constexpr std::int32_t kKinds[] = {ReqBinaryInputs, ReqBinaryInputs, ReqAnalogArea,
                                              ReqCounters,     ReqCountersReset, ReqMemoryRead};
    return block < 6 ? kKinds[block] : 0;
}

void AdvanceRing(DriverContext& ctx) {
    if (RingKind(ctx.Scheduler.RingBlock) == 6) {
        ++ctx.Scheduler.RingItem;
        const StationRecord* s = StationAt(ctx, ctx.Scheduler.RingStation);
        if (s && ctx.Scheduler.RingItem <= s->NumMemoryIn && !s->WholeBlockRead) return;  // the next entry
        ctx.Scheduler.RingItem = 1;
    }
    ++ctx.Scheduler.RingBlock;
    if (ctx.Scheduler.RingBlock > 5) {
        ctx.Scheduler.RingBlock = 1;
        ++ctx.Scheduler.RingStation;
        if (ctx.Scheduler.RingStation > ctx.StationCount || ctx.Scheduler.RingStation > kMaxStations) ctx.Scheduler.RingStation = 1;
    }
}

void CompactReadQueue(DriverContext& ctx) {
    if (ctx.Scheduler.MergeLimit < 59 || ctx.Scheduler.MergeLimit > 61) ctx.Scheduler.MergeLimit = 60;
    static constexpr std::string_view kZeroItem("\0\0\0", 3);
    RequestQueue& q = ctx.ReadQueue;
    for (RequestNode* n = q.Head; n && n->Next; n = n->Next) {
        if (n->Kind != ReqChannelRead) continue;
        std::int32_t count = static_cast<std::int32_t>(n->Data.size() / 3);
        while (count < ctx.Scheduler.MergeLimit && n->Next) {
            RequestNode* m = n->Next;
            if (m->Station != n->Station || m->Kind != ReqChannelRead || m->Data.size() != 3) break;
            if (n->Data.size() < 3 || n->Data.view().substr(0, 3) == kZeroItem || m->Data.view() == kZeroItem) break;
            MergeRequests(q, n, m);
            ++count;
        }
        if (++ctx.Scheduler.MergeLimit > 61) ctx.Scheduler.MergeLimit = 59;
    }
}

void SettleRequest(DriverContext& ctx, Outcome outcome) {
    RequestQueue* q = nullptr;
    if (ctx.WriteQueue.Head && ctx.Scheduler.WriteChosen) q = &ctx.WriteQueue;
    else if (ctx.ReadQueue.Head && ctx.Scheduler.ReadChosen) q = &ctx.ReadQueue;
    if (!q) return;  // a ring request
    RequestNode* node = q->Head;
    StationRecord* s = StationAt(ctx, node->Station);
    const bool hasNumber = s && !s->PhoneNumber.empty();
    if (s) s->AwaitingAnswer = false;

    if (outcome == Outcome::Answered) {
        if (!hasNumber) {
            RemoveRequest(*q, node);
        } else if (s->RetryCount < ctx.Global.NUM_MORVEL_ERROR) {
            // The station took the request, whatever an earlier give-up marked: it is not
            // sent again.
            RemoveRequest(*q, node);
        } else {
            s->RetryCount = 0;
            s->Unreachable = true;
            RemoveRequest(*q, node);
        }
        return;
    }

    if (s && s->RetryCount < 255) ++s->RetryCount;
    if (!hasNumber || s->RetryCount < ctx.Global.NUM_MORVEL_ERROR) {
        RotateQueue(*q);  // nothing happens to an only node: it is sent again
    } else if (!ctx.Global.STAY_IN_QUEUE_ON_TIMEOUT) {
        s->Unreachable = true;
        s->RetryCount = 0;
        RemoveRequest(*q, node);
    }
}

void ReportTimeout(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    if (StationRecord* s = StationAt(ctx, ctx.Scheduler.OutStation.load())) {
        Str255 line(s->Name.view());
        line += text::kTimeoutReport;
        line += DateTimeText(ctx.Clock.now());
        line += ")";
        ShowEvent(rec, line);
        if (s->ErrorCount < 0xFFFF) ++s->ErrorCount;
        ++s->TimeoutCount;
        if (s->ErrorCount >= ctx.Global.SLEEP_COUNT && s->SleepLeft == 0.0 && ctx.Global.SLEEP_TIME != 0.0) {
            s->SleepLeft = ctx.Global.SLEEP_TIME;
            Str255 sleep(s->Name.view());
            sleep += text::kSleepStart;
            ShowEvent(rec, sleep);
        }
    }
    PurgeLine(ctx.Line);
    ctx.Scheduler.TxState = TxState::Choose;
}

void ScheduleStep(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    if (ctx.Scheduler.FullSleepLeft.load() != 0.0) return;
    switch (ctx.Scheduler.TxState.load()) {
        case TxState::Choose: Choose(rec); break;
        case TxState::Sending: Sending(ctx); break;
        case TxState::Receiving: Receiving(ctx); break;
        case TxState::Pause: Pause(ctx); break;
        case TxState::AckSent:
            if (TransmitDone(ctx.Line, ctx.Scheduler.TxState.load())) ctx.Scheduler.TxState = AfterPause(ctx);
            break;
        case TxState::TimedOut: ReportTimeout(rec); break;
        default: ctx.Scheduler.TxState = TxState::Choose; break;
    }
}

}  // namespace zk
