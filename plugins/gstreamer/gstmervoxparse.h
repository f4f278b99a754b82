/* mervoxparse: splits a G.723.1 stream file into frames (audio/G723). */
#ifndef MERVOX_GST_GSTMERVOXPARSE_H
#define MERVOX_GST_GSTMERVOXPARSE_H

#include <gst/base/gstbaseparse.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_MERVOX_PARSE (gst_mervox_parse_get_type())
G_DECLARE_FINAL_TYPE(GstMervoxParse, gst_mervox_parse, GST, MERVOX_PARSE, GstBaseParse)

GST_ELEMENT_REGISTER_DECLARE(mervoxparse);

G_END_DECLS

#endif /* MERVOX_GST_GSTMERVOXPARSE_H */
