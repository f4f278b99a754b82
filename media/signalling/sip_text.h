// Text helpers of the SIP and SDP readers: everything they read comes from
// the capture, so every copy is bounded and every comparison tolerant of
// case and stray whitespace.
#pragma once

#include <cstddef>
#include <string>

namespace mervox::media::signalling {

// Stored text of any field (Call-ID, names, URIs, tags) is cut to this many
// bytes: a 10 KB header costs no more than a normal one.
constexpr size_t kMaxFieldBytes = 256;

// `text` without leading and trailing spaces and tabs.
std::string Trim(const std::string& text);
// At most kMaxFieldBytes of `text`; `cut` is set when something was left out.
std::string Bounded(const std::string& text, bool* cut = nullptr);
// ASCII case-insensitive equality and prefix test.
bool SameText(const std::string& a, const char* b);
bool StartsWithText(const std::string& text, const char* prefix);
std::string Lower(const std::string& text);
// The value of parameter `name` in ";a=1;name=value;..." (case-insensitive
// name), or "" when absent. Quotes around the value are removed.
std::string Parameter(const std::string& params, const char* name);
// Parses a decimal number of at most 9 digits (spaces around allowed);
// false on anything else.
bool ParseCount(const std::string& text, size_t& value);

}  // namespace mervox::media::signalling
