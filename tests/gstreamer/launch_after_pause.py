#!/usr/bin/python3
"""Runs a gst-launch-1.0 pipeline (the same arguments) as a slow machine may:
the pipeline stays PAUSED for PAUSE seconds (its sources already stream)
before it is set to PLAYING, then runs to its end.

    launch_after_pause.py [-q] [-e] PIPELINE...      (MERVOX_GST_PAUSE=1.0)

Exit status 0 at end of stream, 1 on an error message or after 60 s.
"""
import os
import sys
import time

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402


def main():
    args = [a for a in sys.argv[1:] if a not in ("-q", "-e")]
    Gst.init(None)
    pipeline = Gst.parse_launchv(args)
    pipeline.set_state(Gst.State.PAUSED)
    time.sleep(float(os.environ.get("MERVOX_GST_PAUSE", "1.0")))
    pipeline.set_state(Gst.State.PLAYING)
    message = pipeline.get_bus().timed_pop_filtered(60 * Gst.SECOND,
                                                    Gst.MessageType.EOS | Gst.MessageType.ERROR)
    pipeline.set_state(Gst.State.NULL)
    if message is None:
        sys.exit("launch_after_pause: no end of stream after 60 s")
    if message.type == Gst.MessageType.ERROR:
        error, debug = message.parse_error()
        sys.exit("launch_after_pause: %s (%s)" % (error.message, debug))


if __name__ == "__main__":
    main()
