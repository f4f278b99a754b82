#include "long_traffic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace mervox::media::capture::test {
namespace {

constexpr int64_t kSecond = 1000000;
constexpr int64_t kFrameMicros = 30000;  // one G.723.1 frame, 240 samples at 8 kHz
constexpr uint32_t kFrameTicks = 240;
// Offsets into an Ethernet + IPv4 + UDP + RTP packet without options.
constexpr size_t kIpLength = 16, kUdpLength = 38, kRtpMarker = 43, kRtpSequence = 44, kRtpTimestamp = 46;
// A talkspurt is 1.5 to 4.5 s of speech frames.
constexpr uint64_t kMinTalkFrames = 50, kMaxTalkFrames = 150;
// Distinct addresses per range of 10.x.y.z (64 values of x, 256 of y, 254 of z).
constexpr uint64_t kAddresses = 64 * 256 * 254;

enum class Kind : uint8_t { Start, Sip, Rtp, Close, Junk };

struct Event {
    int64_t micros;
    uint64_t order;  // events of the same time in the order they were planned
    Kind kind;
    uint32_t slot;
    uint8_t part;  // the SIP step, or the stream (0: the caller's)
};

bool Later(const Event& a, const Event& b) { return a.micros != b.micros ? a.micros > b.micros : a.order > b.order; }

// SplitMix64: a stream's own draws (delays, talkspurts), so that the calls
// and their times are the same at any speech share.
uint64_t NextRandom(uint64_t& state)
{
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

struct Stream {
    uint64_t random = 0;
    Bytes header;  // Ethernet to RTP, the fields of each packet written over
    const std::vector<Bytes>* frames = nullptr;
    size_t position = 0;  // in frames
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint64_t talkFrames = 0;  // of the current talkspurt
    uint64_t talkLeft = 0;    // speech frames before the next silence
    bool marker = true;       // the next packet starts a talkspurt
    int64_t sendMicros = 0;
};

struct Call {
    LongTrafficCall record;
    std::string callerIp, calleeIp;
    uint16_t callerSip = 5060, calleeSip = 5060, callerMedia = 0, calleeMedia = 0;
    std::string fromTag, toTag, branch;
    int64_t startMicros = 0, answerMicros = 0, endMicros = 0;
    bool byeFromCaller = true;
    Stream streams[2];
};

std::string Address(uint64_t firstOctet, uint64_t n)
{
    return "10." + std::to_string(firstOctet + n / (256 * 254) % 64) + "." + std::to_string(n / 254 % 256) + "." +
           std::to_string(1 + n % 254);
}

std::vector<Bytes> ReadFrames(const std::string& path, int wantedType)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path + ": cannot read");
    const Bytes stream{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    static constexpr size_t kLength[4] = {24, 20, 4, 1};  // by the type bits of the first byte
    std::vector<Bytes> frames;
    for (size_t at = 0; at < stream.size();) {
        const int type = stream[at] & 3;
        const size_t length = kLength[type];
        if (at + length > stream.size())
            break;
        if (type == wantedType || (wantedType < 0 && type < 2))
            frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                stream.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    if (frames.empty())
        throw std::runtime_error(path + ": no frames of the wanted type");
    return frames;
}

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

}  // namespace

LongTrafficFrames LoadLongTrafficFrames(const std::string& corpusDir)
{
    LongTrafficFrames f;
    for (const char* name : {"speech-a.63.bit", "speech-a.53.bit", "speech-a.mixed.bit", "speech-a.63-enc2.bit"})
        f.speech.push_back(ReadFrames(corpusDir + "/" + name, -1));
    for (const char* name : {"speech-a.63-vad.bit", "speech-a.53-vad.bit"}) {
        const std::vector<Bytes> sid = ReadFrames(corpusDir + "/" + name, 2);
        f.silence.insert(f.silence.end(), sid.begin(), sid.end());
    }
    return f;
}

std::string LongTrafficCallHeader()
{
    return "index\tstart\tend\tsignalled\tbye\tcall_id\tfrom_user\tto_user\tcaller_media\tcallee_media";
}

std::string LongTrafficCallLine(const LongTrafficCall& c)
{
    char times[64];
    std::snprintf(times, sizeof times, "%.3f\t%.3f", c.start, c.end);
    const auto orDash = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
    return std::to_string(c.index) + "\t" + times + "\t" + (c.signalled ? "1" : "0") + "\t" + (c.bye ? "1" : "0") +
           "\t" + orDash(c.callId) + "\t" + orDash(c.fromUser) + "\t" + orDash(c.toUser) + "\t" + c.caller + "\t" +
           c.callee;
}

struct LongTraffic::State {
    LongTrafficOptions options;
    const LongTrafficFrames& frames;
    std::mt19937_64 random;
    int64_t captureEndMicros = 0;
    double startStep = 0;       // seconds between planned call starts
    std::vector<Event> events;  // a heap, earliest first
    uint64_t eventOrder = 0;
    std::vector<Call> calls;  // by slot
    std::vector<uint32_t> freeSlots;
    size_t open = 0;
    uint64_t nextCall = 0;
    bool startWaiting = false;  // the next call is due but maxOpenCalls are open
    Bytes packet;
    int64_t packetMicros = 0;
    std::vector<LongTrafficCall> ended;

