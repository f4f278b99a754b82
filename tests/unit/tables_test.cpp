// The float tables must be exactly the stored values: each G.723.1 integer
// divided by its unit, written as a short decimal (ties to even) and read
// back as the nearest float.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tables/tables.h"
#include "test_support.h"

namespace mervox {
namespace {

std::vector<long> ReadIntegers(const std::string& file)
{
    std::ifstream in(test::DataPath("g7231-tables/" + file));
    EXPECT_TRUE(in.good()) << file;
    std::vector<long> values;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        long v;
        while (fields >> v)
            values.push_back(v);
    }
    return values;
}

float Stored(long n, double unit, const char* format)
{
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<double>(n) / unit);
    return std::strtof(text, nullptr);
}

void ExpectTable(const float* table, size_t count, const std::string& file, double unit, const char* format)
{
    const std::vector<long> integers = ReadIntegers(file);
    ASSERT_EQ(integers.size(), count) << file;
    for (size_t i = 0; i < count; ++i)
        ASSERT_EQ(table[i], Stored(integers[i], unit, format)) << file << " entry " << i;
}

TEST(Tables, DerivedFromStandardIntegers)
{
    ExpectTable(LspMeanTable, 10, "lsp_mean.txt", 128.0, "%.6g");
    ExpectTable(&LspBandTable0[0][0], 256 * 3, "lsp_band0.txt", 128.0, "%.6g");
    ExpectTable(&LspBandTable1[0][0], 256 * 3, "lsp_band1.txt", 128.0, "%.6g");
    ExpectTable(&LspBandTable2[0][0], 256 * 4, "lsp_band2.txt", 128.0, "%.6g");
    ExpectTable(CosineTable, 512, "cosine_q14.txt", 16384.0, "%.6g");
    ExpectTable(&PitchTapTable85[0][0], 85 * 5, "pitch_taps85.txt", 16384.0, "%.6f");
    ExpectTable(&PitchTapTable170[0][0], 170 * 5, "pitch_taps170.txt", 16384.0, "%.6f");
    ExpectTable(FixedGainTable, 24, "fixed_gains.txt", 0.5, "%.6g");
}

TEST(Tables, QuotedRows)
{
    // Decimal ties go to even: 154.3125 is held as 154.312.
    EXPECT_EQ(LspMeanTable[6], 154.312f);
    EXPECT_EQ(LspMeanTable[0], 24.4609f);
    EXPECT_EQ(LspMeanTable[9], 216.547f);
    EXPECT_EQ(LspBandTable0[1][0], -2.10938f);
    EXPECT_NE(LspBandTable0[1][0], -2.109375f);
    EXPECT_EQ(LspBandTable0[255][2], 46.9688f);
    EXPECT_EQ(LspBandTable1[1][2], 0.59375f);
    EXPECT_EQ(LspBandTable2[1][0], 4.69531f);
    EXPECT_EQ(LspBandTable2[1][3], 2.60938f);
    EXPECT_EQ(CosineTable[1], 0.999939f);
    EXPECT_EQ(CosineTable[64], 0.707092f);
    EXPECT_EQ(CosineTable[128], 0.0f);
    EXPECT_EQ(CosineTable[256], -1.0f);
    EXPECT_EQ(PitchTapTable85[84][1], 0.560059f);
    EXPECT_EQ(PitchTapTable85[73][1], 1.067993f);
    EXPECT_EQ(PitchTapTable170[154][2], 1.154419f);
    EXPECT_EQ(PitchTapTable170[169][4], 0.399048f);
    EXPECT_EQ(FixedGainTable[23], 13246.0f);
}

TEST(Tables, PulseCombinationsAreBinomials)
{
    for (int r = 0; r < 6; ++r) {
        for (int j = 0; j < 30; ++j) {
            const int n = 29 - j, k = 5 - r;
            double c = (n < k) ? 0 : 1;
            for (int i = 1; n >= k && i <= k; ++i)
                c = c * (n - k + i) / i;
            EXPECT_EQ(PulseCombinationTable[r][j], static_cast<int32_t>(std::lround(c))) << r << "," << j;
        }
    }
    EXPECT_EQ(PulseCombinationTable[0][0], 118755);
    EXPECT_EQ(PulseCombinationTable[4][28], 1);
    EXPECT_EQ(PulseCombinationTable[4][29], 0);
}

TEST(Tables, SharpeningRowsWithoutLagHaveNoGain)
{
    for (int i = 0; i < 170; ++i) {
        if (SharpeningLagTable[i] == 60)
            EXPECT_EQ(SharpeningGainTable[i], 0.0f) << i;
        else
            EXPECT_LE(std::abs(SharpeningLagTable[i]), 2) << i;
    }
    EXPECT_EQ(SharpeningGainTable[1], 0.075958f);
    EXPECT_EQ(SharpeningGainTable[169], 0.549255f);
    EXPECT_EQ(SharpeningLagTable[13], -2);
}

TEST(Tables, FormantWeightsArePowers)
{
    for (int k = 1; k <= 6; ++k)
        EXPECT_EQ(FormantWeightTable[k], static_cast<float>(std::pow(0.135, k))) << k;
}

}  // namespace
}  // namespace mervox
