/* The mervox GStreamer plugin: G.723.1 decoding for media pipelines. */
#include <gst/gst.h>

#include "gstmervoxdec.h"
#include "gstmervoxparse.h"

/* The plugin's source module, as GST_PLUGIN_DEFINE expects it. */
#define PACKAGE "mervox"

static gboolean plugin_init(GstPlugin* plugin)
{
    gboolean registered = GST_ELEMENT_REGISTER(mervoxdec, plugin);
    registered &= GST_ELEMENT_REGISTER(mervoxparse, plugin);
    return registered;
}

/* GStreamer's descriptor leaves its padding to the compiler. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, mervox, "G.723.1 speech decoding with mervox", plugin_init,
                  MERVOX_GST_VERSION, MERVOX_GST_LICENSE, "mervox", MERVOX_GST_ORIGIN)
#pragma GCC diagnostic pop
