// SIP over TCP put back together from segments, in ordinary traffic and
// under attack: several messages in one segment, a message split across a
// gap, a spoofed segment far ahead, a connection whose numbering starts
// over, a table full of idle connections, a flood of unfinished messages,
// and messages trickled one byte per segment (linear work, counted).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "capture_builder.h"
#include "signalling/tcp_reassembly.h"

namespace mervox::media::signalling {
namespace {

struct Step {
    int from = 0;  // a host: its own address and port, all sending to host 0
    uint32_t sequence = 0;
    std::string text;
};

// The segments of one direction, from its first sequence number on.
struct Sender {
    int from;
    uint32_t next;
    std::vector<Step>& steps;
    void Send(const std::string& text)
    {
        steps.push_back({from, next, text});
        next += static_cast<uint32_t>(text.size());
    }
    void Trickle(const std::string& text)
    {
        for (const char c : text)
            Send(std::string(1, c));
    }
    void Skip(uint32_t bytes) { next += bytes; }
};

// An INVITE with a body of `bodyLines` lines of 100 bytes.
std::string Message(const std::string& callId, size_t bodyLines = 0)
{
    std::string body;
    for (size_t i = 0; i < bodyLines; ++i)
        body += "a=" + std::string(96, 'x') + "\r\n";
    return capture::test::SipMessage("INVITE sip:b@example.com SIP/2.0", {"Call-ID: " + callId, "CSeq: 1 INVITE"},
                                     body);
}

Endpoint Host(int k)
{
    Endpoint e;
    e.address[0] = 10;
    e.address[2] = static_cast<uint8_t>(k >> 8);
    e.address[3] = static_cast<uint8_t>(k);
    e.port = static_cast<uint16_t>(5060 + k);
    return e;
}

struct Case {
    const char* name = "";
    TcpLimits limits;
    std::vector<Step> steps;
    std::vector<std::string> callIds;  // the messages read, in order
    std::map<SipProblem, uint64_t> counts;
    size_t examinedPerByte = 0;  // when nonzero: the work allowed per byte sent
};

std::vector<Case> Cases()
{
    std::vector<Case> cases;
    const std::string a = Message("a"), b = Message("b"), c = Message("c");
    {
        Case k;
        k.name = "three messages in one segment, one split across a gap";
        Sender s{1, 1000, k.steps};
        s.Send(a + b + c.substr(0, 30));
        s.Send(c.substr(30));
        s.Send(Message("d", 1).substr(0, 50));
        s.Skip(40);  // never captured
        s.Send(Message("d", 1).substr(90) + Message("e") + "\r\n\r\n" + Message("f"));
        k.callIds = {"a", "b", "c", "e", "f"};
        k.counts = {{SipProblem::kTcpGaps, 1}};
        cases.push_back(k);
    }
    {
        Case k;
        k.name = "a 10-byte segment 2^31 - 2^16 ahead changes nothing";
        Sender s{1, 7, k.steps};
        s.Send(a);
        k.steps.push_back({1, s.next + 0x7fff0000u, "0123456789"});
        s.Send(b.substr(0, 20));
        s.Send(b.substr(20));
        k.callIds = {"a", "b"};
        k.counts = {{SipProblem::kTcpOutOfWindow, 1}, {SipProblem::kTcpRetransmissions, 0}};
        cases.push_back(k);
    }
    {
        Case k;
        k.name = "numbering that starts over resumes at a start line";
        Sender s{1, 0xfffff000u, k.steps};
        s.Send(a);
        s.Skip(0x80000000u);
        s.Send(b.substr(20));  // out of the window, no start line: ignored
        s.Send(c.substr(0, 40));
        s.Send(c.substr(40));
        k.callIds = {"a", "c"};
        k.counts = {{SipProblem::kTcpOutOfWindow, 2}, {SipProblem::kTcpGaps, 0}};
        cases.push_back(k);
    }
    {
        Case k;
        k.name = "a full table forgets the direction idle longest";
        k.limits.directions = 4;
        std::vector<Sender> phones;
        for (int p = 1; p <= 5; ++p)
            phones.push_back({p, 100u * p, k.steps});
        for (int p = 0; p < 4; ++p)
            phones[p].Send(Message("register-" + std::to_string(p + 1)));
        phones[1].Send("\r\n\r\n");  // a keep-alive: phone 1 is now the one idle longest
        phones[4].Send(a.substr(0, 40));
        phones[4].Send(a.substr(40));
        phones[0].Send("\r\n\r\n");  // forgotten: no message starts here
        phones[0].Send(b.substr(0, 40));
        phones[0].Send(b.substr(40));
        k.callIds = {"register-1", "register-2", "register-3", "register-4", "a", "b"};
        k.counts = {{SipProblem::kTcpEvicted, 2}};
        cases.push_back(k);
    }
    {
        Case k;
        k.name = "a flood of unfinished messages costs others only theirs";
        k.limits.bufferedBytes = 3 * kMaxMessageBytes;
        const std::string big = Message("x", 400);
        Sender phone{1, 500, k.steps};
        std::vector<Sender> flood;
        for (int f = 2; f < 12; ++f)
            flood.push_back({f, 0, k.steps});
        flood[0].Send(big.substr(0, 30000));
        phone.Send(a.substr(0, 40));
        for (size_t f = 1; f < 3; ++f)
            flood[f].Send(big.substr(0, 30000));
        phone.Send(a.substr(40));
        phone.Send(b.substr(0, 40));
        for (size_t f = 3; f < flood.size(); ++f)
            flood[f].Send(big.substr(0, 30000));
        phone.Send(b.substr(40));  // its message in progress was dropped
        phone.Send(c);
        flood[0].Send(big.substr(30000) + Message("y"));  // resumes at its next start line
        k.callIds = {"a", "c", "y"};
        k.counts = {{SipProblem::kTcpEvicted, 5}};
        cases.push_back(k);
    }
    {
        Case k;
        k.name = "a message of 60 KB trickled one byte per segment";
        Sender s{1, 1, k.steps};
        s.Send(a);
        s.Trickle(Message("big", 600) + Message("after"));
        k.callIds = {"a", "big", "after"};
        k.examinedPerByte = 8;
        cases.push_back(k);
    }
    {
        Case k;
        k.name = "a long line trickled after a gap";
        Sender s{1, 1, k.steps};
        s.Send(a.substr(0, 40));
        s.Skip(10);
        s.Trickle(std::string(20000, 'z') + "\r\nnoise\r\n" + std::string(1000, 'q') + "\r\n" + Message("after"));
        k.callIds = {"after"};
        k.counts = {{SipProblem::kTcpGaps, 1}};
        k.examinedPerByte = 8;
        cases.push_back(k);
    }
    return cases;
}

TEST(TcpReassembly, MessagesComeThroughGapsSpoofsFloodsAndTrickles)
{
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        SignallingCounters counters;
        std::vector<std::string> callIds;
        TcpReassembly tcp(
            counters, [&](const SipMessage& m, const Endpoint&, const Endpoint&) { callIds.push_back(m.callId); },
            k.limits);
        size_t sent = 0;
        for (const Step& step : k.steps) {
            TcpSegmentInfo segment;
            segment.sequence = step.sequence;
            segment.payload = {reinterpret_cast<const uint8_t*>(step.text.data()), step.text.size()};
            tcp.Segment(Host(step.from), Host(0), segment, 0);
            sent += step.text.size();
            ASSERT_LE(tcp.directions(), k.limits.directions);
            ASSERT_LE(tcp.bufferedBytes(), k.limits.bufferedBytes);
        }
        EXPECT_EQ(callIds, k.callIds);
        for (const auto& [problem, count] : k.counts)
            EXPECT_EQ(counters[problem], count) << SipProblemName(problem);
        if (k.examinedPerByte > 0) {
            EXPECT_LE(tcp.examinedBytes(), k.examinedPerByte * sent);
        }
    }
}

}  // namespace
}  // namespace mervox::media::signalling
