/* Files of the Windows test hosts: a whole stream or mask read into memory
 * (also from a pipe, whose size is not known beforehand). */
#ifndef MERVOX_HOST_FILES_H
#define MERVOX_HOST_FILES_H

#include <stddef.h>
#include <stdint.h>

typedef struct {
    uint8_t* bytes; /* malloc'ed; the caller frees it */
    size_t size;
} Buffer;

/* Reads the file at path into buffer; 0 on failure. */
int ReadWholeFile(const char* path, Buffer* buffer);

#endif