    State(const LongTrafficOptions& o, const LongTrafficFrames& f) : options(o), frames(f), random(o.seed) {}

    // Uniform in [0, 1) from the top 53 bits: the same on every platform.
    double Uniform() { return static_cast<double>(random() >> 11) * 0x1p-53; }
    double Uniform(double low, double high) { return low + (high - low) * Uniform(); }
    uint64_t Between(uint64_t low, uint64_t high) { return low + random() % (high - low + 1); }
    int64_t Micros(double seconds) { return static_cast<int64_t>(std::llround(seconds * kSecond)); }
    std::string Hex(int digits)
    {
        std::string s;
        for (int k = 0; k < digits; ++k)
            s += "0123456789abcdef"[random() % 16];
        return s;
    }

    void Plan(int64_t micros, Kind kind, uint32_t slot = 0, uint8_t part = 0)
    {
        events.push_back({micros, eventOrder++, kind, slot, part});
        std::push_heap(events.begin(), events.end(), Later);
    }

    void PlanStart(int64_t now)
    {
        const double planned = (static_cast<double>(nextCall) + Uniform(0.1, 0.9)) * startStep;
        Plan(std::max(now, Micros(planned)), Kind::Start);
    }

    void StartCall(int64_t now)
    {
        uint32_t slot;
        if (freeSlots.empty()) {
            slot = static_cast<uint32_t>(calls.size());
            calls.emplace_back();
        } else {
            slot = freeSlots.back();
            freeSlots.pop_back();
        }
        ++open;
        Call& c = calls[slot];
        const uint64_t index = nextCall++;
        c.record = LongTrafficCall{};
        c.record.index = index;
        c.record.signalled = Uniform() >= options.unsignalledShare;
        c.record.bye = c.record.signalled && Uniform() >= options.byeLostShare;
        // Addresses unique per call (for kAddresses calls), scattered by a
        // permutation of the index.
        const uint64_t n = (index * 1000003 + options.seed % kAddresses) % kAddresses;
        c.callerIp = Address(c.record.signalled ? 0 : 128, n);
        c.calleeIp = Address(c.record.signalled ? 64 : 192, n);
        c.callerMedia = static_cast<uint16_t>(2 * Between(5000, 29999));
        c.calleeMedia = static_cast<uint16_t>(2 * Between(5000, 29999));
        c.callerSip = Uniform() < 0.5 ? 5060 : static_cast<uint16_t>(Between(1024, 65535));
        c.record.caller = c.callerIp + ":" + std::to_string(c.callerMedia);
        c.record.callee = c.calleeIp + ":" + std::to_string(c.calleeMedia);

        // A call that waited for room is cut short to end within the capture.
        const int64_t length = Micros(Uniform(options.minCallSeconds, options.maxCallSeconds));
        c.startMicros = now;
        c.endMicros = std::max(std::min(now + length, captureEndMicros - kSecond), now + kSecond);
        c.record.start = static_cast<double>(c.startMicros) / kSecond;
        c.record.end = static_cast<double>(c.endMicros) / kSecond;
        if (c.record.signalled) {
            char user[32];
            std::snprintf(user, sizeof user, "a%06llu", static_cast<unsigned long long>(index));
            c.record.fromUser = user;
            std::snprintf(user, sizeof user, "b%06llu", static_cast<unsigned long long>(index));
            c.record.toUser = user;
            c.record.callId = Hex(16) + "@" + c.callerIp;
            c.fromTag = Hex(8);
            c.toTag = Hex(8);
            c.branch = "z9hG4bK" + Hex(10);
            c.byeFromCaller = Uniform() < 0.5;
            // Ringing takes 1 to 6 s, but at most a quarter of the call.
            c.answerMicros = now + std::min(Micros(Uniform(1, 6)), (c.endMicros - now) / 4);
            Plan(now, Kind::Sip, slot, 0);
            StartStream(c, slot, 1, c.answerMicros + Micros(Uniform(0.01, 0.03)));
            StartStream(c, slot, 0, c.answerMicros + Micros(Uniform(0.05, 0.1)));
        } else {
            StartStream(c, slot, 0, now);
            StartStream(c, slot, 1, now + Micros(Uniform(0.01, 0.3)));
        }
        Plan(c.endMicros + Micros(0.1), Kind::Close, slot);
    }

