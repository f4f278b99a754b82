// `mervox decode` on the corpus: the files it writes hold exactly what the
// library produces, 240 samples for every frame (lost ones included).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "cli_test_support.h"
#include "decode/loss.h"
#include "test_support.h"

namespace mervox::test {
namespace {

const std::string kCorpus = DataPath("corpus/");

class DecodeCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(DecodeCorpus, WavHoldsTheLibrarysSamples)
{
    const std::string dir = ScratchDir();
    const std::string in = kCorpus + GetParam() + ".bit";
    const CliRun run = RunCli("decode '" + in + "' -o '" + dir + "/out.wav'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ListDir(dir), std::vector<std::string>{"out.wav"});

    const std::vector<uint8_t> bytes = ReadFileBytes(dir + "/out.wav");
    const WavFile wav = ParseWav(bytes);
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.riffSize, bytes.size() - 8);
    EXPECT_EQ(wav.formatTag, 1);  // integer PCM
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(wav.sampleRate, 8000u);
    EXPECT_EQ(wav.byteRate, 16000u);
    EXPECT_EQ(wav.blockAlign, 2);
    EXPECT_EQ(wav.bitsPerSample, 16);

    const std::vector<uint8_t> stream = ReadFileBytes(in);
    EXPECT_EQ(wav.samples.size(), 240 * SplitStream(stream).size());
    EXPECT_TRUE(wav.samples == DecodeWithLegacyApi(stream));
}

INSTANTIATE_TEST_SUITE_P(Streams, DecodeCorpus,
                         ::testing::Values("speech-a.63", "speech-a.53", "speech-a.mixed", "speech-a.63-vad",
                                           "speech-a.53-vad", "speech-a.63-enc2"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string n = param.param;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n;
                         });

// Digest of the recorded expected output named `name` in expected-digests.txt.
uint64_t RecordedDigest(const std::string& name)
{
    std::ifstream in(kCorpus + "expected-digests.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string n, hex;
        size_t frames;
        if (fields >> n >> frames >> hex && n == name)
            return std::stoull(hex, nullptr, 16);
    }
    ADD_FAILURE() << "no digest for " << name;
    return 0;
}

TEST(DecodeOptions, LossMaskGivesTheRecordedOutput)
{
    const std::string dir = ScratchDir();
    for (const std::string& stem : {std::string("speech-a.63"), std::string("speech-a.mixed")}) {
        const CliRun run = RunCli("decode '" + kCorpus + stem + ".bit' --loss '" + kCorpus + stem + ".loss' -o '" +
                                  dir + "/" + stem + ".raw'");
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<int16_t> pcm = SamplesFromS16le(ReadFileBytes(dir + "/" + stem + ".raw"));
        EXPECT_EQ(pcm.size(), 3906u * 240);
        EXPECT_EQ(Fnv1a64(pcm), RecordedDigest(stem + ".loss")) << stem;
    }
}

TEST(DecodeOptions, DropRateIsReproducibleBySeedAndCombinesWithTheMask)
{
    const std::string dir = ScratchDir();
    const std::string in = kCorpus + "speech-a.53.bit";
    const std::string mask = kCorpus + "speech-a.53.loss";
    const std::vector<uint8_t> stream = ReadFileBytes(in);
    const size_t frames = SplitStream(stream).size();

    ASSERT_EQ(RunCli("decode '" + in + "' --drop-rate 0.2 --seed 42 -o '" + dir + "/a.raw'").status, 0);
    ASSERT_EQ(RunCli("decode '" + in + "' --seed 42 --drop-rate 0.2 -o '" + dir + "/b.raw'").status, 0);
    ASSERT_EQ(RunCli("decode '" + in + "' --drop-rate 0.2 --seed 43 -o '" + dir + "/c.raw'").status, 0);
    ASSERT_EQ(
        RunCli("decode '" + in + "' --drop-rate 0.2 --seed 42 --loss '" + mask + "' -o '" + dir + "/d.raw'").status, 0);
    const std::vector<int16_t> a = SamplesFromS16le(ReadFileBytes(dir + "/a.raw"));
    EXPECT_EQ(a.size(), frames * 240);
    EXPECT_TRUE(a == SamplesFromS16le(ReadFileBytes(dir + "/b.raw")));
    EXPECT_FALSE(a == SamplesFromS16le(ReadFileBytes(dir + "/c.raw")));
    EXPECT_TRUE(a == DecodeWithLegacyApi(stream, media::decode::BuildLossPlan(frames, {}, 0.2, 42)));
    EXPECT_FALSE(a == DecodeWithLegacyApi(stream));
    const std::vector<uint8_t> maskBytes = ReadFileBytes(mask);
    EXPECT_TRUE(SamplesFromS16le(ReadFileBytes(dir + "/d.raw")) ==
                DecodeWithLegacyApi(stream, media::decode::BuildLossPlan(frames, maskBytes, 0.2, 42)));
}

TEST(DecodeOptions, RawFormatsStdinStdoutAndDefaultName)
{
    const std::string dir = ScratchDir();
    const std::string in = kCorpus + "speech-a.mixed.bit";
    const std::vector<uint8_t> stream = ReadFileBytes(in);
    const std::vector<int16_t> want = DecodeWithLegacyApi(stream);
    WriteFileBytes(dir + "/call.g723", stream);

    ASSERT_EQ(RunCli("decode '" + dir + "/call.g723'").status, 0);  // -> call.wav beside it
    const std::vector<uint8_t> wav = ReadFileBytes(dir + "/call.wav");
    EXPECT_TRUE(ParseWav(wav).samples == want);

    ASSERT_EQ(RunCli("decode - -o '" + dir + "/x.PCM'", in).status, 0);
    EXPECT_TRUE(SamplesFromS16le(ReadFileBytes(dir + "/x.PCM")) == want);
    ASSERT_EQ(RunCli("decode '" + in + "' -o '" + dir + "/y.wav' --format raw").status, 0);
    EXPECT_TRUE(SamplesFromS16le(ReadFileBytes(dir + "/y.wav")) == want);

    const CliRun toStdout = RunCli("decode - -o -", in);
    ASSERT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_TRUE(std::vector<uint8_t>(toStdout.out.begin(), toStdout.out.end()) == wav);
    const CliRun rawStdout = RunCli("decode '" + in + "' -o - -f raw --quiet");
    ASSERT_EQ(rawStdout.status, 0);
    EXPECT_TRUE(SamplesFromS16le(std::vector<uint8_t>(rawStdout.out.begin(), rawStdout.out.end())) == want);
}

}  // namespace
}  // namespace mervox::test
