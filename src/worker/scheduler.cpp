#include "worker/scheduler.h"

#include <string>

#include "base/format.h"
#include "base/texts.h"
#include "diag/log.h"
#include "host/instance.h"
#include "host/records.h"
#include "line/line.h"
#include "protocol/encoder.h"
#include "protocol/encodings.h"
#include "protocol/framing.h"
#include "worker/pass.h"

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
    return ctx.RingStation == station && ctx.RingBlock == block && ctx.RingItem == item;
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
    WriteLog(ctx, "prstynek", Fmt("request refused by the encoder, dropped: station %d kind %d", station,
                                  static_cast<int>(kind)));
    if (s) ++s->ErrorReportCount;
    RemoveRequest(queue, node);
}

// State 0: choose the next request, encode it and send it.
void Choose(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    Str255 message;

    if (!ctx.HoldPolling.load()) {
        ctx.WriteChosen = false;
        ctx.ReadChosen = false;

        // The host's writes first.
        if (RequestNode* node = FirstAwake(ctx, ctx.WriteQueue)) {
            if (node->Kind == kKindChannelWrite)
                ShowEvent(rec, NameLine(ctx, node->Station, text::kQqWrite, 93,
                                        BytesToHex(node->Data.view()) + ")"));
            message = CodeMess(ctx, *node);
            if (message.empty()) {
                DropRefusedRequest(rec, ctx.WriteQueue, node);
            } else {
                CountRequest(ctx, node->Station);
                ctx.WriteChosen = true;
                WriteLog(ctx, "prstynek", "station NOT sleep -> lets go / priority");
            }
        }

        // Then the host's reads, compacted.
        if (!ctx.WriteChosen && ctx.ReadQueue.Head) {
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
                if (node->Kind == kKindChannelRead)
                    ShowEvent(rec, NameLine(ctx, node->Station, text::kQqRead, 93,
                                            FormatReal(1, 0, static_cast<double>(node->Data.size() / 3)) + "x)"));
                message = CodeMess(ctx, *node);
                if (message.empty()) {
                    DropRefusedRequest(rec, ctx.ReadQueue, node);
                } else {
                    CountRequest(ctx, node->Station);
                    ctx.ReadChosen = true;
                    WriteLog(ctx, "prstynek", "station NOT sleep -> lets go");
                }
            }
        }

        // Then the ring, past the sleeping stations.
        if (!ctx.WriteChosen && !ctx.ReadChosen && ctx.PrstynekRun) {
            WriteLog(ctx, "prstynek", "NOT trans-queue -> lets read data");
            const std::uint16_t station = ctx.RingStation, block = ctx.RingBlock, item = ctx.RingItem;
            const std::size_t limit = RingLength(ctx);
            bool fullCircle = false;
            for (std::size_t steps = 0; Sleeps(ctx, ctx.RingStation);) {
                AdvanceRing(ctx);
                if (SamePosition(ctx, station, block, item) || ++steps > limit) {
                    fullCircle = true;
                    break;
                }
            }
            if (fullCircle) {
                if (ctx.FullSleepLeft.load() == 0.0) ctx.FullSleepLeft = ctx.SLEEP_TIME;
                WriteLog(ctx, "prstynek", "all stations sleep -> do nothing");
            } else {
                RequestNode ring;
                ring.Station = static_cast<std::uint8_t>(ctx.RingStation);
                ring.Kind = RingKind(ctx.RingBlock);
                ring.Word = ctx.RingItem;
                message = CodeMess(ctx, ring);
                CountRequest(ctx, ctx.RingStation);
            }
        }
    }

    if (!message.empty()) {
        WriteLog(ctx, "prstynek", "transmit now");
        ctx.TxMessage = message;
        ctx.LastTxMessage = message;
        SendText(ctx.Line, ctx.TxState, message.view(), 1);
        ctx.SentCount = ctx.SentCount.load() + 1.0;
        HexDumpLog(ctx, "Transmit Message", message.view());
        ctx.Outstanding = true;
        ctx.SinceTransmit = 0.0;
        const RequestNode* node = ctx.WriteChosen && ctx.WriteQueue.Head  ? ctx.WriteQueue.Head
                                  : ctx.ReadChosen && ctx.ReadQueue.Head ? ctx.ReadQueue.Head
                                                                          : nullptr;
        if (node) {
            ctx.OutStation = node->Station;
            ctx.OutKind = static_cast<std::uint8_t>(node->Kind & 0xFF);
            if (StationRecord* s = StationAt(ctx, node->Station)) s->AwaitingAnswer = true;
        } else if (!ctx.WriteChosen && !ctx.ReadChosen) {
            ctx.OutStation = static_cast<std::uint8_t>(ctx.RingStation);
            ctx.OutKind = static_cast<std::uint8_t>(ctx.RingBlock);
        } else {
            ctx.OutStation = 0;
            ctx.OutKind = 0;
        }
    } else {
        ctx.TxState = 2;
        ctx.Outstanding = false;
    }

    if (!ctx.WriteChosen && !ctx.ReadChosen) AdvanceRing(ctx);
}