    static uint64_t TalkFrames(Stream& s)
    {
        return kMinTalkFrames + NextRandom(s.random) % (kMaxTalkFrames - kMinTalkFrames + 1);
    }

    void StartStream(Call& c, uint32_t slot, uint8_t side, int64_t first)
    {
        Stream& s = c.streams[side];
        Rtp h;
        h.ssrc = static_cast<uint32_t>(random());
        h.payloadType = 4;
        const bool caller = side == 0;
        s.header = Ethernet(Ipv4Udp(caller ? c.callerIp : c.calleeIp, caller ? c.callerMedia : c.calleeMedia,
                                    caller ? c.calleeIp : c.callerIp, caller ? c.calleeMedia : c.callerMedia,
                                    RtpBytes(h, {})));
        s.frames = &frames.speech[random() % frames.speech.size()];
        s.position = random() % s.frames->size();
        s.sequence = static_cast<uint16_t>(random());
        s.timestamp = static_cast<uint32_t>(random());
        s.random = random();
        s.talkLeft = s.talkFrames = options.speechShare >= 1 ? UINT64_MAX : TalkFrames(s);
        s.marker = true;
        s.sendMicros = first;
        Plan(first, Kind::Rtp, slot, side);
    }

    // The stream's next packet: a speech frame, or at a talkspurt's end a
    // silence descriptor followed by silence, no packets while its
    // timestamps go on.
    void SendRtp(Call& c, uint32_t slot, uint8_t side)
    {
        Stream& s = c.streams[side];
        const Bytes* frame;
        uint64_t silentFrames = 0;
        if (s.talkLeft > 0) {
            frame = &(*s.frames)[s.position++ % s.frames->size()];
            --s.talkLeft;
        } else {
            frame = &frames.silence[NextRandom(s.random) % frames.silence.size()];
            // As long a silence as the talkspurt before it takes for the
            // share (at 0.1, 9 frames of silence per frame sent), so that
            // a receiver's concealment, paid for by frames received, covers it.
            silentFrames = static_cast<uint64_t>(
                std::llround(static_cast<double>(s.talkFrames) * (1 - options.speechShare) / options.speechShare));
            s.talkLeft = s.talkFrames = TalkFrames(s);
        }
        packet.assign(s.header.begin(), s.header.end());
        packet.insert(packet.end(), frame->begin(), frame->end());
        const size_t ip = packet.size() - 14;
        Put16(packet, kIpLength, static_cast<uint32_t>(ip));
        Put16(packet, kUdpLength, static_cast<uint32_t>(ip - 20));
        packet[kRtpMarker] = static_cast<uint8_t>((s.marker ? 0x80 : 0) | 4);
        Put16(packet, kRtpSequence, s.sequence);
        Put16(packet, kRtpTimestamp, s.timestamp >> 16);
        Put16(packet, kRtpTimestamp + 2, s.timestamp);
        s.marker = silentFrames > 0;
        s.sequence = static_cast<uint16_t>(s.sequence + 1);
        s.timestamp += static_cast<uint32_t>((1 + silentFrames) * kFrameTicks);
        s.sendMicros += static_cast<int64_t>(1 + silentFrames) * kFrameMicros;
        // Arrival: the sending time and up to 2 ms of network delay.
        if (s.sendMicros < c.endMicros)
            Plan(s.sendMicros + static_cast<int64_t>(NextRandom(s.random) % 2000), Kind::Rtp, slot, side);
    }

