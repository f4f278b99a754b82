/* Preloaded into the mervox command by a test: every allocation of 64 KiB
 * or more fails, as when memory runs out, while the small ones the C++
 * runtime needs to start still succeed. */
#include <errno.h>
#include <stddef.h>

extern void* __libc_malloc(size_t size);

void* malloc(size_t size)
{
    if (size >= 65536) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_malloc(size);
}
