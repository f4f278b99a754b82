/**
 * SECTION:element-mervoxparse
 * @title: mervoxparse
 * @see_also: mervoxdec
 *
 * Cuts a raw G.723.1 stream (frames back to back, as `mervox decode` reads
 * them) into one buffer per frame, 30 ms each, for mervoxdec. Each frame is
 * as long as its first byte's two low bits say: 24, 20, 4 or 1 bytes. A
 * truncated last frame is left out with a warning, as `mervox decode` does.
 *
 * Seeking: the format has no sync word and its frames differ in length, so
 * neither a byte position nor a bitrate leads to a frame. A seek (in time,
 * forwards) restarts the stream at its first byte and hands every frame
 * before the target on to mervoxdec, which decodes them and drops their
 * audio: the decoder's state at the target (its concealment noise included)
 * depends on every frame before it, so the audio after a seek is the
 * stream's own from the target on, sample for sample. The cost grows with
 * the target: about 0.9 s of processor time per hour of stream before it.
 * Seeks in bytes and reverse playback are refused.
 *
 * ## Example pipelines
 * |[
 * gst-launch-1.0 filesrc location=call.bit ! mervoxparse ! mervoxdec \
 *   ! audioconvert ! wavenc ! filesink location=call.wav
 * ]| Decodes a stream file to WAV.
 * |[
 * gst-launch-1.0 filesrc location=call.bit ! mervoxparse ! mervoxdec \
 *   ! audioconvert ! autoaudiosink
 * ]| Plays a stream file.
 */
#include "gstmervoxparse.h"

#include "mervox.h"

GST_DEBUG_CATEGORY_STATIC(mervox_parse_debug);
#define GST_CAT_DEFAULT mervox_parse_debug

struct _GstMervoxParse {
    GstBaseParse parent;
    gboolean caps_set;
};

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/G723, rate = (int) 8000, channels = (int) 1"));

static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("audio/G723, rate = (int) 8000, channels = (int) 1, "
                                            "parsed = (boolean) true"));

G_DEFINE_TYPE(GstMervoxParse, gst_mervox_parse, GST_TYPE_BASE_PARSE);
GST_ELEMENT_REGISTER_DEFINE(mervoxparse, "mervoxparse", GST_RANK_NONE, GST_TYPE_MERVOX_PARSE);

static gboolean gst_mervox_parse_start(GstBaseParse* parse)
{
    GST_MERVOX_PARSE(parse)->caps_set = FALSE;
    gst_base_parse_set_min_frame_size(parse, 1);
    /* 100/3 frames a second: 30 ms each. Every frame from the start of the
     * stream is needed to decode the first frame of a segment (the lead-in:
     * as many frames as the base class can count, 497 days of them). */
    gst_base_parse_set_frame_rate(parse, 100, 3, G_MAXUINT / 3, 0);
    return TRUE;
}

static GstFlowReturn gst_mervox_parse_handle_frame(GstBaseParse* parse, GstBaseParseFrame* frame, gint* skipsize)
{
    GstMervoxParse* self = GST_MERVOX_PARSE(parse);
    GstMapInfo map;
    if (!gst_buffer_map(frame->buffer, &map, GST_MAP_READ))
        return GST_FLOW_ERROR;
    const gsize available = map.size;
    const gsize length = available > 0 ? mervox_frame_bytes(map.data[0]) : 1;
    gst_buffer_unmap(frame->buffer, &map);

    if (available < length) {
        if (GST_BASE_PARSE_DRAINING(parse)) {
            GST_ELEMENT_WARNING(
                self, STREAM, DECODE, ("Truncated last G.723.1 frame, left out."),
                ("%" G_GSIZE_FORMAT " of its %" G_GSIZE_FORMAT " bytes at the end of the stream", available, length));
            *skipsize = (gint)available;
        } else {
            gst_base_parse_set_min_frame_size(parse, (guint)length);
        }
        return GST_FLOW_OK;
    }
    gst_base_parse_set_min_frame_size(parse, 1);

    if (!self->caps_set) {
        GstCaps* caps = gst_static_pad_template_get_caps(&src_template);
        const gboolean set = gst_pad_set_caps(GST_BASE_PARSE_SRC_PAD(parse), caps);
        gst_caps_unref(caps);
        if (!set)
            return GST_FLOW_NOT_NEGOTIATED;
        self->caps_set = TRUE;
    }
    return gst_base_parse_finish_frame(parse, frame, (gint)length);
}

/* Every seek is made accurate: the base class then restarts from the
 * lead-in (the first byte) and drops nothing before the target. An inexact
 * seek would instead guess a byte position from the bitrate (or bisect the
 * file), and any byte can pass for the start of a frame. */
static gboolean gst_mervox_parse_src_event(GstBaseParse* parse, GstEvent* event)
{
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
        gdouble rate;
        GstFormat format;
        GstSeekFlags flags;
        GstSeekType start_type, stop_type;
        gint64 start, stop;
        gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
        if (rate < 0.0 || format == GST_FORMAT_BYTES) {
            GST_DEBUG_OBJECT(parse, "refusing a seek in %s at rate %g", gst_format_get_name(format), rate);
            gst_event_unref(event);
            return FALSE;
        }
        GstEvent* accurate =
            gst_event_new_seek(rate, format, flags | GST_SEEK_FLAG_ACCURATE, start_type, start, stop_type, stop);
        gst_event_set_seqnum(accurate, gst_event_get_seqnum(event));
        gst_event_unref(event);
        event = accurate;
    }
    return GST_BASE_PARSE_CLASS(gst_mervox_parse_parent_class)->src_event(parse, event);
}

static void gst_mervox_parse_class_init(GstMervoxParseClass* klass)
{
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseParseClass* parse_class = GST_BASE_PARSE_CLASS(klass);

    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "G.723.1 stream parser", "Codec/Parser/Audio",
                                          "Splits a raw G.723.1 stream into 30 ms frames", "mervox");
    parse_class->start = GST_DEBUG_FUNCPTR(gst_mervox_parse_start);
    parse_class->handle_frame = GST_DEBUG_FUNCPTR(gst_mervox_parse_handle_frame);
    parse_class->src_event = GST_DEBUG_FUNCPTR(gst_mervox_parse_src_event);

    GST_DEBUG_CATEGORY_INIT(mervox_parse_debug, "mervoxparse", 0, "G.723.1 stream parser");
}

static void gst_mervox_parse_init(GstMervoxParse* self) { self->caps_set = FALSE; }