// State 1: wait until the request has left the port.
void Sending(DriverContext& ctx) {
    if (TransmitDone(ctx.Line, ctx.TxState.load())) {
        if (ctx.BEEP.load()) ctx.BeepRequested = 1000;
        ctx.TxState = 2;
        WriteLog(ctx, "TRANSMIT", "END");
        ctx.PrefixWindow.clear();
        ctx.RxFrame.clear();
        // The port's read needs no cancelling here: the worker reads only what the pump took.
    }
    if (ctx.SinceTransmit.load() > ctx.ANSWER_TIME) ctx.TxState = 255;
}

// State 2: feed the receive framing; an answer or the answer time settles the request.
void Receiving(DriverContext& ctx) {
    // A report of another station asked for its acknowledgement while this request waited: the
    // pause and the acknowledgement go first, and the request, still first in its queue, is
    // sent again after them.
    if (ctx.AckPending && ctx.Outstanding) {
        ctx.Outstanding = false;
        if (StationRecord* s = StationAt(ctx, ctx.OutStation.load())) s->AwaitingAnswer = false;
        ctx.TxState = 3;
        ctx.MsTimers[1] = 0.0;
        return;
    }
    bool foreign = false;
    const bool stored = ReceiveDATA(ctx, &foreign);
    if (stored && foreign) {
        // Not the answer: the request goes on waiting for its own, within its answer time.
    } else if (stored) {
        if (ctx.BEEP.load()) ctx.BeepRequested = 2000;
        const bool sent = ctx.Outstanding;
        ctx.SinceAnswer = 0.0;
        ctx.Outstanding = false;
        ctx.TxState = 3;
        ctx.MsTimers[1] = 0.0;
        // A frame that arrives while nothing was sent (the hold after an answered call)
        // answers no queued request.
        if (sent) SettleRequest(ctx, Outcome::Answered);
    } else if (ctx.SinceTransmit.load() > ctx.ANSWER_TIME && ctx.Outstanding) {
        ctx.TxState = 255;
        ctx.ErrorTotal = ctx.ErrorTotal.load() + 1.0;
        SettleRequest(ctx, Outcome::TimedOut);
    } else if (!ctx.Outstanding) {
        ctx.TxState = 0;
    }
}

// State 3: the pause after an answer, then a pending acknowledgement.
void Pause(DriverContext& ctx) {
    if (ctx.MsTimers[1] > ctx.SILENCE_WAIT) {
        if (ctx.AckPending) {
            SendText(ctx.Line, ctx.TxState, ctx.AckText.view(), 5);
            ctx.AckPending = false;
            ctx.AckText.clear();
        } else {
            ctx.TxState = 0;
        }
    }
}

}  // namespace

std::int32_t RingKind(std::uint16_t block) {
    static constexpr std::int32_t kKinds[] = {0, 0, 1, 2, 3, 6};
    return block < 6 ? kKinds[block] : 0;
}

void AdvanceRing(DriverContext& ctx) {
    if (RingKind(ctx.RingBlock) == 6) {
        ++ctx.RingItem;
        const StationRecord* s = StationAt(ctx, ctx.RingStation);
        if (s && ctx.RingItem <= s->NumMemoryIn && !s->WholeBlockRead) return;  // the next entry
        ctx.RingItem = 1;
    }
    ++ctx.RingBlock;
    if (ctx.RingBlock > 5) {
        ctx.RingBlock = 1;
        ++ctx.RingStation;
        if (ctx.RingStation > ctx.StationCount || ctx.RingStation > kMaxStations) ctx.RingStation = 1;
    }
}

