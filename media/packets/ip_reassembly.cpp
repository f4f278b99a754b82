#include "packets/ip_reassembly.h"

#include <algorithm>
#include <cstring>

namespace mervox::media::packets {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, size_t v)
{
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

}  // namespace

bool IpReassembly::Add(const UdpDatagram& piece, double time, net::ByteView& whole)
{
    Expire(time);
    const UdpDatagram::Piece& f = piece.fragment;
    const bool v4 = piece.source.ipVersion == net::kIpv4;
    const Key key{piece.source.ipVersion, piece.source.address, piece.destination.address, v4 ? f.protocol : uint8_t{0},
                  f.identification};
    auto found = pending_.find(key);
    if (found == pending_.end())
        found = Start(key, time);
    Datagram& d = found->second;
    ++d.pieces;
    const size_t begin = f.offset;
    const size_t end = begin + f.data.size;
    // A piece past what a length field can say, past the known end, or a
    // last piece short of what came already: no datagram can come of it.
    const bool tooLong = end > (v4 ? kMaxIpv4Payload : kMaxIpv6Payload);
    const bool pastEnd = d.endKnown && (end > d.end || (!f.more && end != d.end));
    const bool shortLast = !f.more && !d.have.empty() && d.have.back().second > end;
    if (tooLong || pastEnd || shortLast) {
        Drop(found);
        return false;
    }
    if (!f.more) {
        d.end = end;
        d.endKnown = true;
    }
    if (begin == 0)
        d.protocol = f.protocol;
    if (d.data.size() < end)
        d.data.resize(end);
    // Fill the gaps this piece covers; bytes already there stay.
    std::vector<std::pair<size_t, size_t>> have;
    have.reserve(d.have.size() + 1);
    size_t at = begin;
    for (const auto& range : d.have) {
        if (range.second < begin || range.first > end) {
            have.push_back(range);
            continue;
        }
        if (at < range.first)
            std::memcpy(d.data.data() + at, f.data.data + (at - begin), range.first - at);
        at = std::max(at, range.second);
    }
    if (at < end)
        std::memcpy(d.data.data() + at, f.data.data + (at - begin), end - at);
    // The merged range: this piece and every range it touches.
    size_t first = begin, last = end;
    for (const auto& range : d.have)
        if (!(range.second < begin || range.first > end)) {
            first = std::min(first, range.first);
            last = std::max(last, range.second);
        }
    have.emplace_back(first, last);
    std::sort(have.begin(), have.end());
    d.have = std::move(have);

    if (d.endKnown && d.protocol >= 0 && d.have.size() == 1 && d.have[0].first == 0 && d.have[0].second == d.end) {
        Build(piece, d);
        completedPieces_ = d.pieces;
        Remove(found);
        whole = net::ByteView{whole_.data(), whole_.size()};
        return true;
    }
    Hold(found);
    MakeRoom(SourceOf(key));
    return false;
}

IpReassembly::Map::iterator IpReassembly::Start(const Key& key, double time)
{
    const Address address = SourceOf(key);
    Source& source = sources_[address];
    Unlist(address, source);
    const auto found = pending_.emplace(key, Datagram{}).first;
    Datagram& d = found->second;
    d.firstTime = time;
    d.order = started_++;
    source.orders.insert(d.order);
    byOrder_.emplace(d.order, found);
    byTime_.emplace(time, d.order);
    List(address, source);
    return found;
}

// Counts what the datagram holds now against its source and the whole.
void IpReassembly::Hold(Map::iterator d)
{
    Datagram& g = d->second;
    const size_t held = kDatagramOverhead + g.data.capacity() + g.have.capacity() * sizeof(g.have[0]);
    Source& source = sources_.at(SourceOf(d->first));
    source.held = source.held - g.held + held;
    held_ = held_ - g.held + held;
    g.held = held;
}

// Gives up datagrams until `address` is within its share and all are
// within the bound (see the header).
void IpReassembly::MakeRoom(const Address& address)
{
    for (auto s = sources_.find(address); s != sources_.end() && s->second.held > limits_.sourceBytes;
         s = sources_.find(address))
        Drop(byOrder_.at(*s->second.orders.begin()));
    while (held_ > limits_.bytes && !busiest_.empty()) {
        const Address busiest = std::get<2>(*busiest_.rbegin());
        Drop(byOrder_.at(*sources_.at(busiest).orders.begin()));
    }
}

void IpReassembly::Unlist(const Address& address, Source& source)
{
    if (!source.orders.empty())
        busiest_.erase(Busy{source.orders.size(), *source.orders.rbegin(), address});
}

void IpReassembly::List(const Address& address, const Source& source)
{
    if (!source.orders.empty())
        busiest_.insert(Busy{source.orders.size(), *source.orders.rbegin(), address});
}

// The datagram as one unfragmented packet, with a plain IP header.
void IpReassembly::Build(const UdpDatagram& piece, const Datagram& d)
{
    const bool v4 = piece.source.ipVersion == net::kIpv4;
    const size_t header = v4 ? 20 : 40;
    whole_.assign(header, 0);
    if (v4) {
        whole_[0] = 0x45;
        Put16(whole_, 2, header + d.end);
        whole_[8] = 64;  // time to live
        whole_[9] = static_cast<uint8_t>(d.protocol);
        std::memcpy(whole_.data() + 12, piece.source.address.data(), 4);
        std::memcpy(whole_.data() + 16, piece.destination.address.data(), 4);
    } else {
        whole_[0] = 0x60;
        Put16(whole_, 4, d.end);
        whole_[6] = static_cast<uint8_t>(d.protocol);
        whole_[7] = 64;  // hop limit
        std::memcpy(whole_.data() + 8, piece.source.address.data(), 16);
        std::memcpy(whole_.data() + 24, piece.destination.address.data(), 16);
    }
    whole_.insert(whole_.end(), d.data.begin(), d.data.begin() + static_cast<std::ptrdiff_t>(d.end));
}

void IpReassembly::Expire(double now)
{
    while (!byTime_.empty() && byTime_.begin()->first < now - kMaxSeconds)
        Drop(byOrder_.at(byTime_.begin()->second));
}

void IpReassembly::Clear()
{
    while (!pending_.empty())
        Drop(pending_.begin());
}

void IpReassembly::Drop(Map::iterator d)
{
    dropped_ += d->second.pieces;
    Remove(d);
}

void IpReassembly::Remove(Map::iterator d)
{
    const Address address = SourceOf(d->first);
    const auto s = sources_.find(address);
    Source& source = s->second;
    const Datagram& g = d->second;
    Unlist(address, source);
    source.orders.erase(g.order);
    source.held -= g.held;
    held_ -= g.held;
    byOrder_.erase(g.order);
    byTime_.erase({g.firstTime, g.order});
    pending_.erase(d);
    if (source.orders.empty())
        sources_.erase(s);
    else
        List(address, source);
}

uint64_t IpReassembly::TakeDropped()
{
    const uint64_t n = dropped_;
    dropped_ = 0;
    return n;
}

}  // namespace mervox::media::packets
