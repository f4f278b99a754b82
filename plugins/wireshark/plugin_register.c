/* Wireshark 4.0 loads this module from its "codecs" plugin folder, checks
 * plugin_want_major/minor against its own version, and calls
 * plugin_register. */
#include <glib.h>

#include <ws_symbol_export.h>
#include <ws_version.h>
#include <wsutil/codecs.h>

#include "g723_codec.h"

/* Wireshark 4.2 changed the codec callbacks (they take a codec context
 * record); this module is written against 4.0's. */
#if WIRESHARK_VERSION_MAJOR != 4 || WIRESHARK_VERSION_MINOR != 0
#error "the mervox codec plugin is written for Wireshark 4.0's codec interface"
#endif

#ifndef MERVOX_PLUGIN_VERSION
#error "MERVOX_PLUGIN_VERSION must be defined by the build"
#endif

WS_DLL_PUBLIC_DEF const gchar plugin_version[] = MERVOX_PLUGIN_VERSION;
WS_DLL_PUBLIC_DEF const int plugin_want_major = WIRESHARK_VERSION_MAJOR;
WS_DLL_PUBLIC_DEF const int plugin_want_minor = WIRESHARK_VERSION_MINOR;

WS_DLL_PUBLIC void plugin_register(void);

/* The RTP player looks codecs up by name, case-sensitively: "g723" for
 * static payload type 4, the SDP rtpmap name "G723" for a dynamic one. */
static void register_g723_codecs(void)
{
    static const char* const names[] = {"g723", "G723"};
    for (size_t k = 0; k < sizeof names / sizeof names[0]; ++k)
        register_codec(names[k], mervox_ws_codec_init, mervox_ws_codec_release, mervox_ws_codec_get_channels,
                       mervox_ws_codec_get_frequency, mervox_ws_codec_decode);
}

void plugin_register(void)
{
    static const codecs_plugin plugin = {register_g723_codecs};
    codecs_register_plugin(&plugin);
}
