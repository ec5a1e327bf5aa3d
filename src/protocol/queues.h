// Request queues: the host's write and read requests waiting for the worker, and the received
// frames waiting for the decoder. Every function here expects the caller to hold the
// instance's lock (DriverContext::Lock); nothing in this file spins or sleeps.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

#include "base/shortstr.h"

namespace zk {

struct MemoryBlock;

// Request kinds: what a request asks of its station. The encoder turns each into the items
// of a frame (the letters in the comments); the host reads the kind being served on channel
// 491. Kinds 10..14 and unknown kinds go out as a frame without items.
enum RequestKind : std::int32_t {
    ReqBinaryInputs = 0,     // B: read the binary inputs
    ReqAnalogArea = 1,       // N: read the analog-input area
    ReqCounters = 2,         // C: read the counters
    ReqCountersReset = 3,    // C: read and reset the counters
    ReqBinaryOutputs = 4,    // b: write the binary outputs
    ReqMemoryWrite = 5,      // n: write one memory output
    ReqMemoryRead = 6,       // N: read the memory inputs (one, or all as one block)
    ReqAnalogMorvel = 7,     // A: read the analog inputs
    ReqConstantsRead = 8,    // K: read the constants
    ReqConstantsWrite = 9,   // k: write the constants (memory outputs 1..8)
    ReqChannelWrite = 15,    // QQ: write parameter-file channel items
    ReqChannelRead = 16,     // Qq: read parameter-file channel items
    ReqBlockRead = 17,       // N: read a memory block
    ReqBlockItemWrite = 18,  // n: write one element of a memory block
    // QN: rows of the memory-block table, by kind 1..3, from the first or the second table.
    ReqSamples1 = 72, ReqSamples2 = 76, ReqSamples3 = 80,
    ReqSamplesAlt1 = 136, ReqSamplesAlt2 = 140, ReqSamplesAlt3 = 144,
    ReqHistoryFirst = 240,   // QN: history reads, the high byte of the station address
    ReqHistoryLast = 247,
    ReqRestart = 255,        // b: the restart item
};

struct RequestNode {
    std::uint8_t Station = 0;          // 1..100
    std::int32_t Kind = 0;             // an 8-bit request kind
    std::uint16_t Word = 0;            // point index, block number or memory address, by kind
    Str255 Data;                       // address and value bytes, by kind
    const MemoryBlock* Key = nullptr;  // the memory block the request belongs to, or none
    RequestNode* Next = nullptr;
    RequestNode* Prev = nullptr;
};

// A doubly linked list of heap nodes, oldest first, with two indexes that keep the duplicate
// rule and the "is this address being read" question independent of the queue's length.
struct RequestQueue {
    RequestNode* Head = nullptr;
    RequestNode* Tail = nullptr;
    std::size_t Count = 0;
    // Number of queued nodes per equality key (station, kind, word, key, data of 15 and 16).
    std::unordered_map<std::string, std::uint32_t> EqualIndex;
    // Number of 3-byte groups per (station << 24 | address) over the kind-16 nodes.
    std::unordered_map<std::uint32_t, std::uint32_t> ReadIndex;
    // Number of queued nodes per request kind (low byte).
    std::uint32_t KindCount[256] = {};

    RequestQueue() = default;
    RequestQueue(const RequestQueue&) = delete;
    RequestQueue& operator=(const RequestQueue&) = delete;
    ~RequestQueue();
};

// Appends a request unless an equal one is queued behind the head (an equal head, the request
// being served, never stops an append); a memory-block element's write that meets an equal
// one hands it its data (the newer value). Returns true when a node was appended.
bool AppendRequest(RequestQueue& queue, std::uint8_t station, std::int32_t kind, std::uint16_t word,
                   std::string_view data, const MemoryBlock* key);
// Unlinks and frees the node; returns the queue's head (the cursor of the caller).
RequestNode* RemoveRequest(RequestQueue& queue, RequestNode* node);
void EmptyQueue(RequestQueue& queue);
std::size_t CountRequests(const RequestQueue& queue);
// Moves the head to the end; nothing happens with fewer than two nodes.
void RotateQueue(RequestQueue& queue);
// Appends `from`'s data to `into`'s data (cut at 255) and removes `from`.
void MergeRequests(RequestQueue& queue, RequestNode* into, RequestNode* from);
// True when a kind-16 node of the station carries the 3-byte address among its groups.
bool IsAddressQueued(const RequestQueue& queue, std::uint8_t station, const std::uint8_t address[3]);
// True when the queue holds a node of a kind in [low, high].
bool HasKindInRange(const RequestQueue& queue, std::int32_t low, std::int32_t high);

// A received frame with the request it answers.
struct ReceiveEntry {
    Str255 Request;  // the request sent last when the frame was stored (may be empty)
    Str255 Frame;    // from the first address byte through the check byte
    int Station = 0; // the station whose request waited for its answer then (0: none)
};

struct ReceiveQueue {
    std::deque<ReceiveEntry> Entries;
};

void InsertReceived(ReceiveQueue& queue, std::string_view frame, std::string_view request, int askedStation = 0);
// Removes the oldest entry into `out`; false when the queue is empty.
bool TakeReceived(ReceiveQueue& queue, ReceiveEntry& out);
void FreeReceiveQueue(ReceiveQueue& queue);

}  // namespace zk
