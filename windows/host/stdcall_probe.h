/* Calls a function the way a 32-bit Windows host compiled by another
 * compiler may: arguments pushed right to left on a stack that is only
 * 4-byte aligned (the callee is entered with esp a multiple of 16, where gcc
 * would have left esp + 4 a multiple of 16). Reports how many bytes of
 * arguments the callee left on the stack: 0 for a stdcall function, which
 * removes its own arguments. */
#ifndef MERVOX_STDCALL_PROBE_H
#define MERVOX_STDCALL_PROBE_H

#include <stdint.h>

/* Returns the callee's eax. args[0] is the first argument. */
uint32_t ProbeStdcall(const void* function, const uint32_t* args, uint32_t argCount, int32_t* bytesLeft);

#endif
