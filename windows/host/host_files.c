#include "host_files.h"

#include <stdio.h>
#include <stdlib.h>

int ReadWholeFile(const char* path, Buffer* buffer)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        return 0;
    buffer->bytes = NULL;
    buffer->size = 0;
    size_t capacity = 0;
    int ok = 1;
    for (;;) {
        if (buffer->size == capacity) {
            capacity = capacity ? 2 * capacity : 65536;
            uint8_t* grown = (uint8_t*)realloc(buffer->bytes, capacity);
            if (!grown) {
                ok = 0;
                break;
            }
            buffer->bytes = grown;
        }
        size_t got = fread(buffer->bytes + buffer->size, 1, capacity - buffer->size, f);
        buffer->size += got;
        if (got == 0)
            break;
    }
    ok = ok && !ferror(f);
    fclose(f);
    return ok;
}
