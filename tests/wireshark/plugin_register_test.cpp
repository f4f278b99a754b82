// plugin_register as Wireshark 4.0 calls it, against stand-ins for the two
// libwsutil functions it uses: what it registers, under which names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <wsutil/codecs.h>

#include "g723_codec.h"

extern "C" {
extern const char plugin_version[];
extern const int plugin_want_major;
extern const int plugin_want_minor;
void plugin_register(void);
}

namespace {

struct Registered {
    std::string name;
    codec_init_fn init;
    codec_release_fn release;
    codec_get_channels_fn channels;
    codec_get_frequency_fn frequency;
    codec_decode_fn decode;
};

std::vector<const codecs_plugin*> plugins;
std::vector<Registered> codecs;

}  // namespace

extern "C" void codecs_register_plugin(const codecs_plugin* plug) { plugins.push_back(plug); }

extern "C" gboolean register_codec(const char* name, codec_init_fn init_fn, codec_release_fn release_fn,
                                   codec_get_channels_fn channels_fn, codec_get_frequency_fn frequency_fn,
                                   codec_decode_fn decode_fn)
{
    codecs.push_back({name, init_fn, release_fn, channels_fn, frequency_fn, decode_fn});
    return TRUE;
}

namespace {

TEST(WiresharkPlugin, AsksForWireshark40AndCarriesTheLibraryVersion)
{
    EXPECT_EQ(plugin_want_major, 4);
    EXPECT_EQ(plugin_want_minor, 0);
    EXPECT_STREQ(plugin_version, MERVOX_PLUGIN_VERSION);
}

TEST(WiresharkPlugin, RegistersTheDecoderUnderBothNamesTheRtpPlayerUses)
{
    plugins.clear();
    codecs.clear();
    plugin_register();
    ASSERT_EQ(plugins.size(), 1u);
    ASSERT_NE(plugins[0]->register_codec_module, nullptr);
    EXPECT_TRUE(codecs.empty()) << "codecs are registered when Wireshark asks, not when loaded";
    plugins[0]->register_codec_module();

    std::vector<std::string> names;
    for (const Registered& codec : codecs) {
        names.push_back(codec.name);
        EXPECT_EQ(codec.init, &mervox_ws_codec_init);
        EXPECT_EQ(codec.release, &mervox_ws_codec_release);
        EXPECT_EQ(codec.decode, &mervox_ws_codec_decode);
        void* context = codec.init();
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(codec.channels(context), 1u);
        EXPECT_EQ(codec.frequency(context), 8000u);
        codec.release(context);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"g723", "G723"}));
}

}  // namespace
