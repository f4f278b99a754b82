// Puts fragmented IP datagrams back together from their pieces, in any
// order, with bounded memory: none longer than an IP length field can say,
// none waiting more than kMaxSeconds of capture time for its last pieces,
// and the bytes held bounded in two ways, so that no sender can crowd out
// another's datagram. Each source address holds at most
// Limits::sourceBytes (beyond, its own oldest datagram is given up), and
// all of them together at most Limits::bytes (beyond, the source with the
// most datagrams in progress gives up its oldest; of sources with as many,
// the one that started a datagram last, so that a flood of pieces from
// many addresses is refused rather than the datagrams that came before
// it, as a receiver short of reassembly memory drops new pieces).
// Where pieces overlap, the bytes that came first are kept.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "net/byte_view.h"
#include "packets/udp_datagram.h"

namespace mervox::media::packets {

class IpReassembly {
public:
    static constexpr double kMaxSeconds = 30;
    // Bytes of a datagram's payload after its IP header: an IPv4 packet's
    // total length (with a 20-byte header) and an IPv6 payload length both
    // stop at 65535.
    static constexpr size_t kMaxIpv4Payload = 65535 - 20;
    static constexpr size_t kMaxIpv6Payload = 65535;
    // What a datagram in progress is counted for besides its bytes (its
    // entries and bookkeeping), so that tiny pieces fill the bounds too.
    static constexpr size_t kDatagramOverhead = 256;

    struct Limits {
        size_t bytes = size_t{4} << 20;          // all datagrams in progress
        size_t sourceBytes = size_t{256} << 10;  // those of one source address: four of the largest
    };

    IpReassembly() : limits_(Limits{}) {}
    explicit IpReassembly(Limits limits) : limits_(limits) {}

    // A piece as ParseUdp gave it (UdpResult::kFragment), seen at capture
    // time `time`. True when it completed its datagram: `whole` is then the
    // datagram as one unfragmented IP packet, valid until the next call.
    bool Add(const UdpDatagram& piece, double time, net::ByteView& whole);
    // Gives up the datagrams older than kMaxSeconds at capture time `now`.
    void Expire(double now);
    // Gives up every datagram in progress (the capture ended).
    void Clear();
    // Pieces of the datagrams given up since the last call.
    uint64_t TakeDropped();
    // After Add() completed a datagram: how many pieces it was made of.
    uint64_t completedPieces() const { return completedPieces_; }
    size_t inProgress() const { return pending_.size(); }
    // Bytes counted against Limits::bytes now.
    size_t heldBytes() const { return held_; }

private:
    using Address = std::pair<int, std::array<uint8_t, 16>>;  // IP version and source address
    struct Key {
        int ipVersion;
        std::array<uint8_t, 16> source;
        std::array<uint8_t, 16> destination;
        uint8_t protocol;  // IPv4's; 0 for IPv6 (only its first piece says)
        uint32_t identification;
        bool operator<(const Key& o) const
        {
            return std::tie(ipVersion, source, destination, protocol, identification) <
                   std::tie(o.ipVersion, o.source, o.destination, o.protocol, o.identification);
        }
    };
    struct Datagram {
        double firstTime = 0;
        uint64_t order = 0;  // when it started, for the oldest
        uint64_t pieces = 0;
        size_t held = 0;    // bytes counted for it
        int protocol = -1;  // the transport, once the first piece came
        size_t end = 0;     // its length, once the last piece came
        bool endKnown = false;
        std::vector<uint8_t> data;  // grows to the furthest piece
        // The byte ranges [first, second) received, sorted and apart.
        std::vector<std::pair<size_t, size_t>> have;
    };
    using Map = std::map<Key, Datagram>;
    struct Source {
        size_t held = 0;
        std::set<uint64_t> orders;  // of its datagrams in progress
    };
    // A source by its datagrams in progress and its newest one's order, for
    // the busiest.
    using Busy = std::tuple<size_t, uint64_t, Address>;

    static Address SourceOf(const Key& key) { return {key.ipVersion, key.source}; }
    Map::iterator Start(const Key& key, double time);
    void Hold(Map::iterator d);
    void MakeRoom(const Address& address);
    void Drop(Map::iterator d);
    void Remove(Map::iterator d);
    void Unlist(const Address& address, Source& source);
    void List(const Address& address, const Source& source);
    void Build(const UdpDatagram& piece, const Datagram& d);

    Limits limits_;
    Map pending_;
    std::map<uint64_t, Map::iterator> byOrder_;     // every datagram in progress, the oldest first
    std::set<std::pair<double, uint64_t>> byTime_;  // (first piece's time, order)
    std::map<Address, Source> sources_;
    std::set<Busy> busiest_;  // the busiest source last
    size_t held_ = 0;
    uint64_t started_ = 0;
    uint64_t dropped_ = 0;
    uint64_t completedPieces_ = 0;
    std::vector<uint8_t> whole_;
};

}  // namespace mervox::media::packets
