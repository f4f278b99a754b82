// Puts fragmented IP datagrams back together from their pieces, in any
// order, with bounded memory: at most kMaxDatagrams in progress (the oldest
// given up for a new one), none longer than an IP length field can say, and
// none waiting more than kMaxSeconds of capture time for its last pieces.
// Where pieces overlap, the bytes that came first are kept.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "net/byte_view.h"
#include "packets/udp_datagram.h"

namespace mervox::media::packets {

class IpReassembly {
public:
    static constexpr size_t kMaxDatagrams = 64;
    static constexpr double kMaxSeconds = 30;
    // Bytes of a datagram's payload after its IP header: an IPv4 packet's
    // total length (with a 20-byte header) and an IPv6 payload length both
    // stop at 65535.
    static constexpr size_t kMaxIpv4Payload = 65535 - 20;
    static constexpr size_t kMaxIpv6Payload = 65535;

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

private:
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
        int protocol = -1;  // the transport, once the first piece came
        size_t end = 0;     // its length, once the last piece came
        bool endKnown = false;
        std::vector<uint8_t> data;  // grows to the furthest piece
        // The byte ranges [first, second) received, sorted and apart.
        std::vector<std::pair<size_t, size_t>> have;
    };
    using Map = std::map<Key, Datagram>;

    void Drop(Map::iterator d);
    void Build(const UdpDatagram& piece, const Datagram& d);

    Map pending_;
    uint64_t started_ = 0;
    uint64_t dropped_ = 0;
    uint64_t completedPieces_ = 0;
    std::vector<uint8_t> whole_;
};

}  // namespace mervox::media::packets
