/**
 * SECTION:element-mervoxdec
 * @title: mervoxdec
 * @see_also: mervoxparse, rtpg723depay
 *
 * Decodes G.723.1 speech (6.3 and 5.3 kbit/s) into 16-bit PCM at 8 kHz:
 * audio/G723 buffers, one or more frames back to back as rtpg723depay or
 * mervoxparse hand them over, give 240 samples for every 30 ms frame.
 * Silence-descriptor and untransmitted frames are concealed as lost frames.
 *
 * Output buffers hold at most 100 frames (3 s): a buffer of more frames is
 * decoded and pushed in pieces, so no input buffer, however large, asks for
 * more than 48,000 bytes of output at a time.
 *
 * With #GstAudioDecoder:plc (on by default here) time missing from the
 * input (GAP events, DISCONT buffers whose timestamp jumps) is filled with
 * concealed frames, so the output keeps the stream's timeline. A gap gives
 * at most 60 s of concealment between two buffers of frames, however it is
 * announced; time already produced is not concealed twice.
 *
 * ## Example pipelines
 * |[
 * gst-launch-1.0 udpsrc port=5004 \
 *     caps="application/x-rtp,media=audio,clock-rate=8000,encoding-name=G723,payload=4" \
 *   ! rtpjitterbuffer do-lost=true ! rtpg723depay ! mervoxdec ! audioconvert ! autoaudiosink
 * ]| Plays an RTP stream received on UDP port 5004, lost packets concealed.
 * |[
 * gst-launch-1.0 filesrc location=call.bit ! mervoxparse ! mervoxdec \
 *   ! audioconvert ! wavenc ! filesink location=call.wav
 * ]| Decodes a raw stream file to WAV.
 */
#include "gstmervoxdec.h"

#include <gst/audio/audio.h>

#include "mervox.h"

GST_DEBUG_CATEGORY_STATIC(mervox_dec_debug);
#define GST_CAT_DEFAULT mervox_dec_debug

#define FRAME_DURATION (30 * GST_MSECOND)
#define FRAME_PCM_BYTES (MERVOX_FRAME_SAMPLES * sizeof(gint16))
/* A gap longer than 60 s is a sender that stopped or restarted its clock,
 * not lost speech: it is concealed with 60 s of frames, as mervox pcap does,
 * instead of hours of them. That is the most concealed between two buffers
 * of frames, however the missing time is announced (one GAP event, many, a
 * timestamp jump after them). */
#define MAX_GAP_FRAMES 2000
/* Output buffers hold at most this many frames (3 s, 48,000 bytes). A
 * buffer of more frames is decoded and pushed in pieces: one input byte (an
 * untransmitted frame) is worth 480 bytes of audio, so output in one piece
 * would let any large buffer ask for a huge allocation. The frames of a
 * full-size RTP packet (about 60) fit in one piece. */
#define MAX_OUTPUT_FRAMES 100
/* The rate assumed for frames lost before the first frame arrives. */
#define RATE_SELECTOR MERVOX_RATE_SELECT_6300
#define DEFAULT_PLC TRUE

struct _GstMervoxDec {
    GstAudioDecoder parent;

    mervox_decoder* decoder;
    GstCaps* input_caps;   /* caps of the current stream: other caps start a new one */
    GstClockTime next_pts; /* where the audio produced so far ends; NONE if unknown */
    guint gap_frames;      /* frames concealed since the last buffer of frames */
};

enum { PROP_0, PROP_PLC };

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/G723, rate = (int) 8000, channels = (int) 1"));

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) " GST_AUDIO_NE(S16) ", layout = (string) interleaved, "
                                                                        "rate = (int) 8000, channels = (int) 1"));

G_DEFINE_TYPE(GstMervoxDec, gst_mervox_dec, GST_TYPE_AUDIO_DECODER);
GST_ELEMENT_REGISTER_DEFINE(mervoxdec, "mervoxdec", GST_RANK_PRIMARY, GST_TYPE_MERVOX_DEC);

/* Starts a new stream: fresh decoder state, no timeline yet. */
static void start_stream(GstMervoxDec* self)
{
    if (self->decoder)
        mervox_decoder_reset(self->decoder, RATE_SELECTOR);
    self->next_pts = GST_CLOCK_TIME_NONE;
    self->gap_frames = 0;
}

/* Whole frames in `duration`, to the nearest frame, at most MAX_GAP_FRAMES. */
static guint frames_in(GstClockTime duration)
{
    const guint64 frames = duration / FRAME_DURATION + (duration % FRAME_DURATION >= FRAME_DURATION / 2);
    return (guint)MIN(frames, (guint64)MAX_GAP_FRAMES);
}

