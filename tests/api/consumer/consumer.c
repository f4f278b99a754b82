/* Decodes a stream file with a mervox_decoder and prints
 * "<frames> <FNV-1a 64 of the samples>" (types 2 and 3 concealed). */
#include <stdio.h>
#include <stdlib.h>

#include <mervox.h>

int main(int argc, char** argv)
{
    static unsigned char stream[1 << 20];
    FILE* in;
    size_t size, offset = 0, frames = 0;
    unsigned long long hash = 0xcbf29ce484222325ull;
    int16_t pcm[MERVOX_FRAME_SAMPLES];
    int error = -100, i;
    mervox_decoder* decoder;

    if (argc != 2 || !(in = fopen(argv[1], "rb")))
        return 2;
    size = fread(stream, 1, sizeof stream, in);
    fclose(in);
    decoder = mervox_decoder_create(MERVOX_RATE_SELECT_6300, &error);
    if (!decoder || error != MERVOX_OK)
        return 3;
    while (offset < size && offset + mervox_frame_bytes(stream[offset]) <= size) {
        const size_t length = mervox_frame_bytes(stream[offset]);
        const int type = stream[offset] & 3;
        const int speech = type == MERVOX_FRAME_6300 || type == MERVOX_FRAME_5300;
        const int r = speech ? mervox_decode(decoder, stream + offset, length, pcm) : mervox_conceal(decoder, pcm);
        if (r < 0)
            return 4;
        for (i = 0; i < MERVOX_FRAME_SAMPLES; ++i) {
            const unsigned short u = (unsigned short)pcm[i];
            hash = (hash ^ (u & 0xff)) * 0x100000001b3ull;
            hash = (hash ^ (u >> 8)) * 0x100000001b3ull;
        }
        offset += length;
        ++frames;
    }
    mervox_decoder_destroy(decoder);
    printf("%zu %016llx\n", frames, hash);
    return 0;
}
