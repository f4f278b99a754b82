// Reading a whole input file (or standard input, "-") into memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mervox::cli {

// Name to show in messages: the path, or "<stdin>" for "-".
std::string DisplayName(const std::string& path);

// Reads everything; on failure returns false and sets *error to one line
// naming the file.
bool ReadInput(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// ReadInput for a stream file, which must hold at least one byte: an empty
// one fails with "NAME: byte 0: empty input, no frames".
bool ReadStreamInput(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// The path without the extension of its last component ("dir/call.bit" ->
// "dir/call"); a leading dot (".call") is a name, not an extension.
std::string PathWithoutExtension(const std::string& path);

// Whether both paths name one existing regular file (links and other
// spellings included); "-", pipes and devices (a terminal that is both
// /dev/stdin and /dev/stdout) never count.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace mervox::cli
