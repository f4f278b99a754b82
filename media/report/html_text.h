// Text from a capture (names, Call-IDs, addresses: whatever its senders
// wrote) made safe for an HTML page: every character that HTML gives a
// meaning is escaped, control characters and bytes that are no UTF-8 show
// as U+FFFD, and long values are cut short for display.
#pragma once

#include <string>
#include <string_view>

namespace mervox::media::report {

// For element content and quoted attribute values: & < > " ' escaped,
// control characters (tab and newline included: a value is one line) and
// invalid UTF-8 as "&#xFFFD;". Every other character is kept as it is.
std::string HtmlEscape(std::string_view text);

// At most `characters` characters (UTF-8 sequences; each invalid byte
// counts as one), ending in "…" when cut. Escape the result.
std::string ShortText(std::string_view text, size_t characters);

// A path for an href: relative paths stay relative; every byte but
// letters, digits and -._~/ is percent-encoded (so a name with ':' or '#'
// cannot become a scheme or a fragment). Escape the result.
std::string UrlPath(std::string_view path);

// `target` as seen from the directory `fromDirectory` (both absolute or
// both relative to the same directory; "." and ".." resolved in the
// text, symbolic links not followed).
std::string RelativePath(const std::string& fromDirectory, const std::string& target);

}  // namespace mervox::media::report