    std::string Sdp(const Call& c, bool caller)
    {
        const std::string& ip = caller ? c.callerIp : c.calleeIp;
        const std::string session = std::to_string(c.record.index + 1000);
        return "v=0\r\no=- " + session + " " + session + " IN IP4 " + ip + "\r\ns=-\r\nc=IN IP4 " + ip +
               "\r\nt=0 0\r\nm=audio " + std::to_string(caller ? c.callerMedia : c.calleeMedia) +
               " RTP/AVP 4\r\na=rtpmap:4 G723/8000\r\na=ptime:30\r\na=sendrecv\r\n";
    }

    // Step 0 INVITE, 1 100 Trying, 2 180 Ringing, 3 200 OK, 4 ACK, 5 BYE, 6
    // its 200 OK. Returns the message's sender: true for the caller.
    bool SipMessageOf(Call& c, uint8_t step, std::string& text)
    {
        const std::string callerUri = "sip:" + c.record.fromUser + "@" + c.callerIp;
        const std::string calleeUri = "sip:" + c.record.toUser + "@" + c.calleeIp;
        const std::string from = "From: <" + callerUri + ">;tag=" + c.fromTag;
        const std::string toNoTag = "To: <" + calleeUri + ">";
        const std::string to = toNoTag + ";tag=" + c.toTag;
        const std::string callId = "Call-ID: " + c.record.callId;
        const std::string callerContact = "Contact: <" + callerUri + ":" + std::to_string(c.callerSip) + ">";
        const std::string calleeContact = "Contact: <" + calleeUri + ":" + std::to_string(c.calleeSip) + ">";
        const std::string callerVia =
            "Via: SIP/2.0/UDP " + c.callerIp + ":" + std::to_string(c.callerSip) + ";branch=" + c.branch;
        const std::string sdp = "Content-Type: application/sdp";
        switch (step) {
        case 0:
            text = SipMessage("INVITE " + calleeUri + " SIP/2.0",
                              {callerVia, "Max-Forwards: 70", from, toNoTag, callId, "CSeq: 1 INVITE", callerContact,
                               "User-Agent: long-traffic", sdp},
                              Sdp(c, true));
            return true;
        case 1:
            text = SipMessage("SIP/2.0 100 Trying", {callerVia, from, toNoTag, callId, "CSeq: 1 INVITE"});
            return false;
        case 2:
            text = SipMessage("SIP/2.0 180 Ringing", {callerVia, from, to, callId, "CSeq: 1 INVITE", calleeContact});
            return false;
        case 3:
            text = SipMessage("SIP/2.0 200 OK", {callerVia, from, to, callId, "CSeq: 1 INVITE", calleeContact, sdp},
                              Sdp(c, false));
            return false;
        case 4:
            text = SipMessage(
                "ACK " + calleeUri + ":" + std::to_string(c.calleeSip) + " SIP/2.0",
                {"Via: SIP/2.0/UDP " + c.callerIp + ":" + std::to_string(c.callerSip) + ";branch=z9hG4bK" + Hex(10),
                 "Max-Forwards: 70", from, to, callId, "CSeq: 1 ACK"});
            return true;
        case 5:
        case 6: {
            // The BYE's sender's From is its own URI with its own tag.
            const bool byCaller = c.byeFromCaller;
            const std::string byeVia = "Via: SIP/2.0/UDP " + (byCaller ? c.callerIp : c.calleeIp) + ":" +
                                       std::to_string(byCaller ? c.callerSip : c.calleeSip) + ";branch=z9hG4bK" +
                                       c.branch.substr(7) + "b";
            const std::string byeFrom = byCaller ? from : "From: <" + calleeUri + ">;tag=" + c.toTag;
            const std::string byeTo = byCaller ? to : "To: <" + callerUri + ">;tag=" + c.fromTag;
            const std::string cseq = std::string("CSeq: ") + (byCaller ? "2" : "1") + " BYE";
            if (step == 5) {
                const std::string target = byCaller ? calleeUri + ":" + std::to_string(c.calleeSip)
                                                    : callerUri + ":" + std::to_string(c.callerSip);
                text = SipMessage("BYE " + target + " SIP/2.0",
                                  {byeVia, "Max-Forwards: 70", byeFrom, byeTo, callId, cseq});
                return byCaller;
            }
            text = SipMessage("SIP/2.0 200 OK", {byeVia, byeFrom, byeTo, callId, cseq});
            return !byCaller;
        }
        default:
            return true;
        }
    }

