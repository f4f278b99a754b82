/* mervoxdec: decodes G.723.1 frames (audio/G723) into 16-bit PCM at 8 kHz. */
#ifndef MERVOX_GST_GSTMERVOXDEC_H
#define MERVOX_GST_GSTMERVOXDEC_H

#include <gst/audio/gstaudiodecoder.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_MERVOX_DEC (gst_mervox_dec_get_type())
G_DECLARE_FINAL_TYPE(GstMervoxDec, gst_mervox_dec, GST, MERVOX_DEC, GstAudioDecoder)

GST_ELEMENT_REGISTER_DECLARE(mervoxdec);

G_END_DECLS

#endif /* MERVOX_GST_GSTMERVOXDEC_H */
