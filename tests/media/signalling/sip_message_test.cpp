// One SIP message read from text, and the SDP found in its body: start
// lines, header names in their long, compact and oddly cased forms, folded
// lines, the body a datagram or a stream delimits by Content-Length, and
// multipart bodies; what is malformed is counted or refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signalling/message_body.h"
#include "signalling/sip_message.h"
#include "signalling/sip_text.h"

namespace mervox::media::signalling {
namespace {

struct Parsed {
    SipParse result = SipParse::kNotSip;
    SipMessage message;
    size_t consumed = 0;
};

Parsed Parse(const std::string& text, bool datagram = true)
{
    Parsed p;
    p.result = ParseSipMessage(text.data(), text.size(), datagram, p.message, p.consumed);
    return p;
}

// An INVITE with these header lines (CRLF after each) and, after the empty
// line, `body` as it is: no Content-Length unless a line gives one.
std::string Invite(const std::vector<std::string>& headers, const std::string& body = "")
{
    std::string text = "INVITE sip:bob@example.com SIP/2.0\r\n";
    for (const std::string& h : headers)
        text += h + "\r\n";
    return text + "\r\n" + body;
}

TEST(SipStartLine, RequestsAndResponsesAreTold)
{
    struct Case {
        const char* line;
        bool sip;
        bool request;
        const char* method;
        int status;
    };
    const Case cases[] = {
        {"INVITE sip:bob@example.com SIP/2.0", true, true, "INVITE", 0},
        {"bye sip:b@x sip/2.0", true, true, "bye", 0},  // version in any case, method as sent
        {"X-CUSTOM.1 sip:b@x SIP/2.0", true, true, "X-CUSTOM.1", 0},
        {"SIP/2.0 200 OK", true, false, "", 200},
        {"SIP/2.0 183 Session Progress", true, false, "", 183},  // a reason phrase of several words
        {"SIP/2.0 180", true, false, "", 180},                   // no reason phrase at all
        {"SIP/2.0 486\tBusy Here", true, false, "", 486},
        {"sip/2.0 699 x", true, false, "", 699},
        {"SIP/2.0 100 Trying", true, false, "", 100},
        {"SIP/2.0 099 Early", false, false, "", 0},  // status outside 100..699
        {"SIP/2.0 700 Late", false, false, "", 0},
        {"SIP/2.0 2000 OK", false, false, "", 0},  // four digits
        {"SIP/2.0 20 OK", false, false, "", 0},
        {"SIP/2.0 OK", false, false, "", 0},
        {"SIP/3.0 200 OK", false, false, "", 0},
        {"HELLO sip:b@x HTTP/1.1", false, false, "", 0},
        {"INVITE SIP/2.0", false, false, "", 0},           // no request URI
        {"INV:ITE sip:b@x SIP/2.0", false, false, "", 0},  // not a token
        {"INVITE", false, false, "", 0},
        {"", false, false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string text = std::string(c.line) + "\r\nCall-ID: x\r\n\r\n";
        EXPECT_EQ(StartsLikeSip(text.data(), text.size()), c.sip);
        const Parsed p = Parse(text);
        ASSERT_EQ(p.result, c.sip ? SipParse::kMessage : SipParse::kNotSip);
        if (!c.sip)
            continue;
        EXPECT_EQ(p.message.request, c.request);
        EXPECT_EQ(p.message.method, c.method);
        EXPECT_EQ(p.message.status, c.status);
    }
}

TEST(SipStartLine, MethodAndLineLengthsAreBounded)
{
    const std::string longest(32, 'M');
    EXPECT_EQ(Parse(longest + " sip:b@x SIP/2.0\r\n\r\n").result, SipParse::kMessage);
    EXPECT_EQ(Parse(longest + "M sip:b@x SIP/2.0\r\n\r\n").result, SipParse::kNotSip);
    // A start line without its end within kMaxStartLineBytes (a URI that
    // long) is no SIP a call uses.
    auto startLine = [](size_t bytes) { return "INVITE sip:" + std::string(bytes - 19, 'u') + " SIP/2.0"; };
    ASSERT_EQ(startLine(100).size(), 100u);
    EXPECT_EQ(Parse(startLine(kMaxStartLineBytes - 1) + "\n\n").result, SipParse::kMessage);
    EXPECT_EQ(Parse(startLine(kMaxStartLineBytes - 1) + "\r\n\r\n").result, SipParse::kNotSip);
    // RTP begins with 0x80..0xbf: refused at the first byte.
    const std::string rtp = "\x80\x04SIP/2.0 200 OK\r\n";
    EXPECT_FALSE(StartsLikeSip(rtp.data(), rtp.size()));
}

TEST(SipHeaders, LongCompactAndCaseInsensitiveNames)
{
    struct Case {
        const char* name;
        std::vector<std::string> headers;
    };
    const Case cases[] = {
        {"long names",
         {"Call-ID: c1", "From: <sip:a@x>;tag=f", "To: <sip:b@x>;tag=t", "Content-Type: application/sdp",
          "Content-Length: 3"}},
        {"compact names", {"i: c1", "f: <sip:a@x>;tag=f", "t: <sip:b@x>;tag=t", "c: application/sdp", "l: 3"}},
        {"upper-case compact names",
         {"I: c1", "F: <sip:a@x>;tag=f", "T: <sip:b@x>;tag=t", "C: application/sdp", "L: 3"}},
        {"names in other cases, spaces around the colon",
         {"CALL-ID  :  c1", "from:<sip:a@x>;tag=f", "tO : <sip:b@x>;tag=t", "CONTENT-TYPE: Application/SDP",
          "content-length:\t3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed p = Parse(Invite(c.headers, "v=0\r\n"));
        ASSERT_EQ(p.result, SipParse::kMessage);
        EXPECT_EQ(p.message.callId, "c1");
        EXPECT_EQ(p.message.from.uri, "sip:a@x");
        EXPECT_EQ(p.message.from.tag, "f");
        EXPECT_EQ(p.message.to.tag, "t");
        EXPECT_EQ(p.message.contentType, "application/sdp");
        EXPECT_EQ(p.message.body, "v=0");  // Content-Length 3 read under each name
        EXPECT_EQ(p.message.malformedLines, 0u);
    }
}

TEST(SipHeaders, FoldedLinesContinueTheirHeader)
{
    // A line that begins with a space or a tab continues the one before.
    const Parsed p =
        Parse(Invite({"To: \"Bob\"", "  <sip:bob@example.com>", "\t;tag=b1", "Call-ID: folded", "CSeq: 7", " INVITE"}));
    ASSERT_EQ(p.result, SipParse::kMessage);
    EXPECT_EQ(p.message.to.displayName, "Bob");
    EXPECT_EQ(p.message.to.uri, "sip:bob@example.com");
    EXPECT_EQ(p.message.to.tag, "b1");
    EXPECT_EQ(p.message.cseq, 7u);
    EXPECT_EQ(p.message.cseqMethod, "INVITE");
    EXPECT_EQ(p.message.callId, "folded");
    EXPECT_EQ(p.message.malformedLines, 0u);
}

TEST(SipHeaders, RepeatedAndUnreadableHeaders)
{
    const Parsed p = Parse(Invite({"Call-ID: first", "Call-ID: second", "Replaces: a@x;to-tag=1;from-tag=2",
                                   "Replaces: b@x;to-tag=3;from-tag=4", "no colon here", ": nameless",
                                   "Bad Name: spaces are no token", "CSeq: one INVITE", "CSeq: 12", "X-Other: kept out",
                                   "Via: SIP/2.0/UDP 10.0.0.1:5060;branch=z9hG4bK1"}));
    ASSERT_EQ(p.result, SipParse::kMessage);
    EXPECT_EQ(p.message.callId, "first");  // the first Call-ID names the call
    EXPECT_EQ(p.message.replaces, "a@x;to-tag=1;from-tag=2");
    EXPECT_EQ(p.message.malformedLines, 5u);  // no colon, nameless, bad name, both CSeqs
    EXPECT_EQ(p.message.cseq, 0u);
}

TEST(SipHeaders, OnlyTheFirstHeaderLinesAreRead)
{
    // The Call-ID as header line `at`, after lines that count as headers.
    auto callIdAt = [](size_t at) {
        std::vector<std::string> headers(at - 1, "X-Filler: y");
        headers.push_back("Call-ID: late");
        headers.push_back("X-After: z");
        return Parse(Invite(headers)).message;
    };
    const SipMessage last = callIdAt(kMaxHeaderLines);
    EXPECT_EQ(last.callId, "late");
    EXPECT_EQ(last.malformedLines, 1u);  // the line after it
    const SipMessage beyond = callIdAt(kMaxHeaderLines + 1);
    EXPECT_EQ(beyond.callId, "");
    EXPECT_EQ(beyond.malformedLines, 2u);
}

TEST(SipHeaders, StoredFieldsAreCut)
{
    const std::string huge(kMaxFieldBytes + 100, 'x');
    const Parsed p = Parse(Invite({"Call-ID: " + huge, "From: \"" + huge + "\" <sip:" + huge + ">;tag=" + huge}));
    EXPECT_EQ(p.message.callId, huge.substr(0, kMaxFieldBytes));
    EXPECT_EQ(p.message.from.displayName.size(), kMaxFieldBytes);
    EXPECT_EQ(p.message.from.uri.size(), kMaxFieldBytes);
    EXPECT_EQ(p.message.from.tag.size(), kMaxFieldBytes);
    EXPECT_TRUE(p.message.longFields);
    EXPECT_FALSE(Parse(Invite({"Call-ID: " + std::string(kMaxFieldBytes, 'x')})).message.longFields);
}

TEST(SipHeaders, NameAddressForms)
{
    struct Case {
        const char* value;
        const char* displayName;
        const char* uri;
        const char* tag;
    };
    const Case cases[] = {
        {"\"Alice\" <sip:alice@example.com>;tag=a1", "Alice", "sip:alice@example.com", "a1"},
        {"Bob <sip:bob@example.com>", "Bob", "sip:bob@example.com", ""},
        {"\"Say \\\"hi\\\" <now>\" <sip:c@x>;TAG=\"q\"", "Say \"hi\" <now>", "sip:c@x", "q"},
        // The URI's own parameters stay in it; the header's follow the '>'.
        {"<sip:d@x;transport=tcp;tag=inner>;tag=outer", "", "sip:d@x;transport=tcp;tag=inner", "outer"},
        // A bare URI: what follows its first ';' belongs to the header.
        {"sip:e@x;tag=7", "", "sip:e@x", "7"},
        {"  sip:f@x  ", "", "sip:f@x", ""},
        {"G <sip:g@x", "G", "sip:g@x", ""},  // unclosed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const NameAddress a = ParseNameAddress(c.value);
        EXPECT_EQ(a.displayName, c.displayName);
        EXPECT_EQ(a.uri, c.uri);
        EXPECT_EQ(a.tag, c.tag);
    }
}

TEST(SipHeaders, ContentTypeParameters)
{
    const Parsed p = Parse(Invite({"Content-Type: Multipart/Mixed ; charset=x; Boundary=\"unique-boundary-1\""}));
    EXPECT_EQ(p.message.contentType, "multipart/mixed");
    EXPECT_EQ(p.message.boundary, "unique-boundary-1");
}

// In a datagram the message ends with it: Content-Length may cut the body
// short, and without one the body is the rest. A length past the end, or
// one that cannot be read, is passed over and the headers still count.
TEST(SipBody, DatagramBodies)
{
    struct Case {
        const char* name;
        std::string text;
        const char* body;
        bool lengthPastEnd;
        uint32_t malformed;
    };
    const Case cases[] = {
        {"length of the body", Invite({"Content-Length: 5"}, "v=0\r\n"), "v=0\r\n", false, 0},
        {"length shorter than what follows", Invite({"l: 3"}, "v=0\r\ntrailing"), "v=0", false, 0},
        {"no length: the rest", Invite({}, "v=0\r\nrest"), "v=0\r\nrest", false, 0},
        {"zero length", Invite({"Content-Length: 0"}, "stray"), "", false, 0},
        {"length past the datagram", Invite({"Content-Length: 500"}, "v=0\r\n"), "", true, 0},
        {"unreadable length", Invite({"Content-Length: five"}, "v=0\r\n"), "v=0\r\n", false, 1},
        {"length of ten digits", Invite({"Content-Length: 1000000000"}, "v=0"), "v=0", false, 1},
        {"LF line ends", "INVITE sip:b@x SIP/2.0\nl: 4\n\nv=0\n", "v=0\n", false, 0},
        {"no empty line: headers to the end", "INVITE sip:b@x SIP/2.0\r\nContent-Length: 0\r\nCall-ID: end", "", false,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed p = Parse(c.text);
        ASSERT_EQ(p.result, SipParse::kMessage);
        EXPECT_EQ(p.message.body, c.body);
        EXPECT_EQ(p.message.lengthPastEnd, c.lengthPastEnd);
        EXPECT_EQ(p.message.malformedLines, c.malformed);
        EXPECT_EQ(p.consumed, c.text.size());
    }
    EXPECT_EQ(Parse(cases[8].text).message.callId, "end");
}

// On a stream (TCP) the message is delimited by the empty line and
// Content-Length; until both are there it is incomplete.
TEST(SipBody, StreamMessagesAreDelimitedByContentLength)
{
    const std::string first = Invite({"Call-ID: one", "Content-Length: 5"}, "v=0\r\n");
    const std::string second = Invite({"Call-ID: two", "l: 0"});
    const std::string both = first + second;

    Parsed p = Parse(both, false);
    ASSERT_EQ(p.result, SipParse::kMessage);
    EXPECT_EQ(p.consumed, first.size());
    EXPECT_EQ(p.message.body, "v=0\r\n");
    p = Parse(both.substr(first.size()), false);
    ASSERT_EQ(p.result, SipParse::kMessage);
    EXPECT_EQ(p.message.callId, "two");
    EXPECT_EQ(p.consumed, second.size());

    // Every prefix of the first message from its whole start line on, short
    // of its end, is incomplete; once its headers are all there, it says
    // how long the whole message will be.
    const size_t headers = first.size() - 5;
    for (size_t size = first.find('\r'); size < first.size(); ++size) {
        p = Parse(first.substr(0, size), false);
        EXPECT_EQ(p.result, SipParse::kIncomplete) << size;
        EXPECT_EQ(p.consumed, size >= headers ? first.size() : 0u) << size;
    }

    // Without Content-Length the body is empty: the message ends at the empty line.
    p = Parse(Invite({"Call-ID: bare"}, "next"), false);
    ASSERT_EQ(p.result, SipParse::kMessage);
    EXPECT_EQ(p.message.body, "");
    EXPECT_EQ(p.consumed, Invite({"Call-ID: bare"}).size());
}

TEST(SipBody, StreamLengthsThatCannotBeUsed)
{
    struct Case {
        const char* name;
        std::string text;
        SipParse result;
    };
    const std::string endless = "INVITE sip:b@x SIP/2.0\r\n" + std::string(kMaxMessageBytes, 'x');
    const Case cases[] = {
        {"unreadable length", Invite({"Content-Length: many"}), SipParse::kBadLength},
        {"length of ten digits", Invite({"Content-Length: 4000000000"}), SipParse::kBadLength},
        {"length beyond the bound", Invite({"Content-Length: " + std::to_string(kMaxMessageBytes)}),
         SipParse::kTooLarge},
        {"headers that never end", endless, SipParse::kTooLarge},
        {"headers not ended yet", endless.substr(0, 1000), SipParse::kIncomplete},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Parse(c.text, false).result, c.result);
    }
    // A datagram beyond the bound is refused too; within it, one without
    // the empty line is read to its end.
    EXPECT_EQ(Parse(endless + "\r\n").result, SipParse::kTooLarge);
    EXPECT_EQ(Parse(endless.substr(0, 1000)).result, SipParse::kMessage);
}

SipMessage WithBody(const std::string& contentType, const std::string& body)
{
    std::vector<std::string> headers;
    if (!contentType.empty())
        headers.push_back("Content-Type: " + contentType);
    return Parse(Invite(headers, body)).message;
}

// A multipart body of these parts, each "Content-Type: TYPE" and its text.
std::string Multipart(const std::vector<std::pair<std::string, std::string>>& parts, const std::string& end = "\r\n")
{
    std::string body = "preamble, not a part" + end;
    for (const auto& part : parts)
        body += "--b42" + end + "Content-Type: " + part.first + end + end + part.second + end;
    return body + "--b42--" + end;
}

TEST(SdpBody, FoundByContentTypeOrByItsFirstLine)
{
    const std::string sdp = "v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 4\r\n";
    struct Case {
        const char* name;
        std::string contentType;
        std::string body;
        std::string want;
    };
    const Case cases[] = {
        {"application/sdp", "application/sdp", sdp, sdp},
        {"type in capitals, with parameters", "Application/SDP; charset=utf-8", sdp, sdp},
        {"no type, reads as SDP", "", sdp, sdp},
        {"no type, not SDP", "", "hello", ""},
        {"another type", "text/plain", sdp, ""},
        {"empty SDP body", "application/sdp", "", ""},
        {"SDP after ISUP", "multipart/mixed;boundary=b42",
         Multipart({{"application/isup", "xx"}, {"application/sdp", sdp}}), sdp},
        {"SDP first, parameters on its type", "multipart/mixed;boundary=b42",
         Multipart({{"application/sdp; charset=x", sdp}, {"application/isup", "xx"}}), sdp},
        {"LF line ends", "multipart/mixed;boundary=b42", Multipart({{"application/sdp", "v=0\n"}}, "\n"), "v=0\n"},
        {"no SDP part", "multipart/mixed;boundary=b42", Multipart({{"application/isup", "v=0"}}), ""},
        {"no boundary", "multipart/mixed", Multipart({{"application/sdp", sdp}}), ""},
        {"another boundary", "multipart/mixed;boundary=other", Multipart({{"application/sdp", sdp}}), ""},
        {"SDP after the closing delimiter", "multipart/mixed;boundary=b42",
         Multipart({{"application/isup", "xx"}}) + "--b42\r\nContent-Type: application/sdp\r\n\r\n" + sdp, ""},
        {"last part not closed", "multipart/mixed;boundary=b42",
         "--b42\r\nContent-Type: application/isup\r\n\r\nxx\r\n--b42\r\nc: application/sdp\r\n\r\nv=0", "v=0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SdpBody(WithBody(c.contentType, c.body)), c.want);
    }
}

TEST(SdpBody, OnlyTheFirstPartsAreLookedAt)
{
    auto sdpAsPart = [](size_t n) {
        std::vector<std::pair<std::string, std::string>> parts(n - 1, {"application/isup", "xx"});
        parts.push_back({"application/sdp", "v=0"});
        return SdpBody(WithBody("multipart/mixed; boundary=b42", Multipart(parts)));
    };
    EXPECT_EQ(sdpAsPart(kMaxBodyParts), "v=0");
    EXPECT_EQ(sdpAsPart(kMaxBodyParts + 1), "");
}

}  // namespace
}  // namespace mervox::media::signalling