    void SendSip(Call& c, uint32_t slot, uint8_t step, int64_t now)
    {
        std::string text;
        const bool byCaller = SipMessageOf(c, step, text);
        packet =
            Ethernet(Ipv4Udp(byCaller ? c.callerIp : c.calleeIp, byCaller ? c.callerSip : c.calleeSip,
                             byCaller ? c.calleeIp : c.callerIp, byCaller ? c.calleeSip : c.callerSip, Text(text)));
        int64_t next = -1;
        switch (step) {
        case 0:
            next = now + Micros(Uniform(0.002, 0.01));
            break;
        case 1:
            next = now + Micros(Uniform(0.02, 0.2));
            break;
        case 2:
            next = std::max(now + 1000, c.answerMicros);
            break;
        case 3:
            next = now + Micros(Uniform(0.01, 0.04));
            break;
        case 4:
            if (c.record.bye)
                next = c.endMicros + Micros(Uniform(0.005, 0.02));
            break;
        case 5:
            next = now + Micros(Uniform(0.002, 0.01));
            break;
        default:
            break;
        }
        if (next >= 0)
            Plan(next, Kind::Sip, slot, static_cast<uint8_t>(step + 1));
    }

    // Something that belongs to no call: a DNS query or answer, a TCP
    // segment, or UDP that is not RTP.
    void SendJunk()
    {
        const uint64_t kind = random() % 4;
        const std::string client =
            "192.168." + std::to_string(1 + random() % 4) + "." + std::to_string(1 + random() % 254);
        const auto port = static_cast<uint16_t>(Between(1024, 65535));
        if (kind < 2) {
            const auto id = static_cast<uint16_t>(random());
            Bytes dns = {static_cast<uint8_t>(id >> 8),
                         static_cast<uint8_t>(id),
                         static_cast<uint8_t>(kind ? 0x81 : 1),
                         static_cast<uint8_t>(kind ? 0x80 : 0),
                         0,
                         1,
                         0,
                         static_cast<uint8_t>(kind),
                         0,
                         0,
                         0,
                         0};
            const std::string host = "host" + std::to_string(random() % 1000);
            for (const std::string& label : {host, std::string("example"), std::string("com")}) {
                dns.push_back(static_cast<uint8_t>(label.size()));
                dns.insert(dns.end(), label.begin(), label.end());
            }
            dns.insert(dns.end(), {0, 0, 1, 0, 1});  // end of name, type A, class IN
            if (kind)
                dns.insert(dns.end(), {0xc0, 12, 0, 1, 0, 1, 0, 0, 1, 44, 0, 4, 192, 168, 0,
                                       static_cast<uint8_t>(random() % 254 + 1)});
            packet = kind ? Ethernet(Ipv4Udp("192.168.0.53", 53, client, port, dns))
                          : Ethernet(Ipv4Udp(client, port, "192.168.0.53", 53, dns));
        } else if (kind == 2) {
            Bytes tls = {0x17, 3, 3};
            tls.resize(Between(3, 400));
            for (size_t k = 3; k < tls.size(); ++k)
                tls[k] = static_cast<uint8_t>(random());
            packet = Ethernet(Ipv4Tcp(client, port, "192.168.0.10", 443, static_cast<uint32_t>(random()), tls));
        } else {
            const std::string line = "<14>host" + std::to_string(random() % 100) + " service[" +
                                     std::to_string(random() % 30000) + "]: status " + Hex(8);
            packet = Ethernet(Ipv4Udp(client, port, "192.168.0.20", 514, Text(line)));
        }
    }

