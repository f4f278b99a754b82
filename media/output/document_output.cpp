#include "output/document_output.h"

#include <vector>

#include "output/pcm_output.h"

namespace mervox::media::output {

base::Status WriteDocument(const std::string& path, const std::string& text)
{
    // Raw output writes each 16-bit value low byte first: the document's
    // bytes in pairs, an odd last byte followed by a newline (no document
    // of ours minds one more).
    std::string bytes = text;
    if (bytes.size() % 2)
        bytes += '\n';
    std::vector<int16_t> pairs(bytes.size() / 2);
    for (size_t i = 0; i < pairs.size(); ++i)
        pairs[i] = static_cast<int16_t>(
            static_cast<uint16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    base::Result<std::unique_ptr<PcmSink>> out = OpenPcmOutput(path, PcmFormat::kRaw);
    if (!out.ok())
        return out.status();
    const base::Status written = out.value()->Write(pairs.data(), pairs.size());
    if (!written.ok())
        return written;
    return out.value()->Finish();
}

}  // namespace mervox::media::output