static gboolean gst_mervox_dec_start(GstAudioDecoder* dec)
{
    GstMervoxDec* self = GST_MERVOX_DEC(dec);
    int error = MERVOX_OK;
    self->decoder = mervox_decoder_create(RATE_SELECTOR, &error);
    if (!self->decoder) {
        GST_ELEMENT_ERROR(self, LIBRARY, INIT, ("Could not create a G.723.1 decoder."), ("%s", mervox_strerror(error)));
        return FALSE;
    }
    start_stream(self);
    /* Set here: the base class clears it when it starts. */
    gst_audio_decoder_set_plc_aware(dec, TRUE);
    return TRUE;
}

static gboolean gst_mervox_dec_stop(GstAudioDecoder* dec)
{
    GstMervoxDec* self = GST_MERVOX_DEC(dec);
    mervox_decoder_destroy(self->decoder);
    self->decoder = NULL;
    gst_caps_replace(&self->input_caps, NULL);
    return TRUE;
}

static gboolean gst_mervox_dec_set_format(GstAudioDecoder* dec, GstCaps* caps)
{
    GstMervoxDec* self = GST_MERVOX_DEC(dec);
    if (self->input_caps && !gst_caps_is_equal(self->input_caps, caps)) {
        GST_DEBUG_OBJECT(self, "new caps %" GST_PTR_FORMAT ": new stream", (void*)caps);
        start_stream(self);
    }
    gst_caps_replace(&self->input_caps, caps);

    GstAudioInfo info;
    gst_audio_info_init(&info);
    gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16, MERVOX_SAMPLE_RATE, 1, NULL);
    return gst_audio_decoder_set_output_format(dec, &info);
}

static gboolean gst_mervox_dec_sink_event(GstAudioDecoder* dec, GstEvent* event)
{
    if (GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START) {
        GST_DEBUG_OBJECT(dec, "stream start: new stream");
        start_stream(GST_MERVOX_DEC(dec));
    }
    return GST_AUDIO_DECODER_CLASS(gst_mervox_dec_parent_class)->sink_event(dec, event);
}

/* A DISCONT buffer only marks lost input; the decoder state carries the
 * concealment across it. A flush starts over. */
static void gst_mervox_dec_flush(GstAudioDecoder* dec, gboolean hard)
{
    if (hard)
        start_stream(GST_MERVOX_DEC(dec));
}

/* A malformed buffer: counted against max-errors as GStreamer's decoders
 * do (an error once there are too many), posted as a warning until then. */
static GstFlowReturn report_malformed(GstMervoxDec* self, const gchar* text, gchar* debug)
{
    GstFlowReturn ret;
    GST_AUDIO_DECODER_ERROR(self, 1, STREAM, DECODE, ("%s", text), ("%s", debug), ret);
    if (ret == GST_FLOW_OK)
        GST_ELEMENT_WARNING(self, STREAM, DECODE, ("%s", text), ("%s", debug));
    g_free(debug);
    return ret;
}

/* What one buffer of frames holds and what is wrong with it. */
typedef struct {
    guint frames;           /* frames, a truncated one at the end included */
    guint faulty;           /* speech frames with impossible codes (concealed by the decoder) */
    gsize truncated_bytes;  /* bytes of a truncated last frame (concealed), 0 if none */
    gsize truncated_length; /* the length its type announces */
} FrameReport;

/* Frames back to back, each as long as its first byte's type bits say. */
static FrameReport count_frames(const guint8* data, gsize size)
{
    FrameReport report = {0, 0, 0, 0};
    gsize at = 0;
    while (at < size) {
        const gsize length = mervox_frame_bytes(data[at]);
        report.frames++;
        if (length > size - at) {
            report.truncated_bytes = size - at;
            report.truncated_length = length;
            break;
        }
        if (mervox_frame_is_speech(data[at]) && mervox_frame_faults(data + at, length) > 0)
            report.faulty++;
        at += length;
    }
    return report;
}

/* Pushes `frames` frames of audio in pieces of at most MAX_OUTPUT_FRAMES:
 * the frames of `data` (silence-descriptor and untransmitted frames and a
 * truncated last frame concealed), or lost frames if `data` is NULL. The
 * input buffer stays the base class's current one until
 * gst_audio_decoder_finish_subframe(dec, NULL) releases it. */
