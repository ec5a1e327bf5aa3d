#include "protocol/queues.h"

#include <algorithm>
#include <cstring>

namespace zk {

namespace {

std::string EqualKey(std::uint8_t station, std::int32_t kind, std::uint16_t word, std::string_view data,
                     const MemoryBlock* key) {
    std::string k;
    k.reserve(16 + sizeof key + data.size());
    k.push_back(static_cast<char>(station));
    k.append(reinterpret_cast<const char*>(&kind), sizeof kind);
    k.append(reinterpret_cast<const char*>(&word), sizeof word);
    k.append(reinterpret_cast<const char*>(&key), sizeof key);
    if (kind == ReqChannelWrite || kind == ReqChannelRead) k.append(data);
    return k;
}

std::string EqualKey(const RequestNode& n) { return EqualKey(n.Station, n.Kind, n.Word, n.Data.view(), n.Key); }

std::uint32_t ReadKey(std::uint8_t station, const char* group) {
    return static_cast<std::uint32_t>(station) << 24 | static_cast<std::uint32_t>(static_cast<std::uint8_t>(group[0])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(group[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(group[2]));
}

void Decrement(auto& map, const auto& key) {
    const auto it = map.find(key);
    if (it == map.end()) return;
    if (--it->second == 0) map.erase(it);
}

void IndexNode(RequestQueue& q, const RequestNode& n) {
    ++q.EqualIndex[EqualKey(n)];
    ++q.KindCount[n.Kind & 0xFF];
    if (n.Kind == ReqChannelRead)
        for (std::size_t p = 0; p + 3 <= n.Data.size(); p += 3) ++q.ReadIndex[ReadKey(n.Station, n.Data.data + p)];
}

void UnindexNode(RequestQueue& q, const RequestNode& n) {
    Decrement(q.EqualIndex, EqualKey(n));
    --q.KindCount[n.Kind & 0xFF];
    if (n.Kind == ReqChannelRead)
        for (std::size_t p = 0; p + 3 <= n.Data.size(); p += 3) Decrement(q.ReadIndex, ReadKey(n.Station, n.Data.data + p));
}

void Unlink(RequestQueue& q, RequestNode* node) {
    if (node->Prev) node->Prev->Next = node->Next;
    else q.Head = node->Next;
    if (node->Next) node->Next->Prev = node->Prev;
    else q.Tail = node->Prev;
    node->Next = node->Prev = nullptr;
    --q.Count;
}

void LinkAtTail(RequestQueue& q, RequestNode* node) {
    node->Prev = q.Tail;
    node->Next = nullptr;
    if (q.Tail) q.Tail->Next = node;
    else q.Head = node;
    q.Tail = node;
    ++q.Count;
}

}  // namespace

RequestQueue::~RequestQueue() { EmptyQueue(*this); }

bool AppendRequest(RequestQueue& queue, std::uint8_t station, std::int32_t kind, std::uint16_t word,
                   std::string_view data, const MemoryBlock* key) {
    if (queue.Head) {
        const std::string k = EqualKey(station, kind, word, data, key);
        const auto it = queue.EqualIndex.find(k);
        std::uint32_t equal = it == queue.EqualIndex.end() ? 0 : it->second;
        if (equal > 0 && EqualKey(*queue.Head) == k) --equal;  // the head is being served
        if (equal > 0) {
            // A memory-block element's write carries the element's value: the waiting write
            // takes the newer one, so the value that goes out is the last one written.
            if (kind == ReqBlockItemWrite)
                for (RequestNode* n = queue.Tail; n && n != queue.Head; n = n->Prev)
                    if (EqualKey(*n) == k) {
                        n->Data.assign(data);
                        break;
                    }
            return false;
        }
    }
    auto* node = new RequestNode;
    node->Station = station;
    node->Kind = kind;
    node->Word = word;
    node->Data.assign(data);
    node->Key = key;
    LinkAtTail(queue, node);
    IndexNode(queue, *node);
    return true;
}

RequestNode* RemoveRequest(RequestQueue& queue, RequestNode* node) {
    if (!node) return queue.Head;
    UnindexNode(queue, *node);
    Unlink(queue, node);
    delete node;
    return queue.Head;
}

void EmptyQueue(RequestQueue& queue) {
    while (queue.Head) RemoveRequest(queue, queue.Head);
    queue.EqualIndex.clear();
    queue.ReadIndex.clear();
    std::fill(std::begin(queue.KindCount), std::end(queue.KindCount), 0u);
}

std::size_t CountRequests(const RequestQueue& queue) { return queue.Count; }

void RotateQueue(RequestQueue& queue) {
    if (!queue.Head || queue.Head == queue.Tail) return;
    RequestNode* head = queue.Head;
    Unlink(queue, head);
    LinkAtTail(queue, head);
}

void MergeRequests(RequestQueue& queue, RequestNode* into, RequestNode* from) {
    UnindexNode(queue, *into);
    into->Data.append(from->Data.view());
    IndexNode(queue, *into);
    RemoveRequest(queue, from);
}

bool IsAddressQueued(const RequestQueue& queue, std::uint8_t station, const std::uint8_t address[3]) {
    const char group[3] = {static_cast<char>(address[0]), static_cast<char>(address[1]), static_cast<char>(address[2])};
    return queue.ReadIndex.count(ReadKey(station, group)) != 0;
}

bool HasKindInRange(const RequestQueue& queue, std::int32_t low, std::int32_t high) {
    for (std::int32_t k = std::max(low, 0); k <= std::min(high, 255); ++k)
        if (queue.KindCount[k] != 0) return true;
    return false;
}

void InsertReceived(ReceiveQueue& queue, std::string_view frame, std::string_view request, int askedStation) {
    ReceiveEntry e;
    e.Frame.assign(frame);
    e.Request.assign(request);
    e.Station = askedStation;
    queue.Entries.push_back(e);
}

bool TakeReceived(ReceiveQueue& queue, ReceiveEntry& out) {
    if (queue.Entries.empty()) return false;
    out = queue.Entries.front();
    queue.Entries.pop_front();
    return true;
}

void FreeReceiveQueue(ReceiveQueue& queue) { queue.Entries.clear(); }

}  // namespace zk
