#include "signalling/sip_reader.h"

namespace mervox::media::signalling {

SipReader::SipReader(TcpLimits tcpLimits)
    : dialogs_(counters_),
      tcp_(
          counters_,
          [this](const SipMessage& m, const Endpoint& source, const Endpoint& destination) {
              Message(m, source, destination, now_);
          },
          tcpLimits)
{}

bool SipReader::Datagram(const Endpoint& source, const Endpoint& destination, ByteView payload, double time)
{
    const auto* text = reinterpret_cast<const char*>(payload.data);
    if (!StartsLikeSip(text, payload.size))
        return false;
    SipMessage message;
    size_t consumed = 0;
    switch (ParseSipMessage(text, payload.size, true, message, consumed)) {
    case SipParse::kMessage:
        Message(message, source, destination, time);
        break;
    case SipParse::kTooLarge:
        ++counters_[SipProblem::kTooLarge];
        break;
    case SipParse::kNotSip:
    case SipParse::kIncomplete:
    case SipParse::kBadLength:
        ++counters_[SipProblem::kMalformedMessage];
        break;
    }
    return true;
}

bool SipReader::Segment(const Endpoint& source, const Endpoint& destination, const TcpSegmentInfo& segment, double time)
{
    now_ = time;
    return tcp_.Segment(source, destination, segment, time);
}

void SipReader::Message(const SipMessage& message, const Endpoint& source, const Endpoint& destination, double time)
{
    ++counters_.messages;
    counters_[SipProblem::kMalformedLines] += message.malformedLines;
    if (message.longFields)
        ++counters_[SipProblem::kLongFields];
    if (message.lengthPastEnd)
        ++counters_[SipProblem::kLengthPastEnd];
    dialogs_.Add(message, source, destination, time);
}

void SipReader::Sweep(double now)
{
    dialogs_.Sweep(now);
    tcp_.Sweep(now);
}

}  // namespace mervox::media::signalling
