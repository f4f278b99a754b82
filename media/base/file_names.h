// File names made from what a capture says (a caller's name, an address):
// one rule on every platform, so that nothing from the capture reaches the
// file system as it is.
//   SafeNamePart("../etc/passwd") == "%2E%2E%2Fetc%2Fpasswd"
//   UniqueNames names;  names.Claim("a.wav") == "a.wav";  names.Claim("A.WAV") == "A-2.WAV"
//   FitName("out/capture", "-20261207T101500Z", "-alice-bob", ".wav"): whole while the name
//   fits one directory entry, else "-alice-bob" cut first, then "capture"
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>

namespace mervox::media::base {

// Bytes of one part of a name, escapes included, at most.
constexpr size_t kNamePartBytes = 64;

// The longest name of one directory entry, in bytes: POSIX file systems'
// NAME_MAX; Windows allows 255 UTF-16 units, which 255 bytes of UTF-8
// never exceed.
constexpr size_t kMaxNameBytes = 255;

// One part of a file name, safe on POSIX and Windows file systems alike:
// ASCII letters, digits and "-_+=@,~" stay; a dot stays where it is neither
// the first nor the last byte nor next to another dot; every other byte
// (a path separator, "<>:\"|?*%", a space, a control character, a byte of
// a multibyte UTF-8 character) becomes %XX (its value in hexadecimal). A
// part that is a Windows device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9),
// alone or before a dot, gets "_" after the device name. Parts longer than
// kNamePartBytes are cut (never inside an escape); an empty part is "_".
std::string SafeNamePart(const std::string& text);

// `head` + `kept` + `tail` + `end`, cut so that its last part (after the
// directory of `head`) fits one directory entry (kMaxNameBytes): `tail`
// is cut from its end first (never inside a %XX escape, nor leaving a dot
// last), then the name part of `head` (at a UTF-8 character's start);
// `kept` and `end` stay whole.
std::string FitName(const std::string& head, const std::string& kept, const std::string& tail, const std::string& end);

// Names handed out once each: a name already given, compared without
// regard to ASCII case, gets "-2" (then "-3", ...) before its extension.
// Deterministic: the same claims in the same order give the same names.
class UniqueNames {
public:
    std::string Claim(const std::string& name);
    // The name FitName makes of the parts and `extension`, claimed as
    // above: the "-N" goes between `tail` and `extension`, and the name is
    // cut to fit with it.
    std::string Claim(const std::string& head, const std::string& kept, const std::string& tail,
                      const std::string& extension);
    // As above, for a name of something that began at `time` (seconds):
    // Forget(before) lets names of what began before then be given again,
    // so that a recorder that runs for days holds a day's names, not all.
    std::string Claim(const std::string& head, const std::string& kept, const std::string& tail,
                      const std::string& extension, double time);
    void Forget(double before);

private:
    std::set<std::string> taken_;                // lowercased
    std::multimap<double, std::string> byTime_;  // the names claimed with a time, lowercased
};

}  // namespace mervox::media::base
