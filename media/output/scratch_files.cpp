#include "output/scratch_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace mervox::media::output {
namespace {

constexpr char kTag[] = "-stream-";
constexpr char kExtension[] = ".raw";

// A number of decimal digits only, without a sign or leading zero.
std::optional<uint64_t> Number(const std::string& text)
{
    if (text.empty() || text.size() > 19 || (text[0] == '0' && text.size() > 1))
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

// The directory of the scratch files: the prefix's, up to the first folder
// that date fields name (base/date_fields.h), which changes with the time.
std::string DirectoryPart(const std::string& prefix)
{
    const size_t field = prefix.find('%');
    return prefix.substr(0, platform::NameStart(field == std::string::npos ? prefix : prefix.substr(0, field)));
}

}  // namespace

std::string ScratchPrefix(const std::string& prefix, unsigned long processId)
{
    return DirectoryPart(prefix) + "." + prefix.substr(platform::NameStart(prefix), kScratchNameBytes) + "-" +
           std::to_string(processId) + kTag;
}

std::string ScratchPath(const std::string& prefix, unsigned long processId, uint64_t number)
{
    return ScratchPrefix(prefix, processId) + std::to_string(number) + kExtension;
}

std::optional<ScratchName> ParseScratchName(const std::string& name)
{
    // The temporary a scratch file is written to until its stream ends
    // (output/atomic_file_sink: "." + the name + ".XXXXXX", six letters or
    // digits; a scratch name is short enough never to be cut there).
    constexpr size_t kUnique = 7;  // ".XXXXXX"
    if (name.size() > 2 + kUnique && name.compare(0, 2, "..") == 0 && name[name.size() - kUnique] == '.' &&
        std::all_of(name.end() - (kUnique - 1), name.end(),
                    [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; })) {
        std::optional<ScratchName> written = ParseScratchName(name.substr(1, name.size() - 1 - kUnique));
        if (written)
            written->temporary = true;
        return written;
    }
    // From the end: the extension, the number, the tag, the process id;
    // what is before it is the prefix's name (any bytes, even none).
    const std::string extension = kExtension, tag = kTag;
    if (name.empty() || name[0] != '.' || name.size() < 1 + extension.size() ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
        return std::nullopt;
    const std::string stem = name.substr(1, name.size() - 1 - extension.size());
    const size_t at = stem.rfind(tag);
    if (at == std::string::npos)
        return std::nullopt;
    const size_t dash = stem.rfind('-', at == 0 ? 0 : at - 1);
    if (at == 0 || dash == std::string::npos)
        return std::nullopt;
    const std::optional<uint64_t> number = Number(stem.substr(at + tag.size()));
    const std::optional<uint64_t> process = Number(stem.substr(dash + 1, at - dash - 1));
    if (!number || !process || *process == 0 || dash > kScratchNameBytes)
        return std::nullopt;
    return ScratchName{static_cast<unsigned long>(*process), *number, false};
}

StaleScratch RemoveStaleScratchFiles(const std::string& prefix, std::chrono::system_clock::time_point started)
{
    StaleScratch result;
    const std::string directory = DirectoryPart(prefix);
    std::vector<std::string> names;
    const int listed = platform::ListDirectory(directory.empty() ? "." : directory, &names);
    if (listed != 0) {
        result.error = listed == ENOENT ? 0 : listed;
        return result;
    }
    const int64_t startedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(started.time_since_epoch()).count();
    for (const std::string& name : names) {
        const std::optional<ScratchName> scratch = ParseScratchName(name);
        if (!scratch || platform::ProcessRunning(scratch->processId))
            continue;
        const std::string path = directory + name;
        platform::FileStatus st;
        if (platform::StatPath(path, &st) != 0 || st.kind != platform::FileKind::kRegular || st.modifiedNs >= startedNs)
            continue;
        const int removed = platform::RemoveFile(path);
        if (removed == 0)
            ++result.removed;
        else if (removed != ENOENT && result.error == 0)  // ENOENT: another run's cleaner was first
            result.error = removed;
    }
    return result;
}

}  // namespace mervox::media::output