static GstFlowReturn push_frames(GstMervoxDec* self, const guint8* data, gsize size, guint frames)
{
    GstAudioDecoder* dec = GST_AUDIO_DECODER(self);
    GstFlowReturn ret = GST_FLOW_OK;
    gsize at = 0;
    for (guint done = 0; done < frames && ret == GST_FLOW_OK;) {
        const guint piece = MIN(frames - done, MAX_OUTPUT_FRAMES);
        GstBuffer* out = gst_audio_decoder_allocate_output_buffer(dec, piece * FRAME_PCM_BYTES);
        GstMapInfo map;
        if (!out || !gst_buffer_map(out, &map, GST_MAP_WRITE)) {
            gst_clear_buffer(&out);
            GST_ELEMENT_ERROR(self, RESOURCE, WRITE, (NULL), ("could not allocate an output buffer"));
            ret = GST_FLOW_ERROR;
            break;
        }
        gint16* pcm = (gint16*)(void*)map.data;
        for (guint k = 0; k < piece; ++k, pcm += MERVOX_FRAME_SAMPLES) {
            const gsize length = data ? mervox_frame_bytes(data[at]) : 0;
            if (data && length <= size - at && mervox_frame_is_speech(data[at]))
                mervox_decode(self->decoder, data + at, length, pcm);
            else
                mervox_conceal(self->decoder, pcm);
            at += length;
        }
        gst_buffer_unmap(out, &map);
        done += piece;
        ret = gst_audio_decoder_finish_subframe(dec, out);
    }
    return ret;
}

/* Ends the input buffer's turn once its audio was pushed with result
 * `pushed`; the base class frees the buffer. */
static GstFlowReturn finish_input(GstMervoxDec* self, GstFlowReturn pushed)
{
    const GstFlowReturn finished = gst_audio_decoder_finish_subframe(GST_AUDIO_DECODER(self), NULL);
    return pushed != GST_FLOW_OK ? pushed : finished;
}

/* Decodes a buffer of G.723.1 frames; a malformed one is reported first
 * (and nothing of it is decoded if that stops the stream). */
static GstFlowReturn decode_buffer(GstMervoxDec* self, GstBuffer* in, guint* frames)
{
    GstMapInfo map;
    if (!gst_buffer_map(in, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, (NULL), ("could not map the input buffer"));
        return GST_FLOW_ERROR;
    }
    const FrameReport report = count_frames(map.data, map.size);
    GstFlowReturn ret = GST_FLOW_OK;
    if (report.truncated_bytes > 0) {
        ret =
            report_malformed(self, "Truncated G.723.1 frame, concealed.",
                             g_strdup_printf("buffer of %" G_GSIZE_FORMAT " bytes ends in %" G_GSIZE_FORMAT
                                             " of the %" G_GSIZE_FORMAT " bytes of frame %u",
                                             map.size, report.truncated_bytes, report.truncated_length, report.frames));
    } else if (report.faulty > 0) {
        ret = report_malformed(
            self, "Damaged G.723.1 frame, concealed.",
            g_strdup_printf("%u of the %u frames in a buffer of %" G_GSIZE_FORMAT " bytes hold impossible codes",
                            report.faulty, report.frames, map.size));
    }
    if (ret != GST_FLOW_OK) {
        gst_buffer_unmap(in, &map);
        return ret;
    }
    ret = push_frames(self, map.data, map.size, report.frames);
    gst_buffer_unmap(in, &map);
    *frames = report.frames;
    return finish_input(self, ret);
}

static GstFlowReturn gst_mervox_dec_handle_frame(GstAudioDecoder* dec, GstBuffer* in)
{
    GstMervoxDec* self = GST_MERVOX_DEC(dec);
    if (!in)
        return GST_FLOW_OK; /* draining: nothing is held back */

    const GstClockTime pts = GST_BUFFER_PTS(in);
    guint frames = 0;
    GstFlowReturn ret;
    if (gst_buffer_get_size(in) == 0) {
        /* The base class's stand-in for a GAP event: conceal the part of it
         * that was not produced already. */
        const GstClockTime duration = GST_BUFFER_DURATION(in);
        if (GST_CLOCK_TIME_IS_VALID(duration)) {
            const GstClockTime end = GST_CLOCK_TIME_IS_VALID(pts) && duration < GST_CLOCK_TIME_NONE - pts
                                         ? pts + duration
                                         : GST_CLOCK_TIME_NONE;
            if (GST_CLOCK_TIME_IS_VALID(end) && GST_CLOCK_TIME_IS_VALID(self->next_pts) && pts < self->next_pts)
                frames = end > self->next_pts ? frames_in(end - self->next_pts) : 0;
            else
                frames = frames_in(duration);
            frames = MIN(frames, MAX_GAP_FRAMES - self->gap_frames);
            self->gap_frames += frames;
        }
        GST_DEBUG_OBJECT(self, "gap of %" GST_TIME_FORMAT " at %" GST_TIME_FORMAT ": %u lost frames",
                         GST_TIME_ARGS(duration), GST_TIME_ARGS(pts), frames);
        ret = finish_input(self, push_frames(self, NULL, 0, frames));
        if (GST_CLOCK_TIME_IS_VALID(self->next_pts) && (!GST_CLOCK_TIME_IS_VALID(pts) || pts < self->next_pts))
            self->next_pts += frames * FRAME_DURATION;
        else if (GST_CLOCK_TIME_IS_VALID(pts))
            self->next_pts = pts + frames * FRAME_DURATION;
    } else {
        ret = decode_buffer(self, in, &frames);
        if (ret != GST_FLOW_OK)
            return ret;
        self->gap_frames = 0;
        if (GST_CLOCK_TIME_IS_VALID(pts))
            self->next_pts = pts + frames * FRAME_DURATION;
        else if (GST_CLOCK_TIME_IS_VALID(self->next_pts))
            self->next_pts += frames * FRAME_DURATION;
    }
    return ret;
}