    void Close(uint32_t slot, int64_t now)
    {
        ended.push_back(std::move(calls[slot].record));
        calls[slot].streams[0].header.clear();
        calls[slot].streams[1].header.clear();
        freeSlots.push_back(slot);
        --open;
        if (startWaiting) {
            startWaiting = false;
            Plan(now, Kind::Start);
        }
    }
};

LongTraffic::LongTraffic(const LongTrafficOptions& options, const LongTrafficFrames& frames)
    : state_(std::make_unique<State>(options, frames))
{
    State& s = *state_;
    if (frames.speech.empty() || frames.silence.empty())
        throw std::invalid_argument("no frames to send");
    if (!(options.minCallSeconds >= 1 && options.maxCallSeconds >= options.minCallSeconds))
        throw std::invalid_argument("call lengths must be at least 1 s, the least first");
    if (!(options.speechShare > 0 && options.speechShare <= 1))
        throw std::invalid_argument("the speech share must be above 0 and at most 1");
    if (options.maxOpenCalls == 0)
        throw std::invalid_argument("at least one call must be allowed open");
    s.captureEndMicros = s.Micros(options.hours * 3600);
    // Starts leave room for the longest call, its ringing and its BYE.
    const double span = options.hours * 3600 - options.maxCallSeconds - 10;
    if (span <= 0)
        throw std::invalid_argument("the capture is shorter than the longest call");
    s.startStep = options.calls ? span / static_cast<double>(options.calls) : span;
    // Calls due while the most are open wait for room: fine for the
    // fluctuations, but on average the calls must fit.
    const double meanOpen =
        static_cast<double>(options.calls) * (options.minCallSeconds + options.maxCallSeconds) / 2 / span;
    if (meanOpen > static_cast<double>(options.maxOpenCalls))
        throw std::invalid_argument("the calls do not fit: " + std::to_string(std::lround(meanOpen)) +
                                    " would be open at once on average, more than the most allowed");
    if (options.calls)
        s.PlanStart(0);
    if (options.junkPerSecond > 0)
        s.Plan(s.Micros(-std::log(1 - s.Uniform()) / options.junkPerSecond), Kind::Junk);
}

LongTraffic::~LongTraffic() = default;

bool LongTraffic::Next()
{
    State& s = *state_;
    s.ended.clear();
    while (!s.events.empty()) {
        std::pop_heap(s.events.begin(), s.events.end(), Later);
        const Event e = s.events.back();
        s.events.pop_back();
        switch (e.kind) {
        case Kind::Start:
            if (s.open >= s.options.maxOpenCalls) {
                s.startWaiting = true;
                break;
            }
            s.StartCall(e.micros);
            if (s.nextCall < s.options.calls)
                s.PlanStart(e.micros);
            break;
        case Kind::Close:
            s.Close(e.slot, e.micros);
            break;
        case Kind::Sip:
            s.SendSip(s.calls[e.slot], e.slot, e.part, e.micros);
            s.packetMicros = e.micros;
            return true;
        case Kind::Rtp:
            s.SendRtp(s.calls[e.slot], e.slot, e.part);
            s.packetMicros = e.micros;
            return true;
        case Kind::Junk: {
            s.SendJunk();
            s.packetMicros = e.micros;
            const int64_t next = e.micros + s.Micros(-std::log(1 - s.Uniform()) / s.options.junkPerSecond);
            if (next < s.captureEndMicros)
                s.Plan(next, Kind::Junk);
            return true;
        }
        }
    }
    return false;
}

const Bytes& LongTraffic::packet() const { return state_->packet; }
int64_t LongTraffic::micros() const { return state_->packetMicros; }
const std::vector<LongTrafficCall>& LongTraffic::endedCalls() const { return state_->ended; }
size_t LongTraffic::openCalls() const { return state_->open; }

}  // namespace mervox::media::capture::test