void CompactReadQueue(DriverContext& ctx) {
    if (ctx.MergeLimit < 59 || ctx.MergeLimit > 61) ctx.MergeLimit = 60;
    static constexpr std::string_view kZeroItem("\0\0\0", 3);
    RequestQueue& q = ctx.ReadQueue;
    for (RequestNode* n = q.Head; n && n->Next; n = n->Next) {
        if (n->Kind != kKindChannelRead) continue;
        std::int32_t count = static_cast<std::int32_t>(n->Data.size() / 3);
        while (count < ctx.MergeLimit && n->Next) {
            RequestNode* m = n->Next;
            if (m->Station != n->Station || m->Kind != kKindChannelRead || m->Data.size() != 3) break;
            if (n->Data.size() < 3 || n->Data.view().substr(0, 3) == kZeroItem || m->Data.view() == kZeroItem) break;
            MergeRequests(q, n, m);
            ++count;
        }
        if (++ctx.MergeLimit > 61) ctx.MergeLimit = 59;
    }
}

void SettleRequest(DriverContext& ctx, Outcome outcome) {
    RequestQueue* q = nullptr;
    if (ctx.WriteQueue.Head && ctx.WriteChosen) q = &ctx.WriteQueue;
    else if (ctx.ReadQueue.Head && ctx.ReadChosen) q = &ctx.ReadQueue;
    if (!q) return;  // a ring request
    RequestNode* node = q->Head;
    StationRecord* s = StationAt(ctx, node->Station);
    const bool hasNumber = s && !s->PhoneNumber.empty();
    if (s) s->AwaitingAnswer = false;

    if (outcome == Outcome::Answered) {
        if (!hasNumber) {
            RemoveRequest(*q, node);
        } else if (s->RetryCount < ctx.NUM_MORVEL_ERROR) {
            if (s->Unreachable) RotateQueue(*q);
            else RemoveRequest(*q, node);
        } else {
            s->RetryCount = 0;
            s->Unreachable = true;
            RemoveRequest(*q, node);
        }
        return;
    }

    if (s && s->RetryCount < 255) ++s->RetryCount;
    if (!hasNumber || s->RetryCount < ctx.NUM_MORVEL_ERROR) {
        RotateQueue(*q);  // nothing happens to an only node: it is sent again
    } else if (!ctx.STAY_IN_QUEUE_ON_TIMEOUT) {
        s->Unreachable = true;
        s->RetryCount = 0;
        RemoveRequest(*q, node);
    }
}

void ReportTimeout(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    if (StationRecord* s = StationAt(ctx, ctx.OutStation.load())) {
        Str255 line(s->Name.view());
        line += text::kTimeoutReport;
        line += DateTimeText(ctx.Clock.now());
        line += ")";
        ShowEvent(rec, line);
        if (s->ErrorCount < 0xFFFF) ++s->ErrorCount;
        ++s->TimeoutCount;
        if (s->ErrorCount >= ctx.SLEEP_COUNT && s->SleepLeft == 0.0 && ctx.SLEEP_TIME != 0.0) {
            s->SleepLeft = ctx.SLEEP_TIME;
            Str255 sleep(s->Name.view());
            sleep += text::kSleepStart;
            ShowEvent(rec, sleep);
        }
    }
    PurgeLine(ctx.Line);
    ctx.TxState = 0;
}

void ScheduleStep(DriverRecord& rec) {
    DriverContext& ctx = *rec.Context;
    if (ctx.FullSleepLeft.load() != 0.0) return;
    switch (ctx.TxState.load()) {
        case 0: Choose(rec); break;
        case 1: Sending(ctx); break;
        case 2: Receiving(ctx); break;
        case 3: Pause(ctx); break;
        case 5:
            if (TransmitDone(ctx.Line, ctx.TxState.load())) ctx.TxState = 0;
            break;
        case 255: ReportTimeout(rec); break;
        default: ctx.TxState = 0; break;
    }
}

}  // namespace zk