/* Time missing before a DISCONT buffer or a GAP event (a jump of at least
 * half a frame past the audio produced so far) becomes a GAP event of its
 * own, sent ahead of it. The base class turns it into concealment stamped
 * at the missing time; concealing it with the buffer's own frames would
 * place it after the jump. */
static GstPadProbeReturn fill_skipped_time(GstPad* pad, GstPadProbeInfo* info, gpointer user_data)
{
    GstMervoxDec* self = GST_MERVOX_DEC(user_data);
    GstClockTime start = GST_CLOCK_TIME_NONE;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (GST_BUFFER_IS_DISCONT(buffer))
            start = GST_BUFFER_PTS(buffer);
    } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_GAP) {
        gst_event_parse_gap(GST_PAD_PROBE_INFO_EVENT(info), &start, NULL);
    }
    if (!GST_CLOCK_TIME_IS_VALID(start) || !GST_CLOCK_TIME_IS_VALID(self->next_pts) ||
        start < self->next_pts + FRAME_DURATION / 2 || !gst_audio_decoder_get_plc(GST_AUDIO_DECODER(self)))
        return GST_PAD_PROBE_OK;

    GST_DEBUG_OBJECT(self, "%" GST_TIME_FORMAT " missing before %" GST_TIME_FORMAT,
                     GST_TIME_ARGS(start - self->next_pts), GST_TIME_ARGS(start));
    gst_pad_send_event(pad, gst_event_new_gap(self->next_pts, start - self->next_pts));
    return GST_PAD_PROBE_OK;
}

static void gst_mervox_dec_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    switch (id) {
    case PROP_PLC:
        gst_audio_decoder_set_plc(GST_AUDIO_DECODER(object), g_value_get_boolean(value));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

static void gst_mervox_dec_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    switch (id) {
    case PROP_PLC:
        g_value_set_boolean(value, gst_audio_decoder_get_plc(GST_AUDIO_DECODER(object)));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

static void gst_mervox_dec_class_init(GstMervoxDecClass* klass)
{
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstAudioDecoderClass* decoder_class = GST_AUDIO_DECODER_CLASS(klass);

    object_class->set_property = gst_mervox_dec_set_property;
    object_class->get_property = gst_mervox_dec_get_property;
    /* The base class's "plc", on by default here: lost packets become
     * concealed speech rather than holes in the audio. */
    g_object_class_install_property(
        object_class, PROP_PLC,
        g_param_spec_boolean("plc", "Packet loss concealment",
                             "Conceal lost time (GAP events, timestamp jumps) with lost frames", DEFAULT_PLC,
                             G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS));

    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "G.723.1 audio decoder", "Codec/Decoder/Audio",
                                          "Decodes G.723.1 speech (6.3 and 5.3 kbit/s) with mervox", "mervox");

    decoder_class->start = GST_DEBUG_FUNCPTR(gst_mervox_dec_start);
    decoder_class->stop = GST_DEBUG_FUNCPTR(gst_mervox_dec_stop);
    decoder_class->set_format = GST_DEBUG_FUNCPTR(gst_mervox_dec_set_format);
    decoder_class->sink_event = GST_DEBUG_FUNCPTR(gst_mervox_dec_sink_event);
    decoder_class->flush = GST_DEBUG_FUNCPTR(gst_mervox_dec_flush);
    decoder_class->handle_frame = GST_DEBUG_FUNCPTR(gst_mervox_dec_handle_frame);

    GST_DEBUG_CATEGORY_INIT(mervox_dec_debug, "mervoxdec", 0, "G.723.1 decoder");
}

static void gst_mervox_dec_init(GstMervoxDec* self)
{
    GstAudioDecoder* dec = GST_AUDIO_DECODER(self);
    gst_audio_decoder_set_plc(dec, DEFAULT_PLC);
    gst_audio_decoder_set_needs_format(dec, TRUE);
    self->next_pts = GST_CLOCK_TIME_NONE;
    gst_pad_add_probe(dec->sinkpad, GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, fill_skipped_time,
                      self, NULL);
}
